#include "FakeCloudflared.h"
#include "GateTestOrigin.h"
#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "base/Resources.h"
#include "gate/GateConfiguration.h"
#include "gate/GatedOrigin.h"
#include "session/TunnelSession.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QThreadPool>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <memory>

namespace {

const QString password = QStringLiteral("correct horse 马 battery");

QString caddy()
{
    return resourceDirectory() + QStringLiteral("/caddy");
}

struct Answer
{
    int status = 0;
    QByteArray body;
    QByteArray setCookie;
    QByteArray challenge; ///< WWW-Authenticate, which would open the browser's own password box
};

QByteArray procFile(qint64 pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1StringView(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
    session.setGateSettings({ true, true, password });
    QObject::connect(&session, &TunnelSession::changed, &application, [&session] {
        if (session.status().is(TunnelStatus::Kind::online) && std::printf("ready %lld\n", session.gate()->processId()))
            std::fflush(stdout);
    });
    session.start();
    return QCoreApplication::exec();
}

// The origin shares this thread: sockets are read on the event loop, never by a blocking wait.
#define READ_UNTIL(socket, received, wanted)                                                                           \
    QTRY_VERIFY_WITH_TIMEOUT(((received) += (socket).readAll()).contains(wanted), 10000)

} // namespace

// The password gate on its own, and in front of a service's tunnel.
class TestGatedOrigin : public QObject
{
    Q_OBJECT

    QTemporaryDir m_temp;
    QTemporaryDir m_fakeDir;
    FakeCloudflared m_fake { m_fakeDir.path() };
    GateTestOrigin m_origin;
    QNetworkAccessManager m_network;

    QString originURL(quint16 port = 0) const { return u"http://127.0.0.1:%1"_qs.arg(port ? port : m_origin.port()); }

    std::unique_ptr<GatedOrigin> startGate(const GateSettings &settings, const QString &origin = {})
    {
        auto gate = std::make_unique<GatedOrigin>(quickTimings(), GateLocator({ caddy() }));
        QSignalSpy ready(gate.get(), &GatedOrigin::ready);
        const QString error
            = gate->start(settings, origin.isEmpty() ? originURL() : origin, u"app.internal:8080"_qs, false);
        return error.isEmpty() && ready.wait(10000) ? std::move(gate) : nullptr;
    }

    Answer request(const GatedOrigin &gate, const QString &path,
        const QList<QPair<QByteArray, QByteArray>> &headers = {}, const QByteArray &method = "GET",
        const QByteArray &body = {})
    {
        QNetworkRequest request(QUrl(gate.url() + path));
        for (const auto &[name, value] : headers)
            request.setRawHeader(name, value);
        request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
        std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, method, body));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!reply->isFinished() && !finished.wait(60000))
            return {};
        return { reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
            reply->rawHeader("Set-Cookie"), reply->rawHeader("WWW-Authenticate") };
    }

    Answer logIn(const GatedOrigin &gate, const QString &secret = password)
    {
        const QByteArray basic = (GateConfiguration::userName + u':' + secret).toUtf8().toBase64();
        return request(gate, GateConfiguration::authPath, { { "Authorization", "Basic " + basic } }, "POST");
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
        m_network.setProxy(QNetworkProxy::NoProxy);
    }

    void cleanup() { QTRY_COMPARE(QDir(m_temp.path()).entryList({ u"orvanta-*"_qs }, QDir::Dirs), QStringList()); }

    // The whole visit: asked for the password, refused, let in, kept in, streams and uploads passed on;
    // the password reaches the child only as a hash in a private file; a new run forgets old cookies.
    void passwordGate()
    {
        auto gate = startGate({ true, true, password });
        QVERIFY(gate);
        const qint64 pid = gate->processId();
        const QString runtime = QFileInfo(u"/proc/%1/cwd"_qs.arg(pid)).symLinkTarget();
        QVERIFY(QFileInfo(runtime).fileName().startsWith(u"orvanta-gate-"));
        QCOMPARE(fileMode(runtime), 0700);
        QCOMPARE(fileMode(runtime + u"/gate.json"_qs), 0600);
        QFile configuration(runtime + u"/gate.json"_qs);
        QVERIFY(configuration.open(QIODevice::ReadOnly));
        const QByteArray contents = configuration.readAll();
        QVERIFY(contents.contains("$2b$10$"));
        const QByteArray environment = procFile(pid, "environ");
        QVERIFY(environment.contains("HOME=" + QFile::encodeName(runtime)));
        QVERIFY(environment.contains("XDG_DATA_HOME=" + QFile::encodeName(runtime)));
        for (const QByteArray &where : { procFile(pid, "cmdline"), environment, contents })
            QVERIFY(!where.isEmpty() && !where.contains(password.left(7).toUtf8()));

        const Answer login = request(*gate, u"/private"_qs);
        QCOMPARE(login.status, 401);
        QVERIFY(login.challenge.isEmpty() && QString::fromUtf8(login.body).contains(u"访问密码"));
        for (const Answer &refused : { logIn(*gate, u"wrong"_qs), logIn(*gate, password.left(5)),
                 request(*gate, GateConfiguration::authPath, {}, "POST") }) {
            QCOMPARE(refused.status, 401);
            QVERIFY(refused.challenge.isEmpty() && refused.setCookie.isEmpty());
        }
        const Answer accepted = logIn(*gate);
        QCOMPARE(accepted.status, 204);
        for (const char *attribute : { "HttpOnly", "Secure", "SameSite=Lax", "Path=/" })
            QVERIFY2(accepted.setCookie.contains(attribute), accepted.setCookie.constData());
        const QByteArray cookie = accepted.setCookie.split(';').first();
        QVERIFY(cookie.startsWith("orvanta_gate=") && cookie.size() > 40);
        for (const QString &path : { u"/a?x=1"_qs, u"/b"_qs }) {
            const Answer passed = request(*gate, path, { { "Cookie", "theme=dark; " + cookie } });
            QCOMPARE(passed.status, 200);
            QCOMPARE(passed.body, "origin GET " + path.toUtf8() + " host=app.internal:8080");
        }
        QCOMPARE(request(*gate, u"/a"_qs, { { "Cookie", "orvanta_gate=" + QByteArray(64, 'a') } }).status, 401);

        QTcpSocket events;
        QTcpSocket socket;
        for (QTcpSocket *each : { &events, &socket }) {
            each->connectToHost(QHostAddress::LocalHost, QUrl(gate->url()).port());
            QVERIFY(each->waitForConnected(5000));
        }
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
        const Answer uploaded = request(*gate, u"/upload"_qs,
            { { "Cookie", cookie }, { "Content-Type", "application/octet-stream" } }, "POST", upload);
        QCOMPARE(uploaded.status, 200);
        QCOMPARE(uploaded.body, QByteArray::number(upload.size()));

        gate->stop();
        QTRY_VERIFY(!processAlive(pid) && !QFileInfo::exists(runtime));
        gate = startGate({ true, false, password });
        QVERIFY(gate);
        QCOMPARE(request(*gate, u"/a"_qs, { { "Cookie", cookie } }).status, 401);
        QCOMPARE(request(*gate, u"/a"_qs, { { "Cookie", logIn(*gate).setCookie.split(';').first() } }).status, 200);
    }

    // Without a password every request passes, the service's failure shows our own page, and a gate
    // that goes without being asked says so; one that cannot start says why and starts nothing.
    void openGate()
    {
        auto gate = startGate({ false, true, {} });
        QVERIFY(gate);
        QCOMPARE(request(*gate, u"/open"_qs).body, "origin GET /open host=app.internal:8080");
        QSignalSpy ended(gate.get(), &GatedOrigin::ended);
        ::kill(pid_t(gate->processId()), SIGKILL);
        QVERIFY(ended.wait(10000));
        QVERIFY(ended.first().first().toString().contains(u"访问密码网关异常退出"));
        QVERIFY(!gate->hasChild());

        gate = startGate({ false, true, {} }, originURL(LocalHttpServer::unusedPort()));
        QVERIFY(gate);
        const Answer down = request(*gate, u"/"_qs);
        QCOMPARE(down.status, 502);
        QVERIFY(QString::fromUtf8(down.body).contains(u"服务暂时不可用"));

        GatedOrigin missing(quickTimings(), GateLocator({ u"/nonexistent/caddy"_qs }));
        QCOMPARE(
            missing.start({ true, false, password }, originURL(), u"h"_qs, false), GateLocator::unavailableMessage());
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
        QCOMPARE(start(password), QString());
        QVERIFY(gate.url().isEmpty() && !gate.hasChild());
        gate.stop();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(10000));
        QCoreApplication::processEvents();
        QVERIFY(ready.isEmpty() && !gate.hasChild());

        QCOMPARE(start(password), QString());
        QVERIFY(gate.url().isEmpty());
        QVERIFY(ready.wait(10000));
        // The same password again: its hash is kept, the child starts at once.
        QCOMPARE(start(password), QString());
        QVERIFY(!gate.url().isEmpty() && gate.hasChild());
        QVERIFY(ready.wait(10000));
        QVERIFY(!start(QString(73, u'x')).isEmpty());
    }

    // The tunnel points at the gate and never sees the password; a stop ends both children, and either
    // ending on its own fails the service and takes the other along.
    void tunnelThroughTheGate_data()
    {
        QTest::addColumn<int>("ends"); // 0: a stop, 1: the gate dies, 2: the tunnel dies
        QTest::addColumn<QString>("message");
        QTest::newRow("stopped") << 0 << QString();
        QTest::newRow("gate dies") << 1 << u"访问密码网关异常退出"_qs;
        QTest::newRow("tunnel dies") << 2 << u"cloudflared 异常退出（代码 9）"_qs;
    }

    void tunnelThroughTheGate()
    {
        QFETCH(int, ends);
        QFETCH(QString, message);
        TunnelSession session(localProfile(m_origin.port()), nullptr, gatedDependencies(m_fake.path()));
        session.setGateSettings({ true, true, password });
        session.start();
        QTRY_VERIFY_WITH_TIMEOUT(session.status().is(TunnelStatus::Kind::online), 15000);
        const QStringList arguments = QString::fromUtf8(m_fake.record("argv")).split(u'\n');
        QCOMPARE(arguments.value(arguments.indexOf(u"--url"_qs) + 1), session.gate()->url());
        QCOMPARE(
            arguments.value(arguments.indexOf(u"--http-host-header"_qs) + 1), u"127.0.0.1:%1"_qs.arg(m_origin.port()));
        QVERIFY(!arguments.contains(u"--no-tls-verify"_qs));
        QCOMPARE(session.activeOrigin(), originURL());
        const qint64 pids[] = { 0, session.gate()->processId(), m_fake.processId() };
        for (const char *name : { "cmdline", "environ" })
            QVERIFY(!procFile(pids[2], name).isEmpty() && !procFile(pids[2], name).contains(password.toUtf8()));

        if (ends == 0)
            session.stop();
        else
            ::kill(pid_t(pids[ends]), SIGKILL);
        QTRY_VERIFY(!session.hasChild() && !processAlive(pids[1]) && !processAlive(pids[2]));
        if (ends == 0) {
            QTRY_COMPARE(session.status(), TunnelStatus::idle());
        } else {
            QVERIFY(session.status().is(TunnelStatus::Kind::failed));
            QVERIFY2(session.status().message.startsWith(message), qPrintable(session.status().message));
            QCOMPARE(session.activity().constLast().message, session.status().message);
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
