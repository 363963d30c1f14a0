#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "session/OriginAdvice.h"
#include "session/TunnelSession.h"

#include <QElapsedTimer>
#include <QtTest>

#include <map>

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

QStringList warnings(const TunnelSession &session)
{
    QStringList result;
    for (const ActivityEntry &entry : session.activity()) {
        if (entry.level == ActivityLevel::warning)
            result << entry.message;
    }
    return result;
}

} // namespace

class TestOriginDetection : public QObject
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

    std::unique_ptr<TunnelSession> session(const TunnelProfile &profile)
    {
        Timings timings = quickTimings();
        timings.postOnlineCheck = 50ms;
        return std::make_unique<TunnelSession>(profile, nullptr,
            SessionDependencies { timings, m_fake.locator(), answeringPublicProbe({ true, 404, {} }) });
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
        const QString certificate = OriginAdvice::untrustedCertificateText();
        const QString silent = OriginAdvice::silentText(u"127.0.0.1:%1"_qs.arg(server(u"silent"_qs).port()), 1500ms);
        const QString stranding
            = OriginAdvice::strandingRedirectText(u"https://127.0.0.1:%1/"_qs.arg(server(u"node"_qs).port()));
        const auto automatic = OriginScheme::automatic;
        for (const bool skip : { true, false }) {
            const auto row
                = [skip](const QString &server, OriginScheme scheme, const QString &chosen, const QString &problem) {
                      QTest::addRow(
                          "%s, %s, switch %s", qPrintable(server), qPrintable(rawValue(scheme)), skip ? "on" : "off")
                          << server << scheme << skip << chosen << problem;
                  };
            for (const char *tls : { "nginx", "apache", "caddy", "nginx 497", "node" })
                row(QString::fromLatin1(tls), automatic, skip ? u"https"_qs : QString(),
                    skip ? QString() : certificate);
            row(u"node"_qs, OriginScheme::https, skip ? u"https"_qs : QString(), skip ? QString() : certificate);
            row(u"redirect to another port"_qs, automatic, u"http"_qs, stranding);
            row(u"plain 400"_qs, automatic, u"http"_qs, {});
            row(u"silent"_qs, automatic, {}, silent);
            row(u"silent"_qs, OriginScheme::http, {}, silent);
        }
    }

    void detection()
    {
        QFETCH(QString, server);
        QFETCH(OriginScheme, scheme);
        QFETCH(bool, skipTLS);
        QFETCH(QString, chosen);
        QFETCH(QString, problem);
        const quint16 port = this->server(server).port();
        const QString origin = chosen.isEmpty() ? QString() : chosen + u"://127.0.0.1:%1"_qs.arg(port);
        const HealthState local = problem.isEmpty() ? HealthState::healthy() : HealthState::unhealthy(problem);
        const auto tunnel = session(localProfile(port, scheme, skipTLS));
        QSignalSpy checked(tunnel.get(), &TunnelSession::healthChecked);

        QElapsedTimer clock;
        clock.start();
        tunnel->beginMonitoring();
        QVERIFY(checked.wait(10000));
        // A silent port costs one probe time-out, not one per scheme.
        QVERIFY2(clock.elapsed() < 2900, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(tunnel->localHealth(), local);
        QCOMPARE(tunnel->activeOrigin(), origin);

        const int runs = m_fake.runs();
        tunnel->start();
        if (chosen.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(tunnel->status(), TunnelStatus::failed(problem), 10000);
            QCOMPARE(m_fake.runs(), runs);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(tunnel->status(), TunnelStatus::online(), 10000);
        const QByteArrayList argv = m_fake.record("argv").split('\n');
        QCOMPARE(argv.at(argv.indexOf("--url") + 1), origin.toUtf8());
        QCOMPARE(warnings(*tunnel), problem.isEmpty() ? QStringList() : QStringList { problem });
        QCOMPARE(tunnel->localHealth(), local);
        // Visitors get what the origin gives cloudflared: the public side is no healthier.
        QTRY_COMPARE_WITH_TIMEOUT(tunnel->publicHealth(),
            problem.isEmpty() ? HealthState::healthy() : HealthState::unhealthy(problem), 10000);
        tunnel->shutdown();
        QTRY_VERIFY(!tunnel->hasChild());
    }

    // A tunnel forwarding plain HTTP to a service that moved to TLS on its port serves error pages.
    void serviceMovedToTlsWhileOnline()
    {
        LocalHttpServer service;
        QVERIFY(service.listenHttp());
        const auto tunnel = session(localProfile(service.port(), OriginScheme::automatic, true));
        tunnel->start();
        QTRY_COMPARE_WITH_TIMEOUT(tunnel->publicHealth(), HealthState::healthy(), 10000);
        QVERIFY(service.listenHttps(*m_certificate, service.port()));
        service.setPlainAnswer(nginxPlainToTls);
        QSignalSpy checked(tunnel.get(), &TunnelSession::healthChecked);
        tunnel->requestImmediateHealthCheck();
        QVERIFY(checked.wait(10000));
        QCOMPARE(tunnel->localHealth(), HealthState::healthy());
        QCOMPARE(tunnel->publicHealth(),
            HealthState::unhealthy(OriginAdvice::schemeMismatchText(tunnel->activeOrigin(), OriginScheme::https)));
        QVERIFY(tunnel->publicHealth().message.contains(u"HTTPS"_qs));
        tunnel->shutdown();
        QTRY_VERIFY(!tunnel->hasChild());
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
};

QTEST_GUILESS_MAIN(TestOriginDetection)
#include "TestOriginDetection.moc"
