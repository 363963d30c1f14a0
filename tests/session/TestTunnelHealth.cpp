#include "LocalHttpServer.h"
#include "SessionTestHelpers.h"
#include "session/OriginProbe.h"

#include <QSignalSpy>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

Timings quickHealth()
{
    Timings timings;
    timings.monitorPause = 1h;
    timings.healthDebounce = 200ms;
    timings.postOnlineCheck = 50ms;
    timings.localProbeTimeout = 1500ms;
    timings.probeGrace = 500ms;
    return timings;
}

const QString urlLine = QStringLiteral("INF |  https://four-random-words-here.trycloudflare.com  |");
const QString registeredLine = QStringLiteral("INF Registered tunnel connection connIndex=0");

} // namespace

class TestTunnelHealth : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void probe_data();
    void probe();
    void localDetection_data();
    void localDetection();
    void startFailsWhenNothingAnswers();
    void publicHealth_data();
    void publicHealth();
    void judgePublicProbe_data();
    void judgePublicProbe();
    void publicAnswerAfterStopIsIgnored();
    void fiveQuickEditsMakeOneCheck();
    void checkDuringACheckIsDropped();
    void monitorRepeatsUntilShutdown_data();
    void monitorRepeatsUntilShutdown();
    void stopDuringPreparationWhileProbeHangs();

private:
    LocalHttpServer m_http;
    LocalHttpServer m_https;
    LocalHttpServer m_silent;
};

void TestTunnelHealth::initTestCase()
{
    QVERIFY(m_http.listenHttp());
    const auto certificate = TestCertificate::generate();
    QVERIFY(certificate);
    QVERIFY(m_https.listenHttps(*certificate));
    m_silent.setSilent(true);
    QVERIFY(m_silent.listenHttp());
}

void TestTunnelHealth::probe_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("allowInvalid");
    QTest::addColumn<int>("serverStatus");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<int>("status");
    const QString http = QStringLiteral("http://127.0.0.1:%1/").arg(m_http.port());
    const QString https = QStringLiteral("https://127.0.0.1:%1/").arg(m_https.port());
    QTest::newRow("404 is an answer") << http << false << 404 << true << 404;
    QTest::newRow("500 is an answer") << http << false << 500 << true << 500;
    QTest::newRow("self-signed refused") << https << false << 200 << false << 0;
    QTest::newRow("self-signed accepted") << https << true << 200 << true << 200;
    QTest::newRow("nothing listens")
        << QStringLiteral("http://127.0.0.1:%1/").arg(LocalHttpServer::unusedPort()) << false << 200 << false << 0;
    QTest::newRow("no answer in time") << QStringLiteral("http://127.0.0.1:%1/").arg(m_silent.port()) << false << 200
                                       << false << 0;
    QTest::newRow("not a URL") << QStringLiteral("http://exa mple/") << false << 200 << false << -1;
}

void TestTunnelHealth::probe()
{
    QFETCH(QString, url);
    QFETCH(bool, allowInvalid);
    QFETCH(int, serverStatus);
    QFETCH(bool, reachable);
    QFETCH(int, status);
    m_http.setStatusCode(serverStatus);
    m_https.setStatusCode(serverStatus);
    OriginProbe probe;
    QSignalSpy finished(&probe, &OriginProbe::finished);
    probe.start({url, allowInvalid, 600ms, 300ms, OriginProbe::Route::direct});
    QCOMPARE(finished.size(), 0); // never from inside start()
    QVERIFY(finished.wait(10000));
    const auto outcome = finished.constFirst().constFirst().value<ProbeOutcome>();
    QCOMPARE(outcome.reachable, reachable);
    QCOMPARE(outcome.statusCode, reachable ? std::optional<int>(status) : std::nullopt);
    QCOMPARE(outcome.message.isEmpty(), reachable);
    if (status < 0)
        QCOMPARE(outcome.message, QStringLiteral("地址无效"));
    QVERIFY(!finished.wait(100));
}

void TestTunnelHealth::localDetection_data()
{
    QTest::addColumn<int>("server"); // 0 http, 1 https, 2 none
    QTest::addColumn<OriginScheme>("scheme");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("skipTLS");
    QTest::addColumn<HealthState>("local");
    QTest::addColumn<QString>("origin");
    const HealthState unreachable = HealthState::unhealthy(QStringLiteral("本地服务不可访问"));
    QTest::newRow("automatic, HTTP only") << 0 << OriginScheme::automatic << "127.0.0.1" << true
                                          << HealthState::healthy() << "http";
    QTest::newRow("automatic, self-signed HTTPS, switch on")
        << 1 << OriginScheme::automatic << " 127.0.0.1\n" << true << HealthState::healthy() << "https";
    QTest::newRow("automatic, self-signed HTTPS, switch off")
        << 1 << OriginScheme::automatic << "127.0.0.1" << false << unreachable << "";
    QTest::newRow("https, self-signed, switch off") << 1 << OriginScheme::https << "127.0.0.1" << false << unreachable
                                                    << "";
    QTest::newRow("http, switch has no effect") << 0 << OriginScheme::http << "127.0.0.1" << true
                                                << HealthState::healthy() << "http";
    QTest::newRow("nothing listens") << 2 << OriginScheme::automatic << "127.0.0.1" << true << unreachable << "";
    QTest::newRow("invalid host, no request")
        << 0 << OriginScheme::automatic << "127.0.0.1 x" << true
        << HealthState::unhealthy(TunnelError::invalidHost().description()) << "";
}

void TestTunnelHealth::localDetection()
{
    QFETCH(int, server);
    QFETCH(OriginScheme, scheme);
    QFETCH(QString, host);
    QFETCH(bool, skipTLS);
    QFETCH(HealthState, local);
    QFETCH(QString, origin);
    const quint16 port = server == 0 ? m_http.port() : server == 1 ? m_https.port() : LocalHttpServer::unusedPort();
    m_http.setStatusCode(404);
    const int requestsBefore = m_http.requests().size();
    TunnelProfile profile = localProfile(port, scheme, skipTLS);
    profile.host = host;
    TunnelSession session(profile, {}, quickHealth());
    QSignalSpy checked(&session, &TunnelSession::healthChecked);
    session.beginMonitoring();
    QVERIFY(checked.wait(10000));
    QCOMPARE(session.localHealth(), local);
    QCOMPARE(session.publicHealth(), HealthState::inactive());
    QVERIFY(session.lastCheckedAt());
    const QString expectedOrigin = origin.isEmpty() ? QString() : origin + QStringLiteral("://127.0.0.1:%1").arg(port);
    QCOMPARE(session.activeOrigin(), expectedOrigin);
    if (local.message == TunnelError::invalidHost().description())
        QCOMPARE(m_http.requests().size(), requestsBefore);
    session.shutdown();
}

void TestTunnelHealth::startFailsWhenNothingAnswers()
{
    const quint16 port = LocalHttpServer::unusedPort();
    TunnelProfile profile = localProfile(port, OriginScheme::automatic);
    profile.host = QStringLiteral(" 127.0.0.1 ");
    TunnelSession session(profile, {}, quickHealth());
    session.start();
    QTRY_VERIFY(session.status().is(TunnelStatus::Kind::failed));
    const QString message = TunnelError::originUnavailable(QStringLiteral(" 127.0.0.1 :%1").arg(port)).description();
    QCOMPARE(session.status(), TunnelStatus::failed(message));
    QCOMPARE(session.localHealth(), HealthState::unhealthy(message));
    QCOMPARE(messages(session), QStringList({QStringLiteral("正在检查本地服务…"), message}));
}

void TestTunnelHealth::publicHealth_data()
{
    QTest::addColumn<bool>("localUp");
    QTest::addColumn<ProbeOutcome>("outcome");
    QTest::addColumn<HealthState>("expected");
    QTest::newRow("404 is healthy") << true << ProbeOutcome{true, 404, {}} << HealthState::healthy();
    for (int status : {500, 502, 530}) {
        QTest::addRow("%d is unhealthy", status)
            << true << ProbeOutcome{true, status, {}}
            << HealthState::unhealthy(QStringLiteral("公网返回 HTTP %1").arg(status));
    }
    QTest::newRow("unreachable with the edge connected")
        << true << ProbeOutcome{false, std::nullopt, QStringLiteral("Host not found")}
        << HealthState::unhealthy(QStringLiteral("边缘已连接，但本机网络无法访问公网域名"));
    QTest::newRow("local service down") << false << ProbeOutcome{true, 200, {}}
                                        << HealthState::unhealthy(QStringLiteral("本地服务不可访问"));
}

void TestTunnelHealth::publicHealth()
{
    QFETCH(bool, localUp);
    QFETCH(ProbeOutcome, outcome);
    QFETCH(HealthState, expected);
    QList<QUrl> probed;
    TunnelSession::setPublicProbe([&](const QUrl &url, std::chrono::milliseconds timeout, QObject *context,
                                      std::function<void(const ProbeOutcome &)> done) {
        probed << url;
        QCOMPARE(timeout, Timings{}.publicProbeTimeout);
        QTimer::singleShot(10, context, [done, outcome] { done(outcome); });
    });
    const quint16 port = localUp ? m_http.port() : LocalHttpServer::unusedPort();
    TunnelSession session(localProfile(port), {}, quickHealth());
    QSignalSpy checked(&session, &TunnelSession::healthChecked);
    session.handleOutputLine(urlLine);
    session.handleOutputLine(registeredLine);
    QCOMPARE(session.publicHealth(), HealthState::checking());
    QVERIFY(checked.wait(10000));
    QCOMPARE(session.publicHealth(), expected);
    QCOMPARE(session.status(), TunnelStatus::online()); // health never changes the status
    QCOMPARE(probed, localUp ? QList<QUrl>{QUrl(QStringLiteral("https://four-random-words-here.trycloudflare.com"))}
                             : QList<QUrl>{});
    TunnelSession::setPublicProbe({});
}

void TestTunnelHealth::judgePublicProbe_data()
{
    QTest::addColumn<ProbeOutcome>("outcome");
    QTest::addColumn<bool>("edge");
    QTest::addColumn<HealthState>("expected");
    const ProbeOutcome refused{false, std::nullopt, QStringLiteral("Connection refused")};
    QTest::newRow("499") << ProbeOutcome{true, 499, {}} << true << HealthState::healthy();
    QTest::newRow("no status") << ProbeOutcome{true, std::nullopt, {}} << true << HealthState::healthy();
    QTest::newRow("unreachable, edge") << refused << true
                                       << HealthState::unhealthy(QStringLiteral("边缘已连接，但本机网络无法访问公网域名"));
    QTest::newRow("unreachable, no edge") << refused << false << HealthState::unhealthy(refused.message);
    QTest::newRow("unreachable, no edge, no reason")
        << ProbeOutcome{} << false << HealthState::unhealthy(QStringLiteral("公网链接不可访问"));
}

void TestTunnelHealth::judgePublicProbe()
{
    QFETCH(ProbeOutcome, outcome);
    QFETCH(bool, edge);
    QFETCH(HealthState, expected);
    QCOMPARE(TunnelSession::judgePublicProbe(outcome, edge), expected);
}

void TestTunnelHealth::publicAnswerAfterStopIsIgnored()
{
    std::function<void(const ProbeOutcome &)> answer;
    TunnelSession::setPublicProbe([&](const QUrl &, std::chrono::milliseconds, QObject *,
                                      std::function<void(const ProbeOutcome &)> done) { answer = done; });
    TunnelSession session(localProfile(m_http.port()), {}, quickHealth());
    QSignalSpy checked(&session, &TunnelSession::healthChecked);
    session.handleOutputLine(urlLine);
    session.handleOutputLine(registeredLine);
    QTRY_VERIFY(answer);
    session.stop();
    answer({true, 404, {}});
    QCOMPARE(checked.size(), 1);
    QCOMPARE(session.publicHealth(), HealthState::inactive());
    TunnelSession::setPublicProbe({});
}

void TestTunnelHealth::fiveQuickEditsMakeOneCheck()
{
    const int before = m_http.requests().size();
    TunnelProfile profile = localProfile(m_http.port());
    TunnelSession session(profile, {}, quickHealth());
    QSignalSpy checked(&session, &TunnelSession::healthChecked);
    // Only the last edit points at a live service: an undelayed check would see a dead one.
    const quint16 dead = LocalHttpServer::unusedPort();
    for (int i = 0; i < 5; ++i) {
        profile.portText = QString::number(i < 4 ? dead : m_http.port());
        session.setProfile(profile);
        QCOMPARE(session.localHealth(), HealthState::checking());
    }
    QVERIFY(checked.wait(10000));
    QCOMPARE(session.localHealth(), HealthState::healthy());
    QVERIFY(!checked.wait(3 * int(quickHealth().healthDebounce.count())));
    QCOMPARE(checked.size(), 1);
    QCOMPARE(m_http.requests().size(), before + 1);
}

void TestTunnelHealth::checkDuringACheckIsDropped()
{
    TunnelProfile profile = localProfile(m_silent.port());
    TunnelSession session(profile, {}, quickHealth());
    QSignalSpy checked(&session, &TunnelSession::healthChecked);
    const int connections = m_silent.connectionCount();
    session.beginMonitoring();
    QTRY_COMPARE(m_silent.connectionCount(), connections + 1);
    const int requests = m_http.requests().size();
    profile.portText = QString::number(m_http.port());
    session.setProfile(profile); // its debounced check comes while the first one hangs
    QVERIFY(checked.wait(10000));
    QCOMPARE(session.localHealth(), HealthState::unhealthy(QStringLiteral("本地服务不可访问")));
    QVERIFY(!checked.wait(500));
    QCOMPARE(m_http.requests().size(), requests);
}

void TestTunnelHealth::monitorRepeatsUntilShutdown_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("service answers") << QStringLiteral("127.0.0.1");
    QTest::newRow("host refused by validation") << QStringLiteral("a/b");
}

void TestTunnelHealth::monitorRepeatsUntilShutdown()
{
    QFETCH(QString, host);
    Timings timings = quickHealth();
    timings.monitorPause = 150ms;
    TunnelProfile profile = localProfile(m_http.port());
    profile.host = host;
    TunnelSession session(profile, {}, timings);
    QSignalSpy checked(&session, &TunnelSession::healthChecked);
    session.beginMonitoring();
    session.beginMonitoring(); // a second call starts no second loop
    QTRY_VERIFY_WITH_TIMEOUT(checked.size() >= 3, 10000);
    session.shutdown();
    const int requests = m_http.requests().size();
    checked.clear();
    session.setProfile(profile);
    QVERIFY(!checked.wait(5 * int(timings.monitorPause.count())));
    QCOMPARE(m_http.requests().size(), requests);
}

void TestTunnelHealth::stopDuringPreparationWhileProbeHangs()
{
    TunnelSession session(localProfile(m_silent.port()), {}, quickHealth());
    const int connections = m_silent.connectionCount();
    session.start();
    QCOMPARE(session.status(), TunnelStatus::preparing());
    QTRY_COMPARE(m_silent.connectionCount(), connections + 1);
    session.stop();
    QCOMPARE(session.status(), TunnelStatus::idle());
    QSignalSpy changes(&session, &TunnelSession::changed);
    const Timings timings = quickHealth();
    QVERIFY(!changes.wait(int((timings.localProbeTimeout + timings.probeGrace).count()) + 500));
    QCOMPARE(session.status(), TunnelStatus::idle());
    QCOMPARE(session.localHealth(), HealthState::unknown());
    QCOMPARE(messages(session), QStringList{QStringLiteral("正在检查本地服务…")});
}

QTEST_GUILESS_MAIN(TestTunnelHealth)
#include "TestTunnelHealth.moc"
