#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "SettingsFile.h"

#include "session/OriginProbe.h"
#include "session/TunnelSession.h"
#include "store/TunnelStore.h"

#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

using namespace std::chrono_literals;

namespace {

bool processAlive(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

/// Answers the version query at once, then runs \a body.
QByteArray script(const QByteArray &body)
{
    return "[ \"$1\" = --version ] && { echo 'cloudflared version 2024.5.0 (built 2024-05-01)'; exit 0; }\n" + body;
}

QByteArray onlineLines()
{
    return FakeCloudflared::printToStandardError(FakeCloudflared::requestLine() + FakeCloudflared::urlLine()
                                                 + FakeCloudflared::registeredLine());
}

} // namespace

class TestStoreWithChildren : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void removingARunningServiceStopsItsChildPolitely();
    void groupOperationsChooseByStatus();

private:
    TunnelStore &storeOf(const QList<TunnelProfile> &profiles, Timings timings);

    QTemporaryDir m_runtime;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeCloudflared> m_fake;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<TunnelStore> m_store;
    LocalHttpServer m_servers[3];
};

void TestStoreWithChildren::initTestCase()
{
    qputenv("TMPDIR", QFile::encodeName(m_runtime.path()));
    for (auto &server : m_servers)
        QVERIFY(server.listenHttp());
    // The public address is on the internet; nothing here may reach it.
    TunnelSession::setPublicProbe([](const QUrl &, std::chrono::milliseconds, QObject *context,
                                     std::function<void(const ProbeOutcome &)> done) {
        QMetaObject::invokeMethod(context, [done] { done({true, 200, {}}); }, Qt::QueuedConnection);
    });
}

void TestStoreWithChildren::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_fake = std::make_unique<FakeCloudflared>(m_dir->filePath(QStringLiteral("fake")));
}

void TestStoreWithChildren::cleanup()
{
    if (m_store) {
        m_store->shutdownAll();
        for (int run = 1; run <= m_fake->runs(); ++run)
            QTRY_VERIFY_WITH_TIMEOUT(!processAlive(m_fake->processId(run)), 20000);
    }
    m_store.reset();
    m_settings.reset();
    m_fake.reset();
}

TunnelStore &TestStoreWithChildren::storeOf(const QList<TunnelProfile> &profiles, Timings timings)
{
    const QString path = m_dir->filePath(QStringLiteral("orvanta/orvanta.conf"));
    writeSettingsFile(path, {{TunnelStore::profilesKey, encodeProfiles(profiles)}});
    m_settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    timings.monitorPause = 1h;
    timings.postOnlineCheck = 1h;
    timings.startupTimeout = 1h;
    m_store = std::make_unique<TunnelStore>(m_settings.get(), timings);
    return *m_store;
}

void TestStoreWithChildren::removingARunningServiceStopsItsChildPolitely()
{
    // The child takes its time to wind down after SIGTERM; killing it outright would leave no note.
    QVERIFY(m_fake->install(script("trap 'sleep 0.5; echo > \"$rec/terminated\"; kill $!; exit 0' TERM\n"
                                   + onlineLines() + "sleep 60 &\nwait\n")));
    Timings timings;
    timings.killGrace = 10s;
    TunnelStore &store = storeOf({makeProfile(u"a"_qs, QString::number(m_servers[0].port()))}, timings);
    QCOMPARE(store.cloudflaredVersion(), u"2024.5.0"_qs);
    QPointer<TunnelSession> session = store.sessions().first();
    session->start();
    QTRY_COMPARE_WITH_TIMEOUT(session->status(), TunnelStatus::online(), 20000);
    const qint64 pid = m_fake->processId();

    store.removeProfile(session->id());
    QCOMPARE(store.sessions().size(), 1);
    QVERIFY(store.sessions().first() != session);
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), 20000);
    QVERIFY(QFile::exists(m_fake->recordDirectory() + QStringLiteral("/terminated")));
    QTRY_VERIFY(session.isNull());
}

void TestStoreWithChildren::groupOperationsChooseByStatus()
{
    // Per origin port: the second service's child ignores SIGTERM, the third's never gets online.
    const auto url = [this](int server) { return "\" http://127.0.0.1:" + QByteArray::number(m_servers[server].port()) + " \""; };
    QVERIFY(m_fake->install(script("case \" $* \" in\n"
                                   "*" + url(1) + "*) trap '' TERM; " + onlineLines() + "exec sleep 60;;\n"
                                   "*" + url(2) + "*) exec sleep 60;;\n"
                                   "esac\n" + onlineLines() + "exec sleep 60\n")));
    Timings timings;
    timings.killGrace = 1500ms;
    TunnelStore &store = storeOf({makeProfile(u"idle"_qs, QString::number(m_servers[0].port())),
                                  makeProfile(u"failed"_qs, u"0"_qs),
                                  makeProfile(u"online"_qs, QString::number(m_servers[1].port())),
                                  makeProfile(u"connecting"_qs, QString::number(m_servers[2].port()))},
                                 timings);
    const QList<TunnelSession *> sessions = store.sessions();
    for (int i = 1; i < 4; ++i)
        sessions[i]->start();
    QTRY_COMPARE_WITH_TIMEOUT(sessions[1]->status().kind, TunnelStatus::Kind::failed, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(sessions[2]->status(), TunnelStatus::online(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(m_fake->runs(), 3, 20000); // the version query, then two tunnels
    QCOMPARE(sessions[3]->status(), TunnelStatus::connecting());
    QCOMPARE(store.runningCount(), 2);

    QList<int> started;
    for (int i = 0; i < 4; ++i) {
        connect(sessions[i], &TunnelSession::changed, this, [&started, session = sessions[i], i] {
            if (session->status().is(TunnelStatus::Kind::preparing) && !started.contains(i))
                started.append(i);
        });
    }
    store.startAll();
    QCOMPARE(started, QList<int>({0, 1}));
    QCOMPARE(sessions[2]->status(), TunnelStatus::online());
    QCOMPARE(sessions[3]->status(), TunnelStatus::connecting());

    QTRY_COMPARE_WITH_TIMEOUT(sessions[0]->status(), TunnelStatus::online(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(sessions[1]->status().kind, TunnelStatus::Kind::failed, 20000);
    sessions[2]->stop();
    QCOMPARE(sessions[2]->status(), TunnelStatus::stopping());
    QCOMPARE(store.runningCount(), 3);

    store.stopAll();
    QCOMPARE(sessions[1]->status().kind, TunnelStatus::Kind::failed);
    QTRY_COMPARE_WITH_TIMEOUT(store.runningCount(), 0, 20000);
}

QTEST_GUILESS_MAIN(TestStoreWithChildren)
#include "TestStoreWithChildren.moc"
