#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "ProcessProbe.h"
#include "app/MainWindow.h"
#include "app/OrvantaAppDelegate.h"
#include "app/QuitController.h"
#include "legal/LegalNoticeView.h"
#include "session/TunnelSession.h"
#include "store/TunnelStore.h"
#include "ui/ContentView.h"

#include <QAction>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using ProcessProbe::isRunning;

class TestAppDelegate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void oneCentredWindow();
    void closingKeepsTunnelsRunning();
    void quitStopsEveryChild_data();
    void quitStopsEveryChild();
    void applicationQuitWaitsForTheChildren();

private:
    /// Two services pointing at the local server; \a tunnelBody is what the fake does when launched.
    void startTwoTunnels(const QByteArray &tunnelBody);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<FakeCloudflared> m_fake;
    LocalHttpServer m_origin;
    std::unique_ptr<OrvantaAppDelegate> m_delegate;
    QList<qint64> m_tunnels;
};

void TestAppDelegate::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<QSettings>(m_dir->filePath(u"orvanta.conf"_qs), QSettings::IniFormat);
    m_settings->setValue(ContentView::acknowledgementKey, 2);
    m_fake = std::make_unique<FakeCloudflared>(m_dir->filePath(u"fake"_qs));
    if (!m_origin.port())
        QVERIFY(m_origin.listenHttp());
}

void TestAppDelegate::cleanup()
{
    if (m_delegate)
        m_delegate->store()->shutdownAll();
    m_delegate.reset();
    m_fake.reset();
    m_settings.reset();
    m_dir.reset();
}

void TestAppDelegate::startTwoTunnels(const QByteArray &tunnelBody)
{
    QVERIFY(m_fake->install("if [ \"$1\" = --version ]; then echo 'cloudflared version 2024.5.0'; exit 0; fi\n"
                            + tunnelBody));
    Timings timings;
    timings.killGrace = std::chrono::milliseconds(500);
    timings.versionQueryTimeout = std::chrono::seconds(20);
    m_delegate = std::make_unique<OrvantaAppDelegate>(m_settings.get(), timings);
    m_delegate->store()->addProfile();
    for (TunnelSession *session : m_delegate->store()->sessions()) {
        TunnelProfile profile = session->profile();
        profile.scheme = OriginScheme::http;
        profile.portText = QString::number(m_origin.port());
        session->setProfile(profile);
    }
    m_delegate->showMainWindow();
    m_delegate->store()->startAll();
    for (TunnelSession *session : m_delegate->store()->sessions())
        QTRY_VERIFY_WITH_TIMEOUT(session->status().is(TunnelStatus::Kind::online), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(ProcessProbe::waitingChildren(QCoreApplication::applicationPid()).size(), 2, 30000);
    m_tunnels = ProcessProbe::waitingChildren(QCoreApplication::applicationPid());
}

void TestAppDelegate::oneCentredWindow()
{
    m_delegate = std::make_unique<OrvantaAppDelegate>(m_settings.get());
    QVERIFY(!m_delegate->mainWindow());
    m_delegate->showMainWindow();
    MainWindow *window = m_delegate->mainWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->windowTitle(), u"奥文塔"_qs);
    QCOMPARE(window->centralWidget()->size(), QSize(1080, 760));
    QCOMPARE(window->centralWidget()->minimumSize(), QSize(980, 680));
    window->resize(600, 400);
    QVERIFY(window->centralWidget()->width() >= 980);
    QVERIFY(window->centralWidget()->height() >= 680);

    m_delegate->showMainWindow();
    QCOMPARE(m_delegate->mainWindow(), window);
    const QWidgetList windows = QApplication::topLevelWidgets();
    QCOMPARE(std::count_if(windows.begin(), windows.end(), [](QWidget *w) { return qobject_cast<MainWindow *>(w); }),
             1);
}

void TestAppDelegate::closingKeepsTunnelsRunning()
{
    startTwoTunnels(FakeCloudflared::onlineBody(120));
    MainWindow *window = m_delegate->mainWindow();
    auto *content = window->centralWidget();
    const auto selected = m_delegate->store()->selectedID();
    QVERIFY(window->close());
    QVERIFY(!window->isVisible());
    QVERIFY(!m_delegate->quitController()->isQuitting());
    for (TunnelSession *session : m_delegate->store()->sessions())
        QVERIFY(session->status().is(TunnelStatus::Kind::online));
    for (const qint64 pid : m_tunnels)
        QVERIFY(isRunning(pid));

    // Brought back: the same window, the same view, the same selection.
    m_delegate->showMainWindow();
    QVERIFY(window->isVisible());
    QCOMPARE(m_delegate->mainWindow(), window);
    QCOMPARE(window->centralWidget(), content);
    QCOMPARE(m_delegate->store()->selectedID(), selected);
}

void TestAppDelegate::quitStopsEveryChild_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("ignoresTerm");
    QTest::newRow("menu, polite children") << u"menu"_qs << false;
    QTest::newRow("menu, stubborn children") << u"menu"_qs << true;
    QTest::newRow("notice declined") << u"notice"_qs << true;
}

void TestAppDelegate::quitStopsEveryChild()
{
    QFETCH(QString, path);
    QFETCH(bool, ignoresTerm);
    startTwoTunnels((ignoresTerm ? QByteArray("trap '' TERM\n") : QByteArray()) + FakeCloudflared::onlineBody(120));
    const QList<qint64> pids = m_tunnels;
    QSignalSpy settled(m_delegate->quitController(), &QuitController::childrenSettled);

    if (path == u"menu"_qs) {
        m_delegate->mainWindow()->findChild<QAction *>(u"quitAction"_qs)->trigger();
    } else {
        auto *content = qobject_cast<ContentView *>(m_delegate->mainWindow()->centralWidget());
        content->showLegalNotice();
        QTRY_VERIFY(content->legalNotice());
        emit content->legalNotice()->declined();
    }
    QVERIFY(m_delegate->quitController()->isQuitting());
    QVERIFY(!m_delegate->mainWindow()->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(settled.size(), 1, 20000);
    for (const qint64 pid : pids)
        QVERIFY(!isRunning(pid));
    for (TunnelSession *session : m_delegate->store()->sessions())
        QVERIFY(!session->hasChild());
}

void TestAppDelegate::applicationQuitWaitsForTheChildren()
{
    startTwoTunnels("trap '' TERM\n" + FakeCloudflared::onlineBody(120));
    QuitController *quit = m_delegate->quitController();
    quit->interceptApplicationQuit();
    QSignalSpy settled(quit, &QuitController::childrenSettled);

    // What the desktop session or QCoreApplication::quit() delivers: held back, not obeyed at once.
    QEvent event(QEvent::Quit);
    QVERIFY(QCoreApplication::sendEvent(qApp, &event));
    QVERIFY(quit->isQuitting());
    QCOMPARE(settled.size(), 0);
    for (const qint64 pid : m_tunnels)
        QVERIFY(isRunning(pid));
    QVERIFY(settled.wait(20000));
    for (const qint64 pid : m_tunnels)
        QVERIFY(!isRunning(pid));
    qApp->removeEventFilter(quit);
}

QTEST_MAIN(TestAppDelegate)
#include "TestAppDelegate.moc"
