#include "FakeCloudflared.h"
#include "GateTestOrigin.h"
#include "TestSupport.h"
#include "base/Resources.h"
#include "gate/GatedOrigin.h"
#include "session/TunnelSession.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

const QString password = QStringLiteral("only the guests know");

QByteArray procFile(qint64 pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1StringView(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The session with a gate: the gate listens before the tunnel starts, and the two end together.
class TestGatedSession : public QObject
{
    Q_OBJECT

    QTemporaryDir m_temp;
    std::unique_ptr<QTemporaryDir> m_fakeDir;
    std::unique_ptr<FakeCloudflared> m_fake;
    GateTestOrigin m_origin;
    const QString m_caddy = resourceDirectory() + QStringLiteral("/caddy");

    std::unique_ptr<TunnelSession> startOnline()
    {
        SessionDependencies dependencies { quickTimings(), m_fake->locator(), answeringPublicProbe({ true, 404, {} }) };
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
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
        QVERIFY2(QFileInfo(m_caddy).isExecutable(), "the build bundles caddy; reconfigure the build");
        QVERIFY(m_origin.listen());
    }

    void init()
    {
        m_fakeDir = std::make_unique<QTemporaryDir>();
        m_fake = std::make_unique<FakeCloudflared>(m_fakeDir->path());
        QVERIFY(m_fake->install(FakeCloudflared::onlineBody()));
    }

    void cleanup()
    {
        m_fake.reset();
        m_fakeDir.reset();
        QTRY_COMPARE(QDir(m_temp.path()).entryList({ u"orvanta-*"_qs }, QDir::Dirs), QStringList());
    }

    // The tunnel points at the listening gate; neither child sees the password; a stop ends both.
    void tunnelGoesThroughTheGate()
    {
        const auto session = startOnline();
        QVERIFY(session);
        const QString gateURL = session->gate()->url();
        const QStringList arguments = QString::fromUtf8(m_fake->record("argv")).split(u'\n');
        QCOMPARE(arguments.value(arguments.indexOf(u"--url"_qs) + 1), gateURL);
        QCOMPARE(
            arguments.value(arguments.indexOf(u"--http-host-header"_qs) + 1), u"127.0.0.1:%1"_qs.arg(m_origin.port()));
        QVERIFY(!arguments.contains(u"--no-tls-verify"_qs));
        QCOMPARE(session->activeOrigin(), u"http://127.0.0.1:%1"_qs.arg(m_origin.port()));

        // The gate answered before the tunnel was launched, and asks for the password.
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, QUrl(gateURL).port());
        QVERIFY(socket.waitForConnected(5000));
        socket.write("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
        QByteArray answer;
        QTRY_VERIFY((answer += socket.readAll()).contains("\r\n\r\n"));
        QVERIFY(answer.startsWith("HTTP/1.1 401"));

        const qint64 gatePid = session->gate()->processId();
        const qint64 tunnelPid = m_fake->processId();
        for (const qint64 pid : { gatePid, tunnelPid }) {
            QVERIFY(!procFile(pid, "environ").isEmpty());
            for (const char *name : { "cmdline", "environ" })
                QVERIFY(!procFile(pid, name).contains(password.toUtf8()));
        }
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
        const qint64 tunnelPid = m_fake->processId();
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
        host.start(QStringLiteral(GATED_SESSION_HOST), { m_fake->path(), m_caddy, QString::number(m_origin.port()) });
        QTRY_VERIFY_WITH_TIMEOUT(host.canReadLine(), 20000);
        const QByteArray line = host.readLine().trimmed();
        QVERIFY2(line.startsWith("ready "), line.constData());
        const qint64 gatePid = line.mid(6).toLongLong();
        const qint64 tunnelPid = m_fake->processId();
        QVERIFY(processAlive(gatePid) && processAlive(tunnelPid));
        host.kill();
        QVERIFY(host.waitForFinished(5000));
        QTRY_VERIFY(!processAlive(gatePid) && !processAlive(tunnelPid));
        // Nobody was left to tidy up: that is the one case where the directories stay.
        for (const QString &directory : QDir(m_temp.path()).entryList({ u"orvanta-*"_qs }, QDir::Dirs))
            QDir(m_temp.path() + u'/' + directory).removeRecursively();
    }
};

QTEST_GUILESS_MAIN(TestGatedSession)
#include "TestGatedSession.moc"
