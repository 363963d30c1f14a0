#include "SessionRig.h"
#include "session/RestartSchedule.h"

#include <QtTest>

#include <csignal>

using namespace std::chrono_literals;

namespace {

QUrl runURL(int run)
{
    return QUrl(u"https://run-%1.trycloudflare.com"_qs.arg(run));
}

const QString replaced = QStringLiteral("公网链接已更换：");
const QByteArray online
    = FakeCloudflared::printRunURL() + FakeCloudflared::printToStandardError(FakeCloudflared::registeredLine());

} // namespace

class TestSessionRecovery : public QObject
{
    Q_OBJECT

    SessionRig m_rig;

    SessionDependencies dependencies(bool restartAfterDrop = true) const
    {
        Timings timings = quickTimings();
        timings.restartDelay = 300ms;
        timings.registrationWait = 300ms;
        return m_rig.dependencies(timings, restartAfterDrop);
    }

    QStringList arguments(int run) const { return QString::fromUtf8(m_rig.fake->record("argv", run)).split(u'\n'); }

private slots:
    void initTestCase() { QVERIFY(m_rig.setUp()); }
    void init() { m_rig.renew(); }
    void cleanup() { m_rig.verifyNothingLeft(); }

    // With the product's figures.
    void backOff_data()
    {
        QTest::addColumn<QList<int>>("restartsAt"); // s
        QTest::addColumn<int>("dropAt"); // s
        QTest::addColumn<int>("maxDelay"); // s
        QTest::addColumn<int>("delay"); // s; -1: no restart
        const QList<int> five { 0, 3, 8, 17, 34 };
        QTest::newRow("first") << QList<int>() << 0 << 60 << 2;
        QTest::newRow("second") << QList<int> { 0 } << 3 << 60 << 4;
        QTest::newRow("fifth") << five.mid(0, 4) << 34 << 60 << 32;
        QTest::newRow("sixth within ten minutes") << five << 599 << 60 << -1;
        QTest::newRow("the first has left the window") << five << 600 << 60 << 32;
        QTest::newRow("all have left the window") << five << 634 << 60 << 2;
        QTest::newRow("capped") << five.mid(0, 4) << 34 << 10 << 10;
    }

    void backOff()
    {
        QFETCH(QList<int>, restartsAt);
        QFETCH(int, dropAt);
        QFETCH(int, maxDelay);
        QFETCH(int, delay);
        Timings timings;
        timings.restartDelayMax = std::chrono::seconds(maxDelay);
        RestartSchedule schedule(timings);
        const RestartSchedule::Clock::time_point start;
        for (const int at : restartsAt)
            schedule.recordRestart(start + std::chrono::seconds(at));
        const auto next = schedule.nextDelay(start + std::chrono::seconds(dropAt));
        QCOMPARE(next ? int(next->count()) : -1, delay < 0 ? -1 : delay * 1000);
    }

    void dropOfAnOnlineTunnel_data()
    {
        QTest::addColumn<QByteArray>("first"); // the first run, from going online
        QTest::addColumn<int>("signal"); // sent to the first run; 0: it is told to end
        QTest::addColumn<int>("status"); // of the first run
        QTest::addColumn<QByteArray>("later"); // empty: online again
        QTest::addColumn<bool>("restarts");
        QTest::addColumn<TunnelStatus>("final"); // idle: stopped while it waits
        QTest::addColumn<bool>("switchedOff"); // reconnecting is switched off while it waits
        const QByteArray dropThen = FakeCloudflared::waitFor("drop");
        const auto row = [](const char *name, const QByteArray &first, int signal, int status,
                             const TunnelStatus &final = TunnelStatus::online(), const QByteArray &later = {},
                             bool restarts = true, bool switchedOff = false) {
            QTest::newRow(name) << first << signal << status << later << restarts << final << switchedOff;
        };
        row("exits 1", dropThen + "exit 1", 0, 1);
        row("exits 0", dropThen + "exit 0", 0, 0);
        row("killed", "exec sleep 30", SIGKILL, SIGKILL);
        // Someone else's SIGTERM: cloudflared winds down and exits 0.
        row("terminated by someone else",
            "trap 'echo \"T INF Initiating graceful shutdown due to signal terminated ...\" >&2; exit 0' TERM\n"
            "sleep 30 &\nwait",
            SIGTERM, 0);
        // A start that fails is not tried again: the reason would only repeat.
        row("the restart fails", dropThen + "exit 1", 0, 1,
            TunnelStatus::failed(TunnelError { TunnelError::Kind::quickTunnelRateLimited, {} }.description()),
            FakeCloudflared::printToStandardError(
                "T ERR Error unmarshaling QuickTunnel response: status_code=\"429 Too Many Requests\"\n")
                + "exit 1");
        row("turned off", dropThen + "exit 1", 0, 1,
            TunnelStatus::failed(QStringLiteral("cloudflared 异常退出（代码 1）")), {}, false);
        row("stopped while waiting", dropThen + "exit 1", 0, 1, TunnelStatus::idle());
        row("switched off while waiting", dropThen + "exit 1", 0, 1,
            TunnelStatus::failed(QStringLiteral("cloudflared 异常退出（代码 1）")), {}, true, true);
    }

    void dropOfAnOnlineTunnel()
    {
        QFETCH(QByteArray, first);
        QFETCH(int, signal);
        QFETCH(int, status);
        QFETCH(QByteArray, later);
        QFETCH(bool, restarts);
        QFETCH(TunnelStatus, final);
        QFETCH(bool, switchedOff);
        const bool stopWhileWaiting = final == TunnelStatus::idle() || switchedOff;
        // The trap of the first run is set before it goes online, so a signal cannot come too soon.
        const qsizetype split = first.startsWith("trap") ? first.indexOf('\n') + 1 : 0;
        QVERIFY(m_rig.fake->install("if [ \"$n\" = 1 ]; then\n" + first.left(split) + online + first.mid(split)
            + "\nexit 0\nfi\n" + (later.isEmpty() ? online + "exec sleep 30" : later)));
        TunnelSession session(localProfile(m_rig.http.port()), nullptr, dependencies(restarts));
        QSignalSpy dropped(&session, &TunnelSession::connectionDropped);
        QSignalSpy reconnected(&session, &TunnelSession::reconnected);
        QStringList atDrop; // what the session shows when the drop is told
        connect(&session, &TunnelSession::connectionDropped, this, [&](const QString &note) {
            atDrop << session.overallLabel() << session.publicURL().value_or(QUrl()).toString()
                   << session.publicHealth().message << activityMessages(session).constLast();
            QCOMPARE(note, atDrop.constLast());
        });
        session.start();
        QTRY_COMPARE(session.status(), TunnelStatus::online());
        QVERIFY(signal ? ::kill(pid_t(m_rig.fake->processId(1)), signal) == 0 : m_rig.fake->release("drop"));

        QTRY_COMPARE(dropped.size(), 1);
        const QString note = dropped.constFirst().constFirst().toString();
        // The old address has gone with its child.
        QCOMPARE(atDrop.mid(0, 3),
            restarts ? QStringList({ QStringLiteral("连接中"), QString(), note })
                     : QStringList({ QStringLiteral("启动失败"), QString(), final.message }));
        QCOMPARE(note.startsWith(u"cloudflared 意外退出（代码 %1），1 秒后（"_qs.arg(status)), restarts);
        if (stopWhileWaiting) {
            if (switchedOff)
                session.abandonPendingRestart();
            else
                session.stop();
            QCOMPARE(session.status(), final);
            QVERIFY(activityMessages(session).contains(QStringLiteral("已取消自动重新连接")));
            QSignalSpy changes(&session, &TunnelSession::changed);
            QVERIFY(!changes.wait(1000));
        }
        QTRY_COMPARE(session.status(), final);
        const bool backOnline = final == TunnelStatus::online();
        QCOMPARE(m_rig.fake->runs(), restarts && !stopWhileWaiting ? 2 : 1);
        QCOMPARE(reconnected.size(), backOnline ? 1 : 0);
        QCOMPARE(dropped.size(), 1);
        if (backOnline) {
            QCOMPARE(reconnected.constFirst().constFirst().toUrl(), runURL(2));
            QCOMPARE(session.publicURL(), std::optional(runURL(2)));
            QCOMPARE(activityMessages(session).filter(replaced), QStringList { replaced + runURL(2).toString() });
        }
    }

    void restartsAtMostFiveTimes()
    {
        // Every run comes online and drops a moment later, saying why.
        QVERIFY(m_rig.fake->install(online + "sleep 0.2\n"
            + FakeCloudflared::printToStandardError("T ERR Serve tunnel error error=\"connection reset by peer\"\n")
            + "exit 1"));
        SessionDependencies dependencies = this->dependencies();
        dependencies.timings.restartDelay = 50ms;
        TunnelSession session(localProfile(m_rig.http.port()), nullptr, dependencies);
        QSignalSpy reconnected(&session, &TunnelSession::reconnected);
        session.start();
        QTRY_VERIFY_WITH_TIMEOUT(session.status().is(TunnelStatus::Kind::failed), 30000);
        QCOMPARE(m_rig.fake->runs(), 1 + RestartSchedule::maxRestarts);
        QCOMPARE(reconnected.size(), RestartSchedule::maxRestarts);
        const QString reason = QStringLiteral("cloudflared 报错：connection reset by peer");
        QCOMPARE(session.status().message, reason);
        const QStringList log = activityMessages(session);
        QCOMPARE(log.filter(replaced).size(), RestartSchedule::maxRestarts);
        QCOMPARE(log.filter(u"cloudflared 意外退出（代码 1）"_qs).size(), RestartSchedule::maxRestarts);
        QCOMPARE(log.mid(log.size() - 3),
            QStringList({ QStringLiteral("自动重新连接次数已达上限（5 次），不再重试"),
                QStringLiteral("cloudflared 异常退出（代码 1）"), reason }));
    }

    void http2WhereQuicIsBlocked_data()
    {
        QTest::addColumn<QByteArray>("overQuic"); // what a run without "--protocol http2" prints, then it waits
        QTest::addColumn<bool>("addressReplaced");
        // cloudflared issue 1503.
        QTest::newRow("QUIC dial fails") << FakeCloudflared::printRunURL()
                + FakeCloudflared::printToStandardError("T ERR Failed to dial a quic connection error=\"failed to dial "
                                                        "to edge with quic: timeout: no recent network activity\"\n")
                                         << true;
        QTest::newRow("no registration follows the address") << FakeCloudflared::printRunURL() << true;
        QTest::newRow("pre-checks fail before the address") << FakeCloudflared::printToStandardError(
            "UDP Connectivity  Port 7844 (QUIC)           FAIL    QUIC connection failed\n")
                                                            << false;
    }

    void http2WhereQuicIsBlocked()
    {
        QFETCH(QByteArray, overQuic);
        QFETCH(bool, addressReplaced);
        QVERIFY(m_rig.fake->install("case \" $* \" in *\" --protocol http2 \"*)\n" + online + "exec sleep 30;;\nesac\n"
            + overQuic + "exec sleep 30"));
        const SessionDependencies shared = dependencies();
        TunnelSession session(localProfile(m_rig.http.port()), nullptr, shared);
        QSignalSpy reconnected(&session, &TunnelSession::reconnected);
        session.start();
        QTRY_COMPARE(session.status(), TunnelStatus::online());
        QCOMPARE(m_rig.fake->runs(), 2);
        QCOMPARE(session.publicURL(), std::optional(runURL(2)));
        // The same command line, with the protocol added; only the configuration files differ.
        QStringList quic = arguments(1);
        QStringList http2 = arguments(2);
        QCOMPARE(http2.mid(http2.size() - 2), QStringList({ u"--protocol"_qs, u"http2"_qs }));
        quic.removeAt(2);
        http2.removeAt(2);
        QCOMPARE(http2.mid(0, http2.size() - 2), quic);
        QTRY_VERIFY(!processAlive(m_rig.fake->processId(1)));

        const QString http2Entry = QStringLiteral(
            "当前网络屏蔽了 QUIC（UDP 7844 端口），改用 HTTP/2 重新连接；程序退出前所有隧道都使用 HTTP/2");
        const QStringList log = activityMessages(session);
        QCOMPARE(log.count(http2Entry), 1);
        QCOMPARE(
            log.filter(replaced), addressReplaced ? QStringList { replaced + runURL(2).toString() } : QStringList());
        QCOMPARE(reconnected.size(), 0); // it had not been online

        // Every later start of any service that shares the dependencies asks for HTTP/2 at once.
        TunnelSession other(localProfile(m_rig.http.port()), nullptr, shared);
        other.start();
        QTRY_COMPARE(other.status(), TunnelStatus::online());
        QCOMPARE(m_rig.fake->runs(), 3);
        QCOMPARE(arguments(3).constLast(), u"http2"_qs);
        QVERIFY(!activityMessages(other).contains(http2Entry));
        session.stop();
        other.stop();
        QTRY_VERIFY(!session.hasChild() && !other.hasChild());
    }
};

QTEST_GUILESS_MAIN(TestSessionRecovery)
#include "TestSessionRecovery.moc"
