#include "FakeCloudflared.h"
#include "GateTestOrigin.h"
#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "base/Resources.h"
#include "gate/GateConfiguration.h"
#include "gate/GatedOrigin.h"
#include "session/TunnelSession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpSocket>
#include <QThreadPool>
#include <QtTest>

#include <csignal>
#include <memory>

using namespace std::chrono_literals;

namespace {

const QString password = QStringLiteral("correct horse 马 battery");

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
    const QString m_caddy = resourceDirectory() + QStringLiteral("/caddy");

    std::unique_ptr<GatedOrigin> startGate(const GateSettings &settings, const QString &origin = {})
    {
        auto gate = std::make_unique<GatedOrigin>(quickTimings(), GateLocator({ m_caddy }));
        QSignalSpy ready(gate.get(), &GatedOrigin::ready);
        const QString error = gate->start(settings,
            origin.isEmpty() ? QStringLiteral("http://127.0.0.1:%1").arg(m_origin.port()) : origin,
            QStringLiteral("app.internal:8080"), false);
        if (error.isEmpty() && ready.wait(10000))
            return gate;
        qWarning() << error;
        return nullptr;
    }

    Answer request(const GatedOrigin &gate, const QString &path,
        const QList<QPair<QByteArray, QByteArray>> &headers = {}, const QByteArray &method = "GET",
        const QByteArray &body = {})
    {
        QNetworkRequest request(QUrl(gate.url() + path));
        for (const auto &[name, value] : headers)
            request.setRawHeader(name, value);
        request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
        QNetworkReply *reply = m_network.sendCustomRequest(request, method, body);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        Answer answer;
        if (reply->isFinished() || finished.wait(60000)) {
            answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            answer.body = reply->readAll();
            answer.setCookie = reply->rawHeader("Set-Cookie");
            answer.challenge = reply->rawHeader("WWW-Authenticate");
        }
        reply->deleteLater();
        return answer;
    }

    static QByteArray basic(const QString &secret)
    {
        return "Basic " + (GateConfiguration::userName + u':' + secret).toUtf8().toBase64();
    }

    // Logs in through the auth path and returns the cookie pair ("orvanta_gate=…").
    QByteArray logIn(const GatedOrigin &gate)
    {
        const Answer answer
            = request(gate, GateConfiguration::authPath, { { "Authorization", basic(password) } }, "POST");
        return answer.setCookie.split(';').first();
    }

    std::unique_ptr<TunnelSession> startOnline()
    {
        SessionDependencies dependencies { quickTimings(), m_fake.locator(), answeringPublicProbe({ true, 404, {} }) };
        dependencies.gateLocator = GateLocator({ m_caddy });
        dependencies.policy->restartAfterDrop = false; // a child that ends stays ended here
        auto session = std::make_unique<TunnelSession>(localProfile(m_origin.port()), nullptr, dependencies);
        session->setGateSettings({ true, true, password });
        session->start();
        if (!QTest::qWaitFor([&] { return session->status().is(TunnelStatus::Kind::online); }, 15000))
            return nullptr;
        return session;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(m_caddy).isExecutable(), "the build bundles caddy; reconfigure the build");
        // Runtime directories land here, where the test can see them all.
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
        QVERIFY(m_origin.listen());
        QVERIFY(m_fake.install(FakeCloudflared::onlineBody()));
        m_network.setProxy(QNetworkProxy::NoProxy);
    }

    void cleanup() { QTRY_COMPARE(QDir(m_temp.path()).entryList({ u"orvanta-*"_qs }, QDir::Dirs), QStringList()); }

    // The whole visit: asked for the password, refused, let in, kept in; a new run forgets old cookies.
    void passwordGate()
    {
        auto gate = startGate({ true, false, password });
        QVERIFY(gate);

        const Answer login = request(*gate, u"/private"_qs);
        QCOMPARE(login.status, 401);
        QVERIFY(login.challenge.isEmpty());
        QVERIFY(QString::fromUtf8(login.body).contains(u"访问密码"));

        const QList<QPair<QByteArray, QByteArray>> wrongAnswers[]
            = { { { "Authorization", basic(u"wrong"_qs) } }, { { "Authorization", basic(password.left(5)) } }, {} };
        for (const auto &headers : wrongAnswers) {
            const Answer refused = request(*gate, GateConfiguration::authPath, headers, "POST");
            QCOMPARE(refused.status, 401);
            QVERIFY(refused.challenge.isEmpty());
            QVERIFY(refused.setCookie.isEmpty());
        }

        const Answer accepted
            = request(*gate, GateConfiguration::authPath, { { "Authorization", basic(password) } }, "POST");
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
        const Answer forged = request(*gate, u"/a"_qs, { { "Cookie", "orvanta_gate=" + QByteArray(64, 'a') } });
        QCOMPARE(forged.status, 401);

        gate.reset();
        gate = startGate({ true, false, password });
        QVERIFY(gate);
        QCOMPARE(request(*gate, u"/a"_qs, { { "Cookie", cookie } }).status, 401);
        QCOMPARE(request(*gate, u"/a"_qs, { { "Cookie", logIn(*gate) } }).status, 200);
    }

    // Without a password every request passes, and the service's failure shows our own page.
    void openGateAndServiceDown()
    {
        auto gate = startGate({ false, true, {} });
        QVERIFY(gate);
        QCOMPARE(request(*gate, u"/open"_qs).body, "origin GET /open host=app.internal:8080");

        gate = startGate({ false, true, {} }, QStringLiteral("http://127.0.0.1:%1").arg(LocalHttpServer::unusedPort()));
        QVERIFY(gate);
        const Answer down = request(*gate, u"/"_qs);
        QCOMPARE(down.status, 502);
        QVERIFY(QString::fromUtf8(down.body).contains(u"服务暂时不可用"));
    }

    // Streams pass as they are written, uploads pass whole.
    void streamsAndUploads()
    {
        auto gate = startGate({ true, false, password });
        QVERIFY(gate);
        const QByteArray cookie = logIn(*gate);
        const quint16 port = QUrl(gate->url()).port();

        QTcpSocket events;
        events.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(events.waitForConnected(5000));
        events.write("GET /events HTTP/1.1\r\nHost: x\r\nAccept: text/event-stream\r\nCookie: " + cookie + "\r\n\r\n");
        QByteArray stream;
        READ_UNTIL(events, stream, "text/event-stream");
        m_origin.sendEvent("first");
        READ_UNTIL(events, stream, "data: first");
        m_origin.sendEvent("second");
        READ_UNTIL(events, stream, "data: second");

        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(socket.waitForConnected(5000));
        socket.write("GET /ws HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nCookie: "
            + cookie + "\r\n\r\n");
        QByteArray received;
        READ_UNTIL(socket, received, "\r\n\r\n");
        QVERIFY(received.startsWith("HTTP/1.1 101"));
        socket.write("ping");
        READ_UNTIL(socket, received, "echo:ping");
        socket.write("again");
        READ_UNTIL(socket, received, "echo:again");

        const QByteArray upload(50 * 1024 * 1024, 'u');
        const Answer uploaded = request(*gate, u"/upload"_qs,
            { { "Cookie", cookie }, { "Content-Type", "application/octet-stream" } }, "POST", upload);
        QCOMPARE(uploaded.status, 200);
        QCOMPARE(uploaded.body, QByteArray::number(upload.size()));
    }

    // The password reaches the child only as a hash in a private file; everything goes with the child.
    void privateFilesAndSecrets()
    {
        auto gate = startGate({ true, true, password });
        QVERIFY(gate);
        const qint64 pid = gate->processId();
        QVERIFY(pid > 0);
        const QString runtime = QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget();
        QVERIFY(QFileInfo(runtime).fileName().startsWith(u"orvanta-gate-"));
        QCOMPARE(fileMode(runtime), 0700);
        QCOMPARE(fileMode(runtime + u"/gate.json"_qs), 0600);

        QFile configuration(runtime + u"/gate.json"_qs);
        QVERIFY(configuration.open(QIODevice::ReadOnly));
        const QByteArray contents = configuration.readAll();
        QVERIFY(contents.contains("$2b$10$"));
        const QByteArray environment = procFile(pid, "environ");
        QVERIFY(environment.contains("HOME=" + QFile::encodeName(runtime)));
        for (const QByteArray &where : { procFile(pid, "cmdline"), environment, contents }) {
            QVERIFY(!where.isEmpty());
            QVERIFY(!where.contains(password.toUtf8()));
            QVERIFY(!where.contains(password.left(7).toUtf8()));
        }
        QVERIFY(environment.contains("XDG_DATA_HOME=" + QFile::encodeName(runtime)));

        gate->stop();
        QTRY_VERIFY(!processAlive(pid));
        QTRY_VERIFY(!QFileInfo::exists(runtime));
    }

    // bcrypt runs on a worker: start() returns before the gate exists, and a stop meanwhile starts nothing.
    void hashingOffTheEventLoop()
    {
        GatedOrigin gate(quickTimings(), GateLocator({ m_caddy }));
        QSignalSpy ready(&gate, &GatedOrigin::ready);
        const QString origin = u"http://127.0.0.1:%1"_qs.arg(m_origin.port());
        QCOMPARE(gate.start({ true, false, password }, origin, u"h"_qs, false), QString());
        QVERIFY(gate.url().isEmpty() && !gate.hasChild());
        gate.stop();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(10000));
        QCoreApplication::processEvents();
        QVERIFY(ready.isEmpty() && !gate.hasChild());

        QCOMPARE(gate.start({ true, false, password }, origin, u"h"_qs, false), QString());
        QVERIFY(gate.url().isEmpty());
        QVERIFY(ready.wait(10000));
        // The same password again: its hash is kept, the child starts at once.
        QCOMPARE(gate.start({ true, false, password }, origin, u"h"_qs, false), QString());
        QVERIFY(!gate.url().isEmpty() && gate.hasChild());
        QVERIFY(ready.wait(10000));
        QVERIFY(!gate.start({ true, false, QString(73, u'x') }, origin, u"h"_qs, false).isEmpty());
    }

    // A gate that goes without being asked says so; one that never comes up is given up.
    void unaskedEnds()
    {
        auto gate = startGate({ false, true, {} });
        QVERIFY(gate);
        QSignalSpy ended(gate.get(), &GatedOrigin::ended);
        ::kill(pid_t(gate->processId()), SIGKILL);
        QVERIFY(ended.wait(10000));
        QVERIFY(ended.first().first().toString().contains(u"访问密码网关异常退出"));
        QVERIFY(!gate->hasChild());

        GatedOrigin missing(quickTimings(), GateLocator({ u"/nonexistent/caddy"_qs }));
        QCOMPARE(missing.start({ true, false, password }, u"http://127.0.0.1:1"_qs, u"h"_qs, false),
            GateLocator::unavailableMessage());
        GatedOrigin noPassword(quickTimings(), GateLocator({ m_caddy }));
        QVERIFY(!noPassword.start({ true, false, {} }, u"http://127.0.0.1:1"_qs, u"h"_qs, false).isEmpty());
        QVERIFY(!noPassword.hasChild());
    }

    // The tunnel points at the gate; cloudflared never sees the password; a stop ends both.
    void tunnelGoesThroughTheGate()
    {
        const auto session = startOnline();
        QVERIFY(session);
        const QString gateURL = session->gate()->url();
        const QStringList arguments = QString::fromUtf8(m_fake.record("argv")).split(u'\n');
        QCOMPARE(arguments.value(arguments.indexOf(u"--url"_qs) + 1), gateURL);
        QCOMPARE(
            arguments.value(arguments.indexOf(u"--http-host-header"_qs) + 1), u"127.0.0.1:%1"_qs.arg(m_origin.port()));
        QVERIFY(!arguments.contains(u"--no-tls-verify"_qs));
        QCOMPARE(session->activeOrigin(), u"http://127.0.0.1:%1"_qs.arg(m_origin.port()));

        const qint64 gatePid = session->gate()->processId();
        const qint64 tunnelPid = m_fake.processId();
        QVERIFY(!procFile(tunnelPid, "environ").isEmpty());
        for (const char *name : { "cmdline", "environ" })
            QVERIFY(!procFile(tunnelPid, name).contains(password.toUtf8()));
        session->stop();
        QTRY_COMPARE(session->status(), TunnelStatus::idle());
        QTRY_VERIFY(!session->hasChild() && !processAlive(gatePid) && !processAlive(tunnelPid));
    }

    // Either child ending on its own fails the service and takes the other along.
    void endingTogether_data()
    {
        QTest::addColumn<bool>("gateDies");
        QTest::addColumn<QString>("message");
        QTest::newRow("gate dies") << true << u"访问密码网关异常退出"_qs;
        QTest::newRow("tunnel dies") << false << u"cloudflared 异常退出（代码 9）"_qs;
    }

    void endingTogether()
    {
        QFETCH(bool, gateDies);
        QFETCH(QString, message);
        const auto session = startOnline();
        QVERIFY(session);
        const qint64 gatePid = session->gate()->processId();
        const qint64 tunnelPid = m_fake.processId();
        ::kill(pid_t(gateDies ? gatePid : tunnelPid), SIGKILL);
        QTRY_VERIFY(!session->hasChild());
        QVERIFY(!processAlive(gatePid) && !processAlive(tunnelPid));
        QVERIFY(session->status().is(TunnelStatus::Kind::failed));
        QVERIFY2(session->status().message.startsWith(message), qPrintable(session->status().message));
        QCOMPARE(session->activity().constLast().message, session->status().message);
    }

    // A killed program leaves neither child behind.
    void killedProgram()
    {
        QProcess host;
        host.start(QStringLiteral(GATED_SESSION_HOST), { m_fake.path(), m_caddy, QString::number(m_origin.port()) });
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

QTEST_GUILESS_MAIN(TestGatedOrigin)
#include "TestGatedOrigin.moc"
