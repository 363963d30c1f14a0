#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "SessionTestHelpers.h"
#include "TestSupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/types.h>

using namespace std::chrono_literals;

namespace {

bool processAlive(qint64 pid)
{
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0;
}

QStringList runtimeDirectories()
{
    return QDir(QDir::tempPath()).entryList({QStringLiteral("orvanta-runtime-*")}, QDir::Dirs);
}

Timings fastTimings()
{
    Timings timings;
    timings.killGrace = 400ms;
    timings.postOnlineCheck = 1h; // health has tests of its own
    return timings;
}

} // namespace

class TestTunnelLaunch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void commandLineAndEnvironment_data();
    void commandLineAndEnvironment();
    void childGetsParentDeathSignal();
    void outputSplitByThePipeIsJoined();
    void exitIsReported_data();
    void exitIsReported();
    void startupTimeoutAndLaterExit_data();
    void startupTimeoutAndLaterExit();
    void stopEscalatesToKillOnce();
    void killAfterStopSparesTheNextChild();
    void staleExitOnlyRemovesItsDirectory();
    void startFailures_data();
    void startFailures();
    void killChildAtQuit();
    void versionQuery_data();
    void versionQuery();

private:
    QTemporaryDir m_temp;
    std::unique_ptr<QTemporaryDir> m_fakeDir;
    std::unique_ptr<FakeCloudflared> m_fake;
    LocalHttpServer m_http;
    LocalHttpServer m_https;
    std::optional<TestCertificate> m_certificate;
};

void TestTunnelLaunch::initTestCase()
{
    // Runtime directories land here, where the test can see them all.
    qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
    QVERIFY(m_http.listenHttp());
    m_certificate = TestCertificate::generate();
    QVERIFY(m_certificate);
    QVERIFY(m_https.listenHttps(*m_certificate));
    answerPublicProbes({true, 404, {}});
}

void TestTunnelLaunch::init()
{
    m_fakeDir = std::make_unique<QTemporaryDir>();
    m_fake = std::make_unique<FakeCloudflared>(m_fakeDir->path());
}

void TestTunnelLaunch::cleanup()
{
    m_fake.reset();
    m_fakeDir.reset();
    // Every test leaves no runtime directory behind once its children are gone.
    QTRY_COMPARE(runtimeDirectories(), QStringList());
}

void TestTunnelLaunch::commandLineAndEnvironment_data()
{
    QTest::addColumn<OriginScheme>("scheme");
    QTest::addColumn<bool>("skipTLS");
    QTest::addColumn<bool>("noVerifyFlag");
    QTest::newRow("http ignores the switch") << OriginScheme::http << true << false;
    QTest::newRow("https unverified") << OriginScheme::https << true << true;
    QTest::newRow("automatic detects https") << OriginScheme::automatic << true << true;
}

void TestTunnelLaunch::commandLineAndEnvironment()
{
    QFETCH(OriginScheme, scheme);
    QFETCH(bool, skipTLS);
    QFETCH(bool, noVerifyFlag);
    QVERIFY(m_fake->install(FakeCloudflared::onlineBody()));
    const bool https = scheme != OriginScheme::http;
    const quint16 port = https ? m_https.port() : m_http.port();
    TunnelSession session(localProfile(port, scheme, skipTLS), {}, fastTimings());
    session.start();
    QTRY_COMPARE(session.status(), TunnelStatus::online());
    const QList<ActivityEntry> log = session.activity();
    session.start(); // a running tunnel ignores a start
    QCOMPARE(session.activity(), log);
    QCOMPARE(m_fake->runs(), 1);

    const QString runtime = m_fake->workingDirectory();
    QVERIFY2(QRegularExpression(QStringLiteral("^%1/orvanta-runtime-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$")
                                    .arg(QRegularExpression::escape(QDir::tempPath())))
                 .match(runtime)
                 .hasMatch(),
             qPrintable(runtime));
    QCOMPARE(QFileInfo(runtime).permissions() & 0x7777,
             QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser
                 | QFile::ExeUser);
    QFile config(runtime + QStringLiteral("/empty.yml"));
    QVERIFY(config.open(QIODevice::ReadOnly));
    QCOMPARE(config.readAll(), QByteArray("{}\n"));

    const QString origin = (https ? QStringLiteral("https://127.0.0.1:")
                                                          : QStringLiteral("http://127.0.0.1:"))
        + QString::number(port);
    QStringList expected = QStringLiteral("tunnel --config %1 --no-autoupdate --metrics 127.0.0.1:0 --loglevel info")
                               .arg(runtime + QStringLiteral("/empty.yml"))
                               .split(u' ');
    expected << QStringLiteral("--url") << origin << QStringLiteral("--http-host-header")
             << QStringLiteral("127.0.0.1:") + QString::number(port);
    if (noVerifyFlag)
        expected << QStringLiteral("--no-tls-verify");
    QCOMPARE(m_fake->arguments(), expected);
    QCOMPARE(session.activeOrigin(), origin);

    QByteArrayList environment = m_fake->environment().split('\0');
    environment.removeAll(QByteArray());
    std::sort(environment.begin(), environment.end());
    const QByteArray home = QFile::encodeName(runtime);
    QCOMPARE(environment, QByteArrayList({"HOME=" + home, "NO_AUTOUPDATE=true", "PATH=/usr/bin:/bin:/usr/sbin:/sbin",
                                          "TMPDIR=" + QFile::encodeName(QDir::tempPath())}));

    session.stop();
    QTRY_COMPARE(session.status(), TunnelStatus::idle());
    QVERIFY(!QFileInfo::exists(runtime));
}

void TestTunnelLaunch::childGetsParentDeathSignal()
{
    const QString out = m_fakeDir->filePath(QStringLiteral("pdeathsig"));
    QVERIFY(writeExecutable(m_fake->path(), "#!/usr/bin/python3\n"
                                            "import ctypes\n"
                                            "sig = ctypes.c_int(-1)\n"
                                            "ctypes.CDLL(None).prctl(2, ctypes.byref(sig), 0, 0, 0)\n"
                                            "open('" + QFile::encodeName(out) + "', 'w').write(str(sig.value))\n"));
    TunnelSession session(localProfile(m_http.port()), {}, fastTimings());
    session.start();
    QTRY_VERIFY(messages(session).contains(QStringLiteral("隧道进程已结束")));
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().toInt(), SIGKILL);
}

void TestTunnelLaunch::outputSplitByThePipeIsJoined()
{
    QVERIFY(m_fake->install("printf '2024-05-01T10:00:03Z INF |  https://split-' >&2\n"
                            "sleep 0.3\n"
                            "printf 'label.trycloudflare.com   |\\n' >&2\n"
                            + FakeCloudflared::printToStandardOutput(FakeCloudflared::registeredLine())
                            + "exec sleep 30\n"));
    TunnelSession session(localProfile(m_http.port()), {}, fastTimings());
    session.start();
    QTRY_COMPARE(session.status(), TunnelStatus::online());
    QCOMPARE(session.publicURL(), QUrl(QStringLiteral("https://split-label.trycloudflare.com")));
}

void TestTunnelLaunch::exitIsReported_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<TunnelStatus>("finalStatus");
    QTest::addColumn<QString>("lastMessage");
    const QByteArray url = FakeCloudflared::printToStandardError(FakeCloudflared::urlLine());
    QTest::newRow("exit 0") << url + "exit 0" << TunnelStatus::idle() << QStringLiteral("隧道进程已结束");
    const QString code1 = QStringLiteral("cloudflared 异常退出（代码 1）");
    QTest::newRow("exit 1, the quick-tunnel service unreachable")
        << FakeCloudflared::printToStandardError(
               "failed to request quick Tunnel: Post \"https://api.trycloudflare.com/tunnel\": dial tcp: lookup "
               "api.trycloudflare.com: no such host\n")
            + "exit 1"
        << TunnelStatus::failed(code1) << code1;
    const QString code9 = QStringLiteral("cloudflared 异常退出（代码 9）");
    QTest::newRow("killed by a signal") << url + "kill -KILL $$" << TunnelStatus::failed(code9) << code9;
    // The last line has no line feed; it still counts when the stream ends.
    QTest::newRow("unterminated last line")
        << FakeCloudflared::printToStandardError(FakeCloudflared::registeredLine())
            + "printf '%s' 'INF |  https://last-line.trycloudflare.com |'\nexit 0"
        << TunnelStatus::idle() << QStringLiteral("隧道进程已结束");
}

void TestTunnelLaunch::exitIsReported()
{
    QFETCH(QByteArray, body);
    QFETCH(TunnelStatus, finalStatus);
    QFETCH(QString, lastMessage);
    QVERIFY(m_fake->install(body));
    TunnelSession session(localProfile(m_http.port()), {}, fastTimings());
    session.start();
    QTRY_COMPARE(session.status(), finalStatus);
    QCOMPARE(messages(session).constLast(), lastMessage);
    QVERIFY(messages(session).contains(QStringLiteral("公网 HTTPS 链接已生成")));
    QVERIFY(!session.hasChild());
    if (finalStatus.is(TunnelStatus::Kind::failed))
        QCOMPARE(session.publicHealth(), HealthState::unhealthy(lastMessage));
}

void TestTunnelLaunch::startupTimeoutAndLaterExit_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<TunnelStatus>("afterExit");
    QTest::newRow("ends by SIGTERM")
        << QByteArray("exec sleep 30")
        << TunnelStatus::failed(QStringLiteral("cloudflared 异常退出（代码 %1）").arg(SIGTERM));
    QTest::newRow("exits 0 on SIGTERM") << QByteArray("trap 'exit 0' TERM\nsleep 5 &\nwait") << TunnelStatus::idle();
}

void TestTunnelLaunch::startupTimeoutAndLaterExit()
{
    QFETCH(QByteArray, body);
    QFETCH(TunnelStatus, afterExit);
    QVERIFY(m_fake->install(FakeCloudflared::printToStandardError(FakeCloudflared::urlLine()) + body));
    Timings timings = fastTimings();
    timings.startupTimeout = 600ms;
    TunnelSession session(localProfile(m_http.port()), {}, timings);
    QList<TunnelStatus> seen;
    connect(&session, &TunnelSession::changed, this, [&] {
        if (seen.isEmpty() || seen.constLast() != session.status())
            seen << session.status();
    });
    session.start();
    QTRY_VERIFY(!session.hasChild() && session.status() == afterExit);
    const TunnelStatus timedOut = TunnelStatus::failed(QStringLiteral("连接 Cloudflare 超时，请检查网络后重试"));
    QVERIFY(seen.contains(timedOut));
    QCOMPARE(seen.constLast(), afterExit);
    QCOMPARE(messagesAt(session, ActivityLevel::error).constFirst(), timedOut.message);
}

void TestTunnelLaunch::stopEscalatesToKillOnce()
{
    // Ignores SIGTERM, but reports one more registration when it gets it.
    QByteArray registered = FakeCloudflared::registeredLine(1);
    registered.chop(1);
    QVERIFY(m_fake->install("trap \"printf '%s\\n' '" + registered + "' >&2\" TERM\n"
                            + FakeCloudflared::printToStandardError(FakeCloudflared::urlLine()
                                                                   + FakeCloudflared::registeredLine())
                            + "while :; do sleep 0.1; done\n"));
    TunnelSession session(localProfile(m_http.port()), {}, fastTimings());
    session.start();
    QTRY_COMPARE(session.status(), TunnelStatus::online());
    const qint64 pid = m_fake->processId();
    QList<TunnelStatus> seen;
    connect(&session, &TunnelSession::changed, this, [&] { seen << session.status(); });
    session.stop();
    QCOMPARE(session.status(), TunnelStatus::stopping());
    session.stop(); // a second stop repeats the request
    QCOMPARE(messages(session).count(QStringLiteral("正在关闭公网隧道…")), 2);
    QTRY_COMPARE(session.status(), TunnelStatus::idle());
    QVERIFY(!processAlive(pid));
    QCOMPARE(messages(session).count(QStringLiteral("隧道已停止，原公网链接已经失效")), 1);
    QCOMPARE(messages(session).constLast(), QStringLiteral("隧道已停止，原公网链接已经失效"));
    QCOMPARE(messages(session).count(QStringLiteral("已连接 Cloudflare 边缘网络")), 2);
    QVERIFY(!seen.contains(TunnelStatus::online()));
    QCOMPARE(session.publicHealth(), HealthState::inactive());
    QVERIFY(!session.publicURL());
}

void TestTunnelLaunch::killAfterStopSparesTheNextChild()
{
    // The first child leaves at once on SIGTERM; the second ignores it and must survive the first
    // stop's forced-kill deadline.
    QVERIFY(m_fake->install("[ \"$n\" = 1 ] || trap '' TERM\n" + FakeCloudflared::onlineBody()));
    TunnelSession session(localProfile(m_http.port()), {}, fastTimings());
    session.start();
    QTRY_COMPARE(session.status(), TunnelStatus::online());
    session.stop();
    QTRY_COMPARE(session.status(), TunnelStatus::idle());
    session.start();
    QTRY_COMPARE(session.status(), TunnelStatus::online());
    const qint64 second = m_fake->processId(2);
    // A forced kill would end the child, and its exit would change the session.
    QSignalSpy changes(&session, &TunnelSession::changed);
    QVERIFY(!changes.wait(3 * int(fastTimings().killGrace.count())));
    QCOMPARE(session.status(), TunnelStatus::online());
    QVERIFY(processAlive(second));
}

void TestTunnelLaunch::staleExitOnlyRemovesItsDirectory()
{
    // Run 1 times out and ignores SIGTERM; run 2 comes online while run 1 is still exiting.
    QVERIFY(m_fake->install("if [ \"$n\" = 1 ]; then trap '' TERM; exec sleep 30; fi\n" + FakeCloudflared::onlineBody()));
    Timings timings = fastTimings();
    timings.startupTimeout = 500ms;
    timings.killGrace = 1000ms;
    TunnelSession session(localProfile(m_http.port()), {}, timings);
    session.start();
    QTRY_VERIFY(session.status().is(TunnelStatus::Kind::failed));
    const qint64 first = m_fake->processId(1);
    const QString firstDirectory = m_fake->workingDirectory(1);
    QVERIFY(processAlive(first));

    session.start();
    QTRY_COMPARE(session.status(), TunnelStatus::online());
    const int entries = session.activity().size();
    QTRY_VERIFY(!QFileInfo::exists(firstDirectory));
    QVERIFY(!processAlive(first));
    QVERIFY(QFileInfo::exists(m_fake->workingDirectory(2)));
    QCOMPARE(session.status(), TunnelStatus::online());
    QCOMPARE(session.activity().size(), entries);
    QVERIFY(session.hasChild());
}

void TestTunnelLaunch::startFailures_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("messagePrefix");
    QTest::newRow("no cloudflared") << 0 << TunnelError::cloudflaredMissing().description();
    QTest::newRow("cannot be executed") << 1 << QStringLiteral("启动隧道失败：");
    QTest::newRow("runtime directory cannot be made") << 2 << QString();
}

void TestTunnelLaunch::startFailures()
{
    QFETCH(int, kind);
    QFETCH(QString, messagePrefix);
    const QByteArray tmp = qgetenv("TMPDIR");
    if (kind == 0)
        TunnelSession::setCloudflaredSearchPaths({m_fakeDir->filePath(QStringLiteral("absent"))});
    if (kind == 1)
        QVERIFY(writeExecutable(m_fake->path(), "#!/nonexistent/interpreter\n"));
    if (kind == 2) {
        QVERIFY(m_fake->install(FakeCloudflared::onlineBody()));
        QVERIFY(writeExecutable(m_fakeDir->filePath(QStringLiteral("file")), "x"));
        qputenv("TMPDIR", QFile::encodeName(m_fakeDir->filePath(QStringLiteral("file/below"))));
    }
    TunnelSession session(localProfile(m_http.port()), {}, fastTimings());
    session.start();
    QTRY_VERIFY(session.status().is(TunnelStatus::Kind::failed));
    qputenv("TMPDIR", tmp);
    const QString message = session.status().message;
    // The system's own description follows the prefix, where there is one.
    QVERIFY2(kind == 0 ? message == messagePrefix : message.startsWith(messagePrefix) && message != messagePrefix,
             qPrintable(message));
    QCOMPARE(session.localHealth(), HealthState::unhealthy(message));
    QCOMPARE(messages(session).constLast(), message);
    QVERIFY(messages(session).contains(QStringLiteral("本地服务可访问：http://127.0.0.1:%1").arg(m_http.port())));
    QVERIFY(!session.hasChild());
    QCOMPARE(m_fake->runs(), 0);
}

void TestTunnelLaunch::killChildAtQuit()
{
    QVERIFY(m_fake->install("trap '' TERM\n" + FakeCloudflared::onlineBody()));
    TunnelSession session(localProfile(m_http.port()), {}, Timings{});
    session.start();
    QTRY_COMPARE(session.status(), TunnelStatus::online());
    session.shutdown();
    QVERIFY(session.hasChild());
    session.killChild();
    QTRY_VERIFY(!session.hasChild());
    QCOMPARE(session.status(), TunnelStatus::idle());
    QVERIFY(!processAlive(m_fake->processId()));
}

void TestTunnelLaunch::versionQuery_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("version");
    QTest::newRow("version and more") << QByteArray("echo 'cloudflared version 2024.5.0 (built 2024-05-01-1200 UTC)'")
                                      << QStringLiteral("2024.5.0");
    QTest::newRow("bare version") << QByteArray("echo 'cloudflared version 1.2.3'") << QStringLiteral("1.2.3");
    QTest::newRow("empty") << QByteArray("exit 0") << QString();
    QTest::newRow("not UTF-8") << QByteArray("printf 'cloudflared version \\377\\n'") << QString();
    QTest::newRow("hangs") << QByteArray("exec sleep 30") << QStringLiteral("不可用");
    QTest::newRow("cannot start") << QByteArray() << QStringLiteral("不可用");
    QTest::newRow("absent") << QByteArray("absent") << QStringLiteral("未找到");
}

void TestTunnelLaunch::versionQuery()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, version);
    if (body == "absent")
        TunnelSession::setCloudflaredSearchPaths({m_fakeDir->filePath(QStringLiteral("absent"))});
    else if (body.isEmpty())
        QVERIFY(writeExecutable(m_fake->path(), "#!/nonexistent/interpreter\n"));
    else
        QVERIFY(m_fake->install(body));
    QCOMPARE(TunnelSession::installedCloudflaredVersion(500ms), version);
}

QTEST_GUILESS_MAIN(TestTunnelLaunch)
#include "TestTunnelLaunch.moc"
