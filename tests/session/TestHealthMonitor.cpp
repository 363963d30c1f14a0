#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "session/HealthMonitor.h"
#include "session/OriginAdvice.h"
#include "session/ProbeNetwork.h"
#include "session/TunnelSession.h"

#include <QElapsedTimer>
#include <QtTest>

#include <map>
#include <sys/resource.h>

using namespace std::chrono_literals;

namespace {

// What real servers answer, bodies included (a plain-HTTP request on a TLS port, a redirect).
QByteArray answer(const QByteArray &status, const QByteArray &headers, const QByteArray &body)
{
    return "HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " + QByteArray::number(body.size())
        + "\r\nConnection: close\r\n\r\n" + body;
}

const QByteArray nginxPlainToTls = answer("400 Bad Request", "Server: nginx/1.22.1\r\nContent-Type: text/html\r\n",
    "<html>\r\n<head><title>400 The plain HTTP request was sent to HTTPS port</title></head>\r\n<body>\r\n<center>"
    "<h1>400 Bad Request</h1></center>\r\n<center>The plain HTTP request was sent to HTTPS port</center>\r\n</body>"
    "\r\n</html>\r\n");
const QByteArray apachePlainToTls = answer("400 Bad Request", "Server: Apache/2.4.57 (Debian)\r\n",
    "<html><head>\n<title>400 Bad Request</title>\n</head><body>\n<h1>Bad Request</h1>\n<p>Your browser sent a "
    "request that this server could not understand.<br />\nReason: You're speaking plain HTTP to an SSL-enabled "
    "server port.<br />\n Instead use the HTTPS scheme to access this URL, please.<br />\n</p>\n</body></html>\n");
const QByteArray caddyPlainToTls = "HTTP/1.0 400 Bad Request\r\n\r\nClient sent an HTTP request to an HTTPS server.\n";

QByteArray redirect(quint16 port)
{
    return answer("301 Moved Permanently", "Location: https://127.0.0.1:" + QByteArray::number(port) + "/\r\n",
        "<html>\r\n<head><title>301 Moved Permanently</title></head>\r\n</html>\r\n");
}

int openDescriptors()
{
    return int(QDir(u"/proc/self/fd"_qs).entryList(QDir::Files | QDir::System).size());
}

const HealthState localDown = HealthState::unhealthy(QStringLiteral("本地服务不可访问"));

} // namespace

class TestHealthMonitor : public QObject
{
    Q_OBJECT

    std::optional<TestCertificate> m_certificate;
    std::map<QString, std::unique_ptr<LocalHttpServer>> m_servers;
    QTemporaryDir m_fakeDir;
    FakeCloudflared m_fake { m_fakeDir.path() };

    LocalHttpServer &server(const QString &name) { return *m_servers.at(name); }

    LocalHttpServer &add(const QString &name, bool tls, const QByteArray &plainAnswer = {})
    {
        auto &server = m_servers[name] = std::make_unique<LocalHttpServer>();
        server->setPlainAnswer(plainAnswer);
        if (!(tls ? server->listenHttps(*m_certificate) : server->listenHttp()))
            qFatal("cannot listen");
        return *server;
    }

    /// A check follows going online at once.
    static Timings timings()
    {
        Timings timings = quickTimings();
        timings.postOnlineCheck = 50ms;
        return timings;
    }

    SessionDependencies dependencies(Timings timings = TestHealthMonitor::timings(), PublicProbe probe = {}) const
    {
        return { timings, m_fake.locator(), probe ? probe : answeringPublicProbe({ true, 404, {} }) };
    }

    /// \a count sessions for \a port that begin monitoring together, each check reported to \a checked.
    static std::vector<std::unique_ptr<TunnelSession>> monitoring(
        int count, quint16 port, const SessionDependencies &dependencies, const std::function<void()> &checked)
    {
        std::vector<std::unique_ptr<TunnelSession>> sessions;
        for (int i = 0; i < count; ++i) {
            sessions.push_back(std::make_unique<TunnelSession>(localProfile(port), nullptr, dependencies));
            QObject::connect(sessions.back().get(), &TunnelSession::healthChecked, checked);
            sessions.back()->beginMonitoring();
        }
        return sessions;
    }

private slots:
    void initTestCase()
    {
        m_certificate = TestCertificate::generate();
        QVERIFY(m_certificate && m_fake.install(FakeCloudflared::onlineBody()));
        add(u"node"_qs, true); // closes a plain request's connection
        add(u"nginx"_qs, true, nginxPlainToTls);
        add(u"apache"_qs, true, apachePlainToTls);
        add(u"caddy"_qs, true, caddyPlainToTls);
        LocalHttpServer &nginx497 = add(u"nginx 497"_qs, true);
        nginx497.setPlainAnswer(redirect(nginx497.port()));
        add(u"redirect to another port"_qs, false).setAnswer(redirect(server(u"node"_qs).port()));
        add(u"plain"_qs, false);
        add(u"plain 400"_qs, false).setStatusCode(400);
        add(u"silent"_qs, false).setSilent(true);
    }

    // Each server checked while stopped, then started: the scheme a visitor is served by is the one
    // chosen, and what keeps visitors from the site is said in both tiles, in the log or as the failure.
    void detection_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<OriginScheme>("scheme");
        QTest::addColumn<bool>("skipTLS");
        QTest::addColumn<QString>("chosen"); // none: the start is refused with the problem
        QTest::addColumn<QString>("problem"); // none: healthy
        QTest::addColumn<QByteArrayList>("requests"); // what the server saw while stopped, in order
        const QString certificate = OriginAdvice::untrustedCertificateText();
        const QByteArray head = "HEAD / HTTP/1.1";
        const auto automatic = OriginScheme::automatic;
        const auto row = [](const QString &server, OriginScheme scheme, bool skip, const QString &chosen,
                             const QString &problem, const QByteArrayList &requests = {}) {
            QTest::addRow("%s, %s, switch %s", qPrintable(server), qPrintable(rawValue(scheme)), skip ? "on" : "off")
                << server << scheme << skip << chosen << problem << requests;
        };
        // Plain HTTP goes first and, when it answers, alone.
        row(u"plain"_qs, automatic, true, u"http"_qs, {}, { head });
        row(u"plain"_qs, OriginScheme::https, true, {}, localDown.message, { "TLS" });
        row(u"plain 400"_qs, automatic, true, u"http"_qs, {}, { head, "TLS" });
        for (const char *tls : { "nginx", "apache", "caddy", "nginx 497" })
            row(QString::fromLatin1(tls), automatic, true, u"https"_qs, {}, { "plain " + head, head });
        row(u"node"_qs, automatic, true, u"https"_qs, {}, { head });
        row(u"node"_qs, automatic, false, {}, certificate);
        row(u"node"_qs, OriginScheme::https, true, u"https"_qs, {}, { head });
        row(u"node"_qs, OriginScheme::https, false, {}, certificate);
        row(u"redirect to another port"_qs, automatic, true, u"http"_qs,
            OriginAdvice::strandingRedirectText(u"https://127.0.0.1:%1/"_qs.arg(server(u"node"_qs).port())));
        row(u"silent"_qs, automatic, true, {},
            OriginAdvice::silentText(u"127.0.0.1:%1"_qs.arg(server(u"silent"_qs).port()), 1500ms), { head });
    }

    void detection()
    {
        QFETCH(QString, server);
        QFETCH(OriginScheme, scheme);
        QFETCH(bool, skipTLS);
        QFETCH(QString, chosen);
        QFETCH(QString, problem);
        QFETCH(QByteArrayList, requests);
        LocalHttpServer &probed = this->server(server);
        const qsizetype before = probed.requests().size();
        const QString origin = chosen.isEmpty() ? QString() : chosen + u"://127.0.0.1:%1"_qs.arg(probed.port());
        const HealthState local = problem.isEmpty() ? HealthState::healthy() : HealthState::unhealthy(problem);
        TunnelSession tunnel(localProfile(probed.port(), scheme, skipTLS), nullptr, dependencies());
        QSignalSpy checked(&tunnel, &TunnelSession::healthChecked);

        QElapsedTimer clock;
        clock.start();
        tunnel.beginMonitoring();
        QVERIFY(checked.wait(10000));
        // A silent port costs one probe time-out, not one per scheme.
        QVERIFY2(clock.elapsed() < 2900, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(tunnel.localHealth(), local);
        QCOMPARE(tunnel.activeOrigin(), origin);
        if (!requests.isEmpty())
            QCOMPARE(probed.requests().mid(before), requests);

        const int runs = m_fake.runs();
        tunnel.start();
        if (chosen.isEmpty()) {
            const QString address = u"127.0.0.1:%1"_qs.arg(probed.port());
            const QString refusal
                = local == localDown ? TunnelError::originUnavailable(address).description() : problem;
            QTRY_COMPARE_WITH_TIMEOUT(tunnel.status(), TunnelStatus::failed(refusal), 10000);
            QCOMPARE(m_fake.runs(), runs);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(tunnel.status(), TunnelStatus::online(), 10000);
        const QByteArrayList argv = m_fake.record("argv").split('\n');
        QCOMPARE(argv.at(argv.indexOf("--url") + 1), origin.toUtf8());
        QStringList warnings;
        for (const ActivityEntry &entry : tunnel.activity()) {
            if (entry.level == ActivityLevel::warning)
                warnings << entry.message;
        }
        QCOMPARE(warnings, problem.isEmpty() ? QStringList() : QStringList { problem });
        QCOMPARE(tunnel.localHealth(), local);
        // Visitors get what the origin gives cloudflared: the public side is no healthier.
        QTRY_COMPARE_WITH_TIMEOUT(tunnel.publicHealth(), local, 10000);
        tunnel.shutdown();
        QTRY_VERIFY(!tunnel.hasChild());
    }

    // A tunnel forwarding plain HTTP to a service that moved to TLS on its port serves error pages.
    void serviceMovedToTlsWhileOnline()
    {
        LocalHttpServer service;
        QVERIFY(service.listenHttp());
        TunnelSession tunnel(localProfile(service.port(), OriginScheme::automatic, true), nullptr, dependencies());
        tunnel.start();
        QTRY_COMPARE_WITH_TIMEOUT(tunnel.publicHealth(), HealthState::healthy(), 10000);
        QVERIFY(service.listenHttps(*m_certificate, service.port()));
        service.setPlainAnswer(nginxPlainToTls);
        QSignalSpy checked(&tunnel, &TunnelSession::healthChecked);
        tunnel.requestImmediateHealthCheck();
        QVERIFY(checked.wait(10000));
        QCOMPARE(tunnel.localHealth(), HealthState::healthy());
        QCOMPARE(tunnel.publicHealth(),
            HealthState::unhealthy(OriginAdvice::schemeMismatchText(tunnel.activeOrigin(), OriginScheme::https)));
        QVERIFY(tunnel.publicHealth().message.contains(u"HTTPS"_qs));
        tunnel.shutdown();
        QTRY_VERIFY(!tunnel.hasChild());
    }

    void redirectTargets_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("location");
        QTest::addColumn<bool>("strands"); // visitors would land on their own machine or network
        const auto row = [](const char *name, int status, const char *location, bool strands) {
            QTest::newRow(name) << status << QString::fromLatin1(location) << strands;
        };
        row("loopback", 302, "http://127.0.0.1:3000/login", true);
        row("IPv6 loopback", 307, "https://[::1]:8443/", true);
        row("mapped IPv4 loopback", 301, "https://[::ffff:127.0.0.1]/", true);
        row("localhost, any case", 302, "https://LocalHost:8443/", true);
        row("single-label name", 302, "http://devbox:8080/", true);
        row("172.16/12", 302, "http://172.31.255.1/", true);
        row("outside 172.16/12", 302, "http://172.32.0.1/", false);
        row("public name", 301, "https://example.com/", false);
        row("relative stays on the public address", 302, "/login", false);
        row("not a redirect", 200, "http://127.0.0.1/", false);
    }

    void redirectTargets()
    {
        QFETCH(int, status);
        QFETCH(QString, location);
        QFETCH(bool, strands);
        const ProbeOutcome outcome { true, status, {}, ProbeOutcome::Failure::none, location };
        QCOMPARE(!OriginAdvice::strandingRedirect(outcome).isEmpty(), strands);
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
        TunnelSession session(localProfile(localUp ? server(u"plain"_qs).port() : LocalHttpServer::unusedPort()), {},
            dependencies(timings(), probe));
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
        LocalHttpServer &live = server(u"plain"_qs);
        const qsizetype requests = live.requests().size();
        TunnelProfile profile = localProfile(live.port());
        Timings timings = quickTimings();
        timings.monitorPause = 150ms;
        TunnelSession session(profile, {}, dependencies(timings));
        QSignalSpy checked(&session, &TunnelSession::healthChecked);
        // Only the last edit points at a live service: an undelayed check would see a dead one.
        const quint16 dead = LocalHttpServer::unusedPort();
        for (int i = 0; i < 5; ++i) {
            profile.portText = QString::number(i < 4 ? dead : live.port());
            session.setProfile(profile);
        }
        QVERIFY(checked.wait(10000));
        QCOMPARE(session.localHealth(), HealthState::healthy());
        QVERIFY(!checked.wait(3 * int(timings.healthDebounce.count())));
        QCOMPARE(checked.size(), 1);
        QCOMPARE(live.requests().size(), requests + 1);
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

    void probeQueue_data()
    {
        QTest::addColumn<int>("bound");
        QTest::addColumn<int>("checks");
        QTest::addColumn<QList<int>>("withdrawn"); // released while still waiting
        QTest::addColumn<QList<int>>("order");
        QTest::newRow("more than the bound, in order, none dropped")
            << 2 << 7 << QList<int> {} << QList<int> { 0, 1, 2, 3, 4, 5, 6 };
        QTest::newRow("withdrawn checks never run") << 1 << 5 << QList<int> { 1, 3 } << QList<int> { 0, 2, 4 };
    }

    void probeQueue()
    {
        QFETCH(int, bound);
        QFETCH(int, checks);
        QFETCH(QList<int>, withdrawn);
        QFETCH(QList<int>, order);
        ProbeNetwork network(bound);
        QList<int> ran;
        int mostInFlight = 0;
        QList<ProbeNetwork::Ticket> tickets;
        for (int i = 0; i < checks; ++i) {
            tickets << network.enqueue([&, i] {
                ran << i;
                mostInFlight = std::max(mostInFlight, network.inFlight());
                // Each check ends a moment later, from the event loop.
                QTimer::singleShot(1ms, &network, [&network, &tickets, i] { network.release(tickets.at(i)); });
            });
        }
        for (const int i : withdrawn)
            network.release(tickets.at(i));
        QTRY_COMPARE_WITH_TIMEOUT(ran.size(), order.size(), 5000);
        QTRY_COMPARE(network.inFlight(), 0);
        QCOMPARE(ran, order);
        QCOMPARE(network.waiting(), 0);
        QCOMPARE(mostInFlight, std::min(bound, int(order.size())));
    }

    void firstChecksSpreadOut()
    {
        // Sessions beginning together check one after the other, however quickly each check ends.
        Timings timings = quickTimings();
        timings.firstCheckSpacing = 40ms;
        int checked = 0;
        QElapsedTimer clock;
        clock.start();
        const auto sessions
            = monitoring(3, LocalHttpServer::unusedPort(), dependencies(timings), [&checked] { ++checked; });
        QTRY_COMPARE(checked, 3);
        QVERIFY2(clock.elapsed() >= 80, qPrintable(QString::number(clock.elapsed())));
    }

    // Many services checking together under a low descriptor limit: no descriptor runs out, no check
    // is lost, and the local services never see more connections at once than the bound. A refused
    // connection must not stay cached per port either, or a thousand services hold a thousand
    // descriptors for minutes.
    void manyServicesStayWithinTheDescriptorLimit()
    {
        constexpr int services = 150;
        constexpr int bound = 8;
        LocalHttpServer server;
        server.setAnswerDelay(50ms);
        QVERIFY(server.listenHttp());
        rlimit original {};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &original) == 0);
        const int before = openDescriptors();
        rlimit lowered = original;
        lowered.rlim_cur = rlim_t(before + 120);
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &lowered) == 0);
        const auto restore = qScopeGuard([&original] { ::setrlimit(RLIMIT_NOFILE, &original); });

        Timings timings = quickTimings();
        timings.firstCheckSpacing = 0ms; // all at once: only the bound holds them back
        SessionDependencies dependencies = this->dependencies(timings);
        dependencies.network = std::make_shared<ProbeNetwork>(bound);
        int checked = 0;
        int mostDescriptors = before;
        const auto count = [&] {
            ++checked;
            mostDescriptors = std::max(mostDescriptors, openDescriptors());
        };
        // A service per port, none answering, first.
        std::vector<std::unique_ptr<TunnelSession>> sessions;
        for (int i = 0; i < 100; ++i)
            sessions.push_back(std::move(monitoring(1, LocalHttpServer::unusedPort(), dependencies, count).front()));
        QTRY_COMPARE_WITH_TIMEOUT(checked, 100, 60000);
        QVERIFY2(openDescriptors() - before <= 24, qPrintable(QString::number(openDescriptors() - before)));
        checked = 0;
        sessions = monitoring(services, server.port(), dependencies, count);
        QTRY_COMPARE_WITH_TIMEOUT(checked, services, 60000);
        for (const auto &session : sessions)
            QCOMPARE(session->localHealth(), HealthState::healthy());
        QVERIFY2(server.mostConnectionsAtOnce() <= bound, qPrintable(QString::number(server.mostConnectionsAtOnce())));
        // Two ends per connection, plus the two managers' own.
        QVERIFY2(mostDescriptors - before <= 2 * bound + 24, qPrintable(QString::number(mostDescriptors - before)));
    }
};

QTEST_GUILESS_MAIN(TestHealthMonitor)
#include "TestHealthMonitor.moc"
