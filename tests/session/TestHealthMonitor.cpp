#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "session/HealthMonitor.h"
#include "session/TunnelSession.h"

#include <QtTest>

using namespace std::chrono_literals;

namespace {

const HealthState localDown = HealthState::unhealthy(QStringLiteral("本地服务不可访问"));

SessionDependencies noChild(Timings timings, PublicProbe probe = answeringPublicProbe({ true, 404, {} }))
{
    return { timings, CloudflaredLocator(QStringList()), std::move(probe) };
}

} // namespace

class TestHealthMonitor : public QObject
{
    Q_OBJECT

    LocalHttpServer m_http;
    LocalHttpServer m_https;

private slots:
    void initTestCase()
    {
        const auto certificate = TestCertificate::generate();
        QVERIFY(certificate && m_http.listenHttp() && m_https.listenHttps(*certificate));
    }

    void localDetection_data()
    {
        QTest::addColumn<quint16>("port");
        QTest::addColumn<OriginScheme>("scheme");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("skipTLS");
        QTest::addColumn<QString>("origin"); // none: the local service is down
        QTest::addColumn<QByteArrayList>("requests"); // what the server on the port saw, in order
        const auto row = [](const char *name, quint16 port, OriginScheme scheme, bool skipTLS, const QString &origin,
                             const QByteArrayList &requests, const QString &host = u"127.0.0.1"_qs) {
            QTest::newRow(name) << port << scheme << host << skipTLS << origin << requests;
        };
        const auto automatic = OriginScheme::automatic;
        const QByteArrayList head { "HEAD / HTTP/1.1" };
        // Plain HTTP goes first and, when it answers, alone.
        row("automatic, HTTP only", m_http.port(), automatic, true, u"http"_qs, head);
        row("automatic, self-signed HTTPS, switch on", m_https.port(), automatic, true, u"https"_qs, head,
            u" 127.0.0.1\n"_qs);
        row("explicit HTTPS never tries plain HTTP", m_http.port(), OriginScheme::https, true, {}, { "TLS" });
        row("nothing listens", LocalHttpServer::unusedPort(), automatic, true, {}, {});
    }

    void localDetection()
    {
        QFETCH(quint16, port);
        QFETCH(OriginScheme, scheme);
        QFETCH(QString, host);
        QFETCH(bool, skipTLS);
        QFETCH(QString, origin);
        QFETCH(QByteArrayList, requests);
        m_http.setStatusCode(404);
        LocalHttpServer *server = port == m_https.port() ? &m_https : &m_http;
        const qsizetype before = server->requests().size();
        TunnelProfile profile = localProfile(port, scheme, skipTLS);
        profile.host = host;
        TunnelSession session(profile, {}, noChild(quickTimings()));
        QSignalSpy checked(&session, &TunnelSession::healthChecked);
        session.beginMonitoring();
        QVERIFY(checked.wait(10000));
        QCOMPARE(session.localHealth(), origin.isEmpty() ? localDown : HealthState::healthy());
        QCOMPARE(session.activeOrigin(), origin.isEmpty() ? QString() : origin + u"://127.0.0.1:%1"_qs.arg(port));
        if (server->port() == port)
            QCOMPARE(server->requests().mid(before), requests);
        session.shutdown();
    }

    void publicHealth_data()
    {
        QTest::addColumn<bool>("edge"); // without an edge connection, only the judgement itself
        QTest::addColumn<bool>("localUp");
        QTest::addColumn<ProbeOutcome>("outcome");
        QTest::addColumn<HealthState>("expected");
        QTest::newRow("404 is healthy") << true << true << ProbeOutcome { true, 404, {} } << HealthState::healthy();
        for (int status : { 500, 502, 530 }) {
            QTest::addRow("%d is unhealthy", status) << true << true << ProbeOutcome { true, status, {} }
                                                     << HealthState::unhealthy(u"公网返回 HTTP %1"_qs.arg(status));
        }
        QTest::newRow("unreachable with the edge connected")
            << true << true << ProbeOutcome { false, std::nullopt, u"Host not found"_qs }
            << HealthState::unhealthy(QStringLiteral("边缘已连接，但本机网络无法访问公网域名"));
        QTest::newRow("local service down, no public probe")
            << true << false << ProbeOutcome { true, 200, {} } << localDown;
        QTest::newRow("unreachable, no edge") << false << true << ProbeOutcome { false, std::nullopt, u"Refused"_qs }
                                              << HealthState::unhealthy(u"Refused"_qs);
        QTest::newRow("unreachable, no edge, no reason")
            << false << true << ProbeOutcome {} << HealthState::unhealthy(QStringLiteral("公网链接不可访问"));
    }

    void publicHealth()
    {
        QFETCH(bool, edge);
        QFETCH(bool, localUp);
        QFETCH(ProbeOutcome, outcome);
        QFETCH(HealthState, expected);
        if (!edge)
            QCOMPARE(HealthMonitor::judgePublicProbe(outcome, false), expected);
        QList<QUrl> probed;
        const PublicProbe probe = [&](const QUrl &url, std::chrono::milliseconds timeout, QObject *context,
                                      std::function<void(const ProbeOutcome &)> done) {
            probed << url;
            QCOMPARE(timeout, Timings {}.publicProbeTimeout);
            QTimer::singleShot(10, context, [done, outcome] { done(outcome); });
        };
        Timings timings = quickTimings();
        timings.postOnlineCheck = 50ms;
        TunnelSession session(
            localProfile(localUp ? m_http.port() : LocalHttpServer::unusedPort()), {}, noChild(timings, probe));
        QSignalSpy checked(&session, &TunnelSession::healthChecked);
        session.handleOutputLine(u"INF |  https://four-random-words-here.trycloudflare.com  |"_qs);
        session.handleOutputLine(u"INF Registered tunnel connection connIndex=0"_qs);
        QCOMPARE(session.publicHealth(), HealthState::checking());
        QVERIFY(checked.wait(10000));
        if (edge)
            QCOMPARE(session.publicHealth(), expected);
        QCOMPARE(session.status(), TunnelStatus::online()); // health never changes the status
        QCOMPARE(probed,
            localUp ? QList<QUrl> { QUrl(u"https://four-random-words-here.trycloudflare.com"_qs) } : QList<QUrl> {});
    }

    void quickEditsMakeOneCheckAndTheMonitorRepeatsUntilShutdown()
    {
        const qsizetype requests = m_http.requests().size();
        TunnelProfile profile = localProfile(m_http.port());
        Timings timings = quickTimings();
        timings.monitorPause = 150ms;
        TunnelSession session(profile, {}, noChild(timings));
        QSignalSpy checked(&session, &TunnelSession::healthChecked);
        // Only the last edit points at a live service: an undelayed check would see a dead one.
        const quint16 dead = LocalHttpServer::unusedPort();
        for (int i = 0; i < 5; ++i) {
            profile.portText = QString::number(i < 4 ? dead : m_http.port());
            session.setProfile(profile);
        }
        QVERIFY(checked.wait(10000));
        QCOMPARE(session.localHealth(), HealthState::healthy());
        QVERIFY(!checked.wait(3 * int(timings.healthDebounce.count())));
        QCOMPARE(checked.size(), 1);
        QCOMPARE(m_http.requests().size(), requests + 1);
        // Even checks that validation refuses keep the monitor going.
        profile.host = u"a/b"_qs;
        session.setProfile(profile);
        session.beginMonitoring();
        QTRY_VERIFY_WITH_TIMEOUT(checked.size() >= 4, 10000);
        session.shutdown();
        checked.clear();
        session.setProfile(profile);
        QVERIFY(!checked.wait(750));
    }
};

QTEST_GUILESS_MAIN(TestHealthMonitor)
#include "TestHealthMonitor.moc"
