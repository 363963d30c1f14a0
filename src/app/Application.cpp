#include "app/Application.h"

#include "app/CommandLine.h"
#include "app/ControlService.h"
#include "app/MainMenu.h"
#include "app/MainWindow.h"
#include "app/ProgramIcon.h"
#include "app/QuitController.h"
#include "app/SingleInstance.h"
#include "app/TrayIcon.h"
#include "app/UnixSignalWatcher.h"
#include "app/notify/NotificationClient.h"
#include "app/notify/TunnelNotifier.h"
#include "base/DurableFile.h"
#include "base/LogFile.h"
#include "base/Logging.h"
#include "base/Resources.h"
#include "legal/LegalNoticeView.h"
#include "session/RuntimeParent.h"
#include "session/TunnelSession.h"
#include "store/LegacySettingsMigrator.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"
#include "ui/ContentView.h"
#include "ui/style/Theme.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
bool hasDisplay(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "-platform") == 0)
            return true;
    }
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QStringList argumentsOf(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

QList<TunnelSession *> sessionsOf(const TunnelStore *store)
{
    return { store->sessions().cbegin(), store->sessions().cend() };
}
} // namespace

Application::Application(Preferences *preferences, SessionDependencies dependencies, QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
    , m_store(std::make_unique<TunnelStore>(preferences, std::move(dependencies)))
{
    TunnelStore *store = m_store.get();
    // Every way out passes here, so the changes of the last moments are saved before anything ends.
    const auto saveAndShutDown = [store] {
        store->savePendingChanges();
        store->shutdownAll();
    };
    m_quit = std::make_unique<QuitController>(
        saveAndShutDown, [store] { return sessionsOf(store); }, store->timings().killGrace);
    connect(m_quit.get(), &QuitController::quitStarted, this, &Application::handleQuitStarted);

    m_notificationClient = std::make_unique<NotificationClient>(QDBusConnection::sessionBus());
    m_notifier = std::make_unique<TunnelNotifier>(
        store, m_notificationClient.get(), [preferences] { return preferences->desktopNotifications(); },
        [this] { return m_mainWindow && m_mainWindow->isActiveWindow(); }, store->timings().notificationSpacing);
    connect(m_notifier.get(), &TunnelNotifier::showRequested, this, &Application::handleNoticeActivated);
}

Application::~Application()
{
    // The window's views watch the store: they go first.
    m_notifier.reset();
    m_tray.reset();
    m_mainWindow.reset();
}

QString Application::settingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/orvanta/orvanta.conf");
}

void Application::showMainWindow()
{
    if (!m_mainWindow) {
        auto *content = new ContentView(m_store.get(), m_preferences);
        connect(content, &ContentView::quitRequested, m_quit.get(), &QuitController::requestQuit);
        m_mainWindow = std::make_unique<MainWindow>(content);
        m_mainWindow->setHideOnClose(m_tray != nullptr);
        installMainMenu(m_mainWindow.get());
        m_mainWindow->resizeToContent();
        m_mainWindow->show();
        m_mainWindow->centreOnScreen();
    }
    m_mainWindow->bringToFront();
}

void Application::installMainMenu(MainWindow *window)
{
    MainMenu::install(window, [quit = m_quit.get()] { quit->requestQuit(); }, LogFile::defaultDirectory());
    TunnelStore *store = m_store.get();
    MainMenu::addSetting(window, QStringLiteral("断线后自动重新连接"), QStringLiteral("reconnectAutomaticallyAction"),
        store->reconnectsAutomatically(), [store](bool on) { store->setReconnectsAutomatically(on); });
    Preferences *preferences = m_preferences;
    MainMenu::addSetting(window, QStringLiteral("桌面通知"), QStringLiteral("desktopNotificationsAction"),
        preferences->desktopNotifications(), [preferences](bool on) { preferences->setDesktopNotifications(on); });
}

void Application::installTrayIcon()
{
    if (m_tray || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray = std::make_unique<TrayIcon>(QGuiApplication::windowIcon(), m_store.get());
    if (m_mainWindow)
        m_mainWindow->setHideOnClose(true);
    connect(m_tray.get(), &TrayIcon::showWindowRequested, this, &Application::showMainWindow);
    connect(m_tray.get(), &TrayIcon::quitRequested, m_quit.get(), &QuitController::requestQuit);
}

void Application::serveCommandLine(SingleInstance &instance)
{
    m_instance = &instance;
    Preferences *preferences = m_preferences;
    m_control = std::make_unique<ControlService>(m_store.get(),
        [preferences] { return preferences->legalAcknowledgementVersion() >= LegalNoticeView::currentVersion; });
    instance.setRequestHandler(
        [control = m_control.get()](const QByteArray &request) { return control->answer(request); });
}

void Application::handleQuitStarted()
{
    qCInfo(lcApp) << "quitting: stopping" << m_store->runningCount() << "running services";
    // A start from now on would only show a window that is about to vanish: it waits for this one to end.
    if (m_instance)
        m_instance->stopAcceptingHandovers();
    // The children get their grace time in the background; the user sees the program gone at once.
    if (m_mainWindow)
        m_mainWindow->hide();
    if (m_tray)
        m_tray->hide();
}

void Application::handleNoticeActivated(const QUuid &id)
{
    m_store->setSelectedID(id);
    showMainWindow();
}

int Application::main(
    int argc, char **argv, const std::function<void(Application &)> &ready, const SessionDependencies &dependencies)
{
    const CommandLine::Invocation invocation = CommandLine::parse(argumentsOf(argc, argv));
    if (invocation.action != CommandLine::Action::runProgram || !invocation.usageError.isEmpty())
        return CommandLine::run(invocation, argc, argv);
    if (!hasDisplay(argc, argv)) {
        std::fputs("奥文塔需要图形桌面（X11 或 Wayland），但没有找到显示器；没有桌面时可在 Xvfb 下运行：xvfb-run -a "
                   "make run\n",
            stderr);
        return EXIT_FAILURE;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(ORVANTA_VERSION));
    LogFile log(LogFile::defaultDirectory());
    log.install();
    qCInfo(lcApp) << "orvanta" << ORVANTA_VERSION << "starting, process" << QCoreApplication::applicationPid();
    QApplication::setApplicationDisplayName(QStringLiteral("奥文塔"));
    QGuiApplication::setDesktopFileName(QStringLiteral("orvanta"));
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance(SingleInstance::defaultDirectory());
    // An instance that is quitting ends within its children's grace time and the kill after it.
    instance.setQuitWait(dependencies.timings.killGrace + std::chrono::seconds(1));
    const SingleInstance::Role role = instance.claim();
    qCInfo(lcApp) << "single instance role:" << role;
    switch (role) {
    case SingleInstance::Role::handedOver:
        return EXIT_SUCCESS;
    case SingleInstance::Role::unanswered:
        std::fputs("奥文塔已在运行，但没有响应；请稍后再试。\n", stderr);
        return EXIT_FAILURE;
    case SingleInstance::Role::primary:
        break;
    }
    QApplication::setApplicationName(QStringLiteral("orvanta"));

    // Only the one instance may tidy up after a killed run (its half-done saves, its tunnels' runtime
    // directories), and before anything is read.
    DurableFile::removeLeftovers(settingsPath());
    RuntimeParent::removeAbandoned();
    Preferences preferences(QSettings(settingsPath(), QSettings::IniFormat));
    LegacySettingsMigrator::migrateIfNeeded(preferences);
    Application delegate(&preferences, dependencies);
    // A desktop session that ends may not wait for the quit: what is pending is saved when it asks.
    connect(&app, &QGuiApplication::commitDataRequest, delegate.store(), &TunnelStore::savePendingChanges);

    Theme::install(app);
    QApplication::setWindowIcon(programIcon());

    delegate.quitController()->interceptApplicationQuit();
    connect(&instance, &SingleInstance::activationRequested, &delegate, [&delegate] {
        qCInfo(lcApp) << "another start asked for the window";
        delegate.showMainWindow();
    });
    UnixSignalWatcher signalWatcher;
    connect(
        &signalWatcher, &UnixSignalWatcher::signalReceived, delegate.quitController(), &QuitController::requestQuit);

    delegate.serveCommandLine(instance);
    if (!invocation.hidden)
        delegate.showMainWindow();
    delegate.installTrayIcon();
    if (ready)
        ready(delegate);
    const int status = QApplication::exec();
    qCInfo(lcApp) << "quit with status" << status;
    return status;
}
