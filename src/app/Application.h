#pragma once

#include "session/SessionDependencies.h"

#include <QObject>
#include <QUuid>

#include <functional>
#include <memory>

class ContentView;
class ControlService;
class MainWindow;
class NotificationClient;
class Preferences;
class QuitController;
class SingleInstance;
class TrayIcon;
class TunnelNotifier;
class TunnelStore;

/// \brief Owns the one store, the main window, the menu bar and the tray icon for the life of
/// the process, and routes every quit through the orderly shutdown of the tunnels.
class Application : public QObject
{
    Q_OBJECT

public:
    /// Creates the store over \a preferences, which must outlive the delegate.
    explicit Application(Preferences *preferences, SessionDependencies dependencies = {}, QObject *parent = nullptr);
    ~Application() override;

    /// The whole program: single instance, migration, delegate, window, event loop. \a ready, when
    /// given, runs once the window is up (tests use it to start tunnels in a real program).
    static int main(int argc, char **argv, const std::function<void(Application &)> &ready = {},
        const SessionDependencies &dependencies = {});
    /// `<configuration directory>/orvanta/orvanta.conf`.
    static QString settingsPath();

    TunnelStore *store() const { return m_store.get(); }
    QuitController *quitController() const { return m_quit.get(); }
    /// Absent until the first showMainWindow().
    MainWindow *mainWindow() const { return m_mainWindow.get(); }
    /// Absent without a system tray.
    TrayIcon *trayIcon() const { return m_tray.get(); }

    /// Creates the window on the first call; brings it forward on every call.
    void showMainWindow();
    void installMainMenu(MainWindow *window);
    /// Only where the desktop offers a system tray.
    void installTrayIcon();
    /// Lets the command line list, start and stop services through \a instance's socket, and stops
    /// \a instance from handing later starts over once quitting has begun.
    void serveCommandLine(SingleInstance &instance);

private:
    void handleQuitStarted();
    void handleNoticeActivated(const QUuid &id);

    Preferences *m_preferences;
    std::unique_ptr<TunnelStore> m_store;
    std::unique_ptr<QuitController> m_quit;
    std::unique_ptr<MainWindow> m_mainWindow;
    std::unique_ptr<TrayIcon> m_tray;
    std::unique_ptr<ControlService> m_control;
    SingleInstance *m_instance = nullptr;
    std::unique_ptr<NotificationClient> m_notificationClient;
    std::unique_ptr<TunnelNotifier> m_notifier;
};
