#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "session/FailureDiagnosis.h"
#include "session/TunnelSession.h"

#include <QtTest>

using namespace std::chrono_literals;

// The lines are cloudflared's own, as its users reported them; the source of each is named.
class TestFailureDiagnosis : public QObject
{
    Q_OBJECT

    QTemporaryDir m_temp;
    LocalHttpServer m_http;

private slots:
    void initTestCase()
    {
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
        QVERIFY(m_http.listenHttp());
    }

    void failureSaysWhy_data()
    {
        QTest::addColumn<QByteArray>("output"); // on standard error
        QTest::addColumn<bool>("exits"); // with status 1, else waits for the start-up time-out
        QTest::addColumn<TunnelError>("expected");
        using Kind = TunnelError::Kind;
        const auto error = [](Kind kind) { return TunnelError { kind, {} }; };
        const QByteArray request = FakeCloudflared::requestLine();
        const QByteArray url = FakeCloudflared::urlLine();
        const QByteArray notJson = "failed to unmarshal quick Tunnel: invalid character 'e' looking for beginning of "
                                   "value\n";
        const QByteArray post = "failed to request quick Tunnel: Post \"https://api.trycloudflare.com/tunnel\": ";
        // cmd/cloudflared/tunnel/quick_tunnel.go logs the reply with its status, then exits on the error.
        const QByteArray rateLimited = "2026-05-29T09:25:34Z ERR Error unmarshaling QuickTunnel response: error code: "
                                       "1015 error=\"invalid character 'e' looking for beginning of value\" "
                                       "status_code=\"429 Too Many Requests\"\n";
        QTest::newRow("rate limited") << request + rateLimited + notJson << true << error(Kind::quickTunnelRateLimited);
        // cloudflared issues 555, 1593; 547; the time-out is Go's http client at quick_tunnel.go's 15 s.
        QTest::newRow("service host unknown")
            << request + post + "dial tcp: lookup api.trycloudflare.com on 127.0.0.11:53: no such host\n"
            << true << error(Kind::quickTunnelServiceUnreachable);
        QTest::newRow("service refuses") << post + "dial tcp 176.53.43.44:443: connect: connection refused\n"
                                         << true << error(Kind::quickTunnelServiceUnreachable);
        QTest::newRow("service times out")
            << post + "context deadline exceeded (Client.Timeout exceeded while awaiting headers)\n"
            << true << error(Kind::quickTunnelServiceUnreachable);
        // An error page instead of JSON (Colab-Cloud-Gaming issue 12), as older versions say it
        // (cloudflared issue 972), and an empty tunnel id (cloudflared issues 487, 1428).
        QTest::newRow("service answers 500") << request
                + "2026-05-09T16:02:05Z ERR Error unmarshaling QuickTunnel response: error code: 1101 "
                  "error=\"invalid character 'e' looking for beginning of value\" "
                  "status_code=\"500 Internal Server Error\"\n"
                + notJson << true << error(Kind::quickTunnelServiceError);
        QTest::newRow("service answers no JSON") << request + notJson << true << error(Kind::quickTunnelServiceError);
        QTest::newRow("service answers no id") << request + "failed to parse quick Tunnel ID: invalid UUID length: 0\n"
                                               << true << error(Kind::quickTunnelServiceError);
        QTest::newRow("request unanswered") << request << false << error(Kind::quickTunnelRequestUnanswered);
        // cloudflared issue 1503, then 762, and 617 where the version of the day gave up.
        const QByteArray quicDial = "2025-07-07T15:38:26Z ERR Failed to dial a quic connection error=\"failed to dial "
                                    "to edge with quic: timeout: no recent network activity\" connIndex=0 event=0\n";
        QTest::newRow("QUIC dial fails") << request + url + quicDial
                + "2025-07-07T15:38:26Z INF Retrying connection in up to 2s connIndex=0\n"
                                         << false << error(Kind::edgeQuicBlocked);
        QTest::newRow("trouble before going online is past")
            << url + quicDial + FakeCloudflared::registeredLine()
                + "2022-09-22T14:16:56Z ERR no more connections active and exiting\n"
            << true << TunnelError::cloudflaredReported(u"no more connections active and exiting"_qs);
        QTest::newRow("QUIC dial fails, cloudflared gives up") << url
                + "2022-04-08T04:36:45Z ERR Failed to create new quic connection error=\"failed to dial to edge: "
                  "timeout: no recent network activity\" connIndex=0\n"
                  "2022-04-08T04:37:57Z ERR Initiating shutdown error=\"failed to dial to edge: timeout: no recent "
                  "network activity\"\nfailed to dial to edge: timeout: no recent network activity\n"
                                                               << true << error(Kind::edgeQuicBlocked);
        // prechecks/result_test.go of current versions.
        const QByteArray checks = "--- CONNECTIVITY PRE-CHECKS -----------------------------------------------------\n"
                                  "COMPONENT         TARGET                     STATUS  DETAILS\n"
                                  "DNS Resolution    region1.v2.argotunnel.com  PASS    DNS Resolved successfully\n";
        QTest::newRow("pre-checks: QUIC blocked") << request + url + checks
                + "UDP Connectivity  Port 7844 (QUIC)           FAIL    QUIC connection failed\n"
                  "TCP Connectivity  Port 7844 (HTTP/2)         PASS    HTTP/2 connection successful\n"
                  "WARNING: Allow outbound QUIC traffic on port 7844 or use HTTP2.\n\n"
                  "SUMMARY: Environment ready with degraded transport. cloudflared will proceed using 'http2'.\n"
                                                  << false << error(Kind::edgeQuicBlocked);
        QTest::newRow("pre-checks: all pass") << request + url + checks
                + "UDP Connectivity  Port 7844 (QUIC)           PASS    QUIC connection successful\n\n"
                  "SUMMARY: Environment is healthy. cloudflared will use 'quic' as primary protocol.\n"
                                              << false << TunnelError::startupTimedOut();
        // HTTP/2 over TCP 7844 (cloudflared issue 840) is not QUIC; the line is shown as it is.
        QTest::newRow("TCP 7844 times out")
            << url
                + "2022-12-07T07:52:13Z ERR Serve tunnel error error=\"DialContext error: dial tcp "
                  "198.41.200.13:7844: i/o timeout\" connIndex=0 ip=198.41.200.13\n"
            << false
            << TunnelError::startupTimedOut(
                   u"DialContext error: dial tcp 198.41.200.13:7844: i/o timeout connIndex=0 ip=198.41.200.13"_qs);
        QTest::newRow("anything else") << request + "failed to dial to edge: timeout: no recent network activity\n"
                                       << true
                                       << TunnelError::cloudflaredReported(
                                              u"failed to dial to edge: timeout: no recent network activity"_qs);
        const QString origin = u"Unable to reach the origin service. The service may be down or it may not be "
                               "responding to traffic from cloudflared: dial tcp 127.0.0.1:3000: connect: connection "
                               "refused connIndex=0 event=1 originService=http://127.0.0.1:3000"_qs;
        QTest::newRow("a long line is shortened")
            << FakeCloudflared::originErrorLine() << true << TunnelError::cloudflaredReported(origin.left(159) + u'…');
        QByteArray later;
        for (int i = 1; i <= FailureDiagnosis::keptLines; ++i)
            later += "T ERR e" + QByteArray::number(i) + '\n';
        QTest::newRow("only the newest lines count") << rateLimited
                + later << true << TunnelError::cloudflaredReported(u"e%1"_qs.arg(FailureDiagnosis::keptLines));
        QTest::newRow("routine notices") << FakeCloudflared::routineNotices() << true
                                         << TunnelError::cloudflaredExited(1);
    }

    void failureSaysWhy()
    {
        QFETCH(QByteArray, output);
        QFETCH(bool, exits);
        QFETCH(TunnelError, expected);
        const QTemporaryDir fakeDir;
        FakeCloudflared fake(fakeDir.path());
        QVERIFY(fake.install(FakeCloudflared::printToStandardError(output) + (exits ? "exit 1" : "exec sleep 30")));
        Timings timings = quickTimings();
        timings.startupTimeout = 700ms;
        SessionDependencies dependencies { timings, fake.locator(), answeringPublicProbe({ true, 404, {} }) };
        dependencies.policy->restartAfterDrop = false; // the first exit is the one judged
        TunnelSession session(localProfile(m_http.port()), nullptr, dependencies);
        session.start();
        // A run ended for its time-out stays failed once its child is gone.
        QTRY_VERIFY(!session.hasChild() && session.status().is(TunnelStatus::Kind::failed));
        QCOMPARE(session.status().message, expected.description());
        QCOMPARE(session.publicHealth(), HealthState::unhealthy(expected.description()));
        QStringList log;
        for (const ActivityEntry &entry : session.activity())
            log << rawValue(entry.level) + u": "_qs + entry.message;
        QCOMPARE(log.constLast(), u"error: "_qs + expected.description());
        // The exit status is kept in the log when the reason replaces it.
        const QString exited = u"error: "_qs + TunnelError::cloudflaredExited(1).description();
        QCOMPARE(log.count(exited), exits ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestFailureDiagnosis)
#include "TestFailureDiagnosis.moc"
