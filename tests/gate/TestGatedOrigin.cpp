#include "FakeCloudflared.h"
#include "GateTestOrigin.h"
#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "base/Resources.h"
#include "gate/GateSecrets.h"
#include "gate/GatedOrigin.h"
#include "session/TunnelSession.h"

#include <QtTest>

#include <csignal>
#include <cstdio>
#include <memory>

namespace {

const QByteArray password = "correct horse 马 battery";

QString caddy()
{
    return resourceDirectory() + QStringLiteral("/caddy");
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray procFile(qint64 pid, const char *name)
{
    return contents(u"/proc/%1/%2"_qs.arg(pid).arg(QLatin1StringView(name)));
}

SessionDependencies gatedDependencies(const QString &cloudflared)
{
    SessionDependencies dependencies { quickTimings(), CloudflaredLocator({ cloudflared }),
        answeringPublicProbe({ true, 404, {} }) };
    dependencies.gateLocator = GateLocator({ caddy() });
    dependencies.policy->restartAfterDrop = false; // a child that ends stays ended here
    return dependencies;
}

/// This program run as one service behind a gate, for the test of a killed program: it prints
/// "ready <caddy pid>" once the service is online.
int hostOneService(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    TunnelSession session(localProfile(quint16(QByteArray(argv[3]).toUInt())), nullptr,
        gatedDependencies(QString::fromLocal8Bit(argv[2])));
    session.setGateSettings({ true, true, QString::fromUtf8(password) });
    QObject::connect(&session, &TunnelSession::changed, &application, [&session] {
        if (session.status().is(TunnelStatus::Kind::online) && std::printf("ready %lld\n", session.gate()->processId()))
            std::fflush(stdout);
    });
    session.start();
    return QCoreApplication::exec();
}

/// A request to \a gate on a connection of its own: \a head is the request line and any headers.
/// Returns the whole answer; the origin shares this thread, so the answer is awaited on the event loop.
QByteArray ask(const GatedOrigin &gate, const QByteArray &head, const QByteArray &body = {})
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, QUrl(gate.url()).port());
    socket.write(head + "\r\nHost: x\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body);
    QByteArray answer;
    const bool ended = QTest::qWaitFor(
        [&] {
            answer += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        60000);
    return ended ? answer + socket.readAll() : QByteArray();
}

QByteArray logIn(const GatedOrigin &gate, const QByteArray &secret = password)
{
    return ask(gate, "POST /__gate/auth HTTP/1.1\r\nAuthorization: Basic " + ("visitor:" + secret).toBase64());
}

QByteArray cookieOf(const QByteArray &answer)
{
    const qsizetype at = answer.indexOf("\r\nSet-Cookie: ");
    return at < 0 ? QByteArray() : answer.mid(at + 14, answer.indexOf("\r\n", at + 2) - at - 14);
}

QByteArray bodyOf(const QByteArray &answer)
{
    return answer.mid(answer.indexOf("\r\n\r\n") + 4);
}

// The origin shares this thread: sockets are read on the event loop, never by a blocking wait.
#define READ_UNTIL(socket, received, wanted)                                                                           \
    QTRY_VERIFY_WITH_TIMEOUT(((received) += (socket).readAll()).contains(wanted), 10000)

// A line as Caddy 2.6 writes it for a request that came through the tunnel.
QByteArray accessLine(const QByteArray &uri, int status, const QByteArray &headers)
{
    return R"({"level":"info","ts":1796714055.5,"logger":"http.log.access.visitors","msg":"handled request","request":{"remote_ip":"127.0.0.1","remote_port":"38708","proto":"HTTP/1.1","method":"GET","host":"x.trycloudflare.com","uri":")"
        + uri + R"(","headers":{)" + headers + R"(}},"user_id":"","duration":0.25,"size":5,"status":)"
        + QByteArray::number(status) + "}";
}

} // namespace

// The password gate on its own and in front of a service's tunnel, and what it logs of its visitors.
class TestGatedOrigin : public QObject
{
    Q_OBJECT

    QTemporaryDir m_temp;
    QTemporaryDir m_fakeDir;
    FakeCloudflared m_fake { m_fakeDir.path() };
    GateTestOrigin m_origin;

    QString originURL(quint16 port = 0) const { return u"http://127.0.0.1:%1"_qs.arg(port ? port : m_origin.port()); }

    std::unique_ptr<GatedOrigin> startGate(const GateSettings &settings, const QString &origin = {})
    {
        auto gate = std::make_unique<GatedOrigin>(quickTimings(), GateLocator({ caddy() }));
        QSignalSpy ready(gate.get(), &GatedOrigin::ready);
        const QString error
            = gate->start(settings, origin.isEmpty() ? originURL() : origin, u"app.internal:8080"_qs, false);
        return error.isEmpty() && ready.wait(10000) ? std::move(gate) : nullptr;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(caddy()).isExecutable(), "the build bundles caddy; reconfigure the build");
        // Runtime directories land here, where the test can see them all.
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
        QVERIFY(m_origin.listen());
        QVERIFY(m_fake.install(FakeCloudflared::onlineBody()));
    }

    void cleanup() { QTRY_COMPARE(QDir(m_temp.path()).entryList({ u"orvanta-*"_qs }, QDir::Dirs), QStringList()); }

    // The whole visit: asked for the password, refused, let in, kept in, streams and uploads passed on;
    // the password reaches the child only as a hash in a private file; a new run forgets old cookies.
    void passwordGate()
    {
        auto gate = startGate({ true, true, QString::fromUtf8(password) });
        QVERIFY(gate);
        const qint64 pid = gate->processId();
        const QString runtime = QFileInfo(u"/proc/%1/cwd"_qs.arg(pid)).symLinkTarget();
        QCOMPARE(fileMode(runtime), 0700);
        QCOMPARE(fileMode(runtime + u"/gate.json"_qs), 0600);
        const QByteArray configuration = contents(runtime + u"/gate.json"_qs);
        QVERIFY(configuration.contains("$2b$10$"));
        const QByteArray environment = procFile(pid, "environ");
        const QByteArrayList variables = environment.split('\0');
        QVERIFY(variables.contains("HOME=" + QFile::encodeName(runtime))
            && variables.contains("XDG_DATA_HOME=" + QFile::encodeName(runtime) + "/data"));
        for (const QByteArray &where : { procFile(pid, "cmdline"), environment, configuration })
            QVERIFY(!where.isEmpty() && !where.contains(password.left(7)));

        const QByteArray login = ask(*gate, "GET /private HTTP/1.1");
        QVERIFY(login.startsWith("HTTP/1.1 401 ") && QString::fromUtf8(bodyOf(login)).contains(u"访问密码"));
        for (const QByteArray &refused : { login, logIn(*gate, "wrong"), logIn(*gate, password.left(5)),
                 ask(*gate, "POST /__gate/auth HTTP/1.1") }) {
            QVERIFY2(refused.startsWith("HTTP/1.1 401 ") && !refused.toLower().contains("www-authenticate")
                    && cookieOf(refused).isEmpty(),
                refused.constData());
        }
        const QByteArray accepted = logIn(*gate);
        QVERIFY(accepted.startsWith("HTTP/1.1 204 "));
        for (const char *attribute : { "HttpOnly", "Secure", "SameSite=Lax", "Path=/" })
            QVERIFY2(cookieOf(accepted).contains(attribute), accepted.constData());
        const QByteArray cookie = cookieOf(accepted).split(';').first();
        QVERIFY(cookie.startsWith("orvanta_gate=") && cookie.size() > 40);
        for (const QByteArray path : { "/a?x=1", "/b" }) {
            const QByteArray passed = ask(*gate, "GET " + path + " HTTP/1.1\r\nCookie: theme=dark; " + cookie);
            QCOMPARE(bodyOf(passed), "origin GET " + path + " host=app.internal:8080");
        }
        QVERIFY(
            ask(*gate, "GET /a HTTP/1.1\r\nCookie: orvanta_gate=" + QByteArray(64, 'a')).startsWith("HTTP/1.1 401"));

        QTcpSocket events;
        QTcpSocket socket;
        for (QTcpSocket *each : { &events, &socket })
            each->connectToHost(QHostAddress::LocalHost, QUrl(gate->url()).port());
        events.write("GET /events HTTP/1.1\r\nHost: x\r\nAccept: text/event-stream\r\nCookie: " + cookie + "\r\n\r\n");
        QByteArray stream;
        READ_UNTIL(events, stream, "text/event-stream");
        for (const QByteArray data : { "first", "second" }) {
            m_origin.sendEvent(data);
            READ_UNTIL(events, stream, "data: " + data);
        }
        socket.write("GET /ws HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nCookie: "
            + cookie + "\r\n\r\n");
        QByteArray received;
        READ_UNTIL(socket, received, "\r\n\r\n");
        QVERIFY(received.startsWith("HTTP/1.1 101"));
        for (const QByteArray data : { "ping", "again" }) {
            socket.write(data);
            READ_UNTIL(socket, received, "echo:" + data);
        }
        const QByteArray upload(50 * 1024 * 1024, 'u');
        QCOMPARE(bodyOf(ask(*gate, "POST /upload HTTP/1.1\r\nCookie: " + cookie, upload)),
            QByteArray::number(upload.size()));

        gate->stop();
        QTRY_VERIFY(!processAlive(pid) && !QFileInfo::exists(runtime));
        gate = startGate({ true, false, QString::fromUtf8(password) });
        QVERIFY(gate);
        QVERIFY(ask(*gate, "GET /a HTTP/1.1\r\nCookie: " + cookie).startsWith("HTTP/1.1 401"));
        QVERIFY(ask(*gate, "GET /a HTTP/1.1\r\nCookie: " + cookieOf(logIn(*gate))).startsWith("HTTP/1.1 200"));
    }

    // Without a password every request passes, the service's failure shows our own page, and a gate
    // that goes without being asked says so; one that cannot start says why and starts nothing.
    void openGate()
    {
        auto gate = startGate({ false, true, {} });
        QVERIFY(gate);
        QCOMPARE(bodyOf(ask(*gate, "GET /open HTTP/1.1")), "origin GET /open host=app.internal:8080");
        QSignalSpy ended(gate.get(), &GatedOrigin::ended);
        ::kill(pid_t(gate->processId()), SIGKILL);
        QVERIFY(ended.wait(10000));
        QVERIFY(ended.first().first().toString().contains(u"访问密码网关异常退出"));
        QVERIFY(!gate->hasChild());

        gate = startGate({ false, true, {} }, originURL(LocalHttpServer::unusedPort()));
        QVERIFY(gate);
        const QByteArray down = ask(*gate, "GET / HTTP/1.1");
        QVERIFY(down.startsWith("HTTP/1.1 502") && QString::fromUtf8(down).contains(u"服务暂时不可用"));

        GatedOrigin missing(quickTimings(), GateLocator({ u"/nonexistent/caddy"_qs }));
        QCOMPARE(
            missing.start({ true, false, u"x"_qs }, originURL(), u"h"_qs, false), GateLocator::unavailableMessage());
        GatedOrigin noPassword(quickTimings(), GateLocator({ caddy() }));
        QVERIFY(!noPassword.start({ true, false, {} }, originURL(), u"h"_qs, false).isEmpty());
        QVERIFY(!noPassword.hasChild());
    }

    // bcrypt runs on a worker: start() returns before the gate exists, and a stop meanwhile starts nothing.
    void hashingOffTheEventLoop()
    {
        GatedOrigin gate(quickTimings(), GateLocator({ caddy() }));
        QSignalSpy ready(&gate, &GatedOrigin::ready);
        const auto start = [&](const QString &secret) {
            return gate.start({ true, false, secret }, originURL(), u"h"_qs, false);
        };
        QCOMPARE(start(QString::fromUtf8(password)), QString());
        QVERIFY(gate.url().isEmpty() && !gate.hasChild());
        gate.stop();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(10000));
        QCoreApplication::processEvents();
        QVERIFY(ready.isEmpty() && !gate.hasChild());

        QCOMPARE(start(QString::fromUtf8(password)), QString());
        QVERIFY(gate.url().isEmpty());
        QVERIFY(ready.wait(10000));
        // The same password again: its hash is kept, the child starts at once.
        QCOMPARE(start(QString::fromUtf8(password)), QString());
        QVERIFY(!gate.url().isEmpty() && gate.hasChild());
        QVERIFY(ready.wait(10000));
        QVERIFY(!start(QString(73, u'x')).isEmpty());
    }

    // The tunnel points at the gate and never sees the password. Either child ending on its own fails the
    // service and takes the other along, and the service starts again; a stop ends both.
    void tunnelThroughTheGate()
    {
        TunnelSession session(localProfile(m_origin.port()), nullptr, gatedDependencies(m_fake.path()));
        session.setGateSettings({ true, true, QString::fromUtf8(password) });
        for (const QString &ending : { u"访问密码网关异常退出"_qs, u"cloudflared 异常退出（代码 9）"_qs, QString() }) {
            session.start();
            QTRY_VERIFY_WITH_TIMEOUT(session.status().is(TunnelStatus::Kind::online), 15000);
            const QStringList arguments = QString::fromUtf8(m_fake.record("argv")).split(u'\n');
            QCOMPARE(arguments.value(arguments.indexOf(u"--url"_qs) + 1), session.gate()->url());
            QCOMPARE(arguments.value(arguments.indexOf(u"--http-host-header"_qs) + 1),
                u"127.0.0.1:%1"_qs.arg(m_origin.port()));
            QVERIFY(!arguments.contains(u"--no-tls-verify"_qs));
            QCOMPARE(session.activeOrigin(), originURL());
            const qint64 gate = session.gate()->processId();
            const qint64 tunnel = m_fake.processId();
            for (const char *name : { "cmdline", "environ" })
                QVERIFY(!procFile(tunnel, name).isEmpty() && !procFile(tunnel, name).contains(password));
            if (ending.isEmpty())
                session.stop();
            else
                ::kill(pid_t(ending.startsWith(u"cloudflared") ? tunnel : gate), SIGKILL);
            QTRY_VERIFY(!session.hasChild() && !processAlive(gate) && !processAlive(tunnel));
            QTRY_VERIFY(session.status().is(ending.isEmpty() ? TunnelStatus::Kind::idle : TunnelStatus::Kind::failed));
            QVERIFY2(session.status().message.startsWith(ending), qPrintable(session.status().message));
            QVERIFY(ending.isEmpty() || session.activity().constLast().message == session.status().message);
        }
    }

    // A killed program leaves neither child behind.
    void killedProgram()
    {
        QProcess host;
        host.start(
            QCoreApplication::applicationFilePath(), { u"--host"_qs, m_fake.path(), QString::number(m_origin.port()) });
        QTRY_VERIFY_WITH_TIMEOUT(host.canReadLine(), 20000);
        const QByteArray line = host.readLine().trimmed();
        QVERIFY2(line.startsWith("ready "), line.constData());
        const qint64 gatePid = line.mid(6).toLongLong();
        const qint64 tunnelPid = m_fake.processId();
        QVERIFY(processAlive(gatePid) && processAlive(tunnelPid));
        host.kill();
        QVERIFY(host.waitForFinished(5000));
        QTRY_VERIFY(!processAlive(gatePid) && !processAlive(tunnelPid));
        // Nobody was left to tidy up: that is the one case where the directories stay.
        for (const QString &directory : QDir(m_temp.path()).entryList({ u"orvanta-*"_qs }, QDir::Dirs))
            QDir(m_temp.path() + u'/' + directory).removeRecursively();
    }

    void visitorLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("seen"); // address, country, refused password, error; empty for no entry
        const QByteArray cf = R"("Cf-Connecting-Ip":["198.51.100.4"],"Cf-Ipcountry":["CN"],"Cookie":[])";
        const QString fromCN = u"198.51.100.4 CN 0 0"_qs;
        QTest::newRow("through the tunnel") << accessLine("/", 200, cf) << fromCN;
        QTest::newRow("header names in any case")
            << accessLine("/", 200, R"("cf-connecting-ip":["198.51.100.9"],"CF-IPCOUNTRY":["FR"])")
            << u"198.51.100.9 FR 0 0"_qs;
        QTest::newRow("no Cloudflare headers: peer address") << accessLine("/", 404, {}) << u"127.0.0.1  0 1"_qs;
        QTest::newRow("refused password") << accessLine("/__gate/auth", 401, cf) << u"198.51.100.4 CN 1 0"_qs;
        QTest::newRow("refused, with a query")
            << accessLine("/__gate/auth?next=/", 401, cf) << u"198.51.100.4 CN 1 0"_qs;
        QTest::newRow("login page is no failure") << accessLine("/__gate/authx", 401, cf) << fromCN;
        QTest::newRow("service down") << accessLine("/", 502, cf) << u"198.51.100.4 CN 0 1"_qs;
        QTest::newRow("Caddy's own log") << QByteArray(R"({"level":"info","ts":1.5,"msg":"serving"})") << QString();
        QTest::newRow("cut short") << accessLine("/", 200, cf).chopped(9) << QString();
    }

    void visitorLine()
    {
        QFETCH(QByteArray, line);
        const auto entry = VisitorEntry::parse(line);
        QTEST(entry ? u"%1 %2 %3 %4"_qs.arg(entry->address, entry->country)
                          .arg(int(entry->failedLogin))
                          .arg(int(entry->isError()))
                    : QString(),
            "seen");
        QVERIFY(!entry
            || (entry->method == u"GET"_qs && entry->durationSeconds == 0.25
                && entry->time.toMSecsSinceEpoch() == qint64(1796714055500)));
    }

    // Newest first, bounded; the counts cover every request, also those no longer listed.
    void visitorLogBoundsAndCounts()
    {
        VisitorLog log;
        const int total = int(VisitorLog::maxEntries) + 40;
        for (int i = 0; i < total; ++i) {
            QVERIFY(log.addLine(accessLine("/" + QByteArray::number(i), i % 10 == 0 ? 500 : 200,
                R"("Cf-Connecting-Ip":["203.0.113.)" + QByteArray::number(i % 7) + R"("])")));
        }
        QVERIFY(!log.addLine("{}"));
        QCOMPARE(qsizetype(log.entries().size()), VisitorLog::maxEntries);
        QCOMPARE(log.entries().front().path + log.entries().back().path,
            u"/%1/%2"_qs.arg(total - 1).arg(total - VisitorLog::maxEntries));
        QCOMPARE(QList<qint64>({ log.requestCount(), log.visitorCount(), log.errorCount() }),
            QList<qint64>({ total, 7, (total + 9) / 10 }));
        QVERIFY(log.addLine(accessLine("/" + QByteArray(5000, 'p'), 200, {})));
        QCOMPARE(log.entries().front().path.size(), VisitorEntry::maxPathLength);
        log.clear();
        QVERIFY(log.entries().empty() && log.requestCount() == 0);
    }

    // Salted anew each time (the gate above checks a hash); unusable passwords are refused; secrets differ.
    void secrets()
    {
        QVERIFY(GateSecrets::hashPassword(u"开门"_qs) != GateSecrets::hashPassword(u"开门"_qs));
        for (const QString &unusable : { QString(), QString(73, u'x'), u"a\0b"_qs })
            QVERIFY(GateSecrets::hashPassword(unusable).isEmpty());
        QVERIFY(GateSecrets::newToken() != GateSecrets::newToken());
        QVERIFY(GateSecrets::generatePassword() != GateSecrets::generatePassword());
    }
};

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--host") == 0)
        return hostOneService(argc, argv);
    QCoreApplication app(argc, argv);
    TestGatedOrigin test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "TestGatedOrigin.moc"
