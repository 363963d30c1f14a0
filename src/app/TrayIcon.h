#pragma once

#include <QObject>
#include <QSystemTrayIcon>

#include <memory>

class QMenu;

/// \brief The product tile in the desktop's system tray, where there is one: a click shows the
/// window, the menu offers the window and quitting.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    explicit TrayIcon(const QIcon &icon, QObject *parent = nullptr);
    ~TrayIcon() override;

    void hide();

signals:
    void showWindowRequested();
    void quitRequested();

private:
    void handleTrayActivated(QSystemTrayIcon::ActivationReason reason);

    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon m_tray;
};
