#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "session/TunnelSession.h"

#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

QStringList messages(const TunnelSession &session)
{
    QStringList result;
    for (const ActivityEntry &entry : session.activity())
        result << entry.message;
    return result;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Timings testTimings(std::chrono::milliseconds startupTimeout = 30s, std::chrono::milliseconds killGrace = 400ms)
{
    Timings timings = quickTimings();
    timings.startupTimeout = startupTimeout;
    timings.killGrace = killGrace;
    return timings;
}

const QString urlEntry = QStringLiteral("公网 HTTPS 链接已生成");
const QString edgeEntry = QStringLiteral("已连接 Cloudflare 边缘网络");

} // namespace

class TestTunnelSession : public QObject
{
    Q_OBJECT

    QTemporaryDir m_temp;
    std::unique_ptr<QTemporaryDir> m_fakeDir;
    std::unique_ptr<FakeCloudflared> m_fake;
    LocalHttpServer m_http;
    LocalHttpServer m_https;
    LocalHttpServer m_silent;

    /// A session that runs the fake `cloudflared`.
    std::unique_ptr<TunnelSession> makeSession(const TunnelProfile &profile, Timings timings = testTimings())
    {
        return std::make_unique<TunnelSession>(profile, nullptr,
            SessionDependencies { timings, m_fake->locator(), answeringPublicProbe({ true, 404, {} }) });
    }

private slots:
    void initTestCase()
    {
        // Runtime directories land here, where the test can see them all.
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
        const auto certificate = TestCertificate::generate();
        m_silent.setSilent(true);
        QVERIFY(certificate && m_http.listenHttp() && m_https.listenHttps(*certificate) && m_silent.listenHttp());
    }

    void init()
    {
        m_fakeDir = std::make_unique<QTemporaryDir>();
        m_fake = std::make_unique<FakeCloudflared>(m_fakeDir->path());
    }

    void cleanup()
    {
        m_fake.reset();
        m_fakeDir.reset();
        // No runtime directory outlives its child.
        QTRY_COMPARE(QDir(QDir::tempPath()).entryList({ u"orvanta-runtime-*"_qs }, QDir::Dirs), QStringList());
    }

    void interpretation_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("log"); // "level: message"
        QTest::addColumn<QString>("publicURL");
        QTest::addColumn<bool>("online");
        const QString url = u"2024-05-01T10:00:03Z INF |  https://four-random-words-here.trycloudflare.com   |"_qs;
        const QString reg = u"2024-05-01T10:00:04Z INF Registered tunnel connection connIndex=0 location=fra01"_qs;
        const QString req = u"2024-05-01T10:00:00Z INF Requesting new quick Tunnel on trycloudflare.com..."_qs;
        const QString first = u"https://four-random-words-here.trycloudflare.com"_qs;
        const QString urlLog = u"success: "_qs + urlEntry;
        const QString edgeLog = u"success: "_qs + edgeEntry;
        const auto row
            = [](const char *name, const QStringList &lines, const QStringList &log, const QString &publicURL = {},
                  bool online = false) { QTest::newRow(name) << lines << log << publicURL << online; };
        row("URL, then registration", { url, reg }, { urlLog, edgeLog }, first, true);
        row("registration, then URL", { reg, url }, { edgeLog, urlLog }, first, true);
        row("URL alone", { url }, { urlLog }, first);
        row("a later URL does not replace the first", { url, u"INF https://other-words.trycloudflare.com ERR boom"_qs },
            { urlLog, u"error: boom"_qs }, first);
        row("registrations logged once in a row", { reg, reg, u"T WRN Retrying in 1s"_qs, reg },
            { edgeLog, u"warning: Retrying in 1s"_qs, edgeLog });
        row("request logged once in a row", { req, req },
            { QStringLiteral("info: 正在申请免费的 trycloudflare.com 域名") });
        QStringList many;
        for (int i = 1; i <= 61; ++i)
            many << u"T WRN w%1"_qs.arg(i);
        row("the log keeps the 60 newest", many, many.mid(1).replaceInStrings(u"T WRN "_qs, u"warning: "_qs));
    }

    void interpretation()
    {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, log);
        QFETCH(QString, publicURL);
        QFETCH(bool, online);
        TunnelSession session(localProfile(1), {}, { testTimings(), CloudflaredLocator(QStringList()), {} });
        for (const QString &line : lines)
            session.handleOutputLine(line);
        QStringList seen;
        for (const ActivityEntry &entry : session.activity())
            seen << rawValue(entry.level) + u": "_qs + entry.message;
        QCOMPARE(seen, log);
        QCOMPARE(session.publicURL().value_or(QUrl()), QUrl(publicURL));
        QCOMPARE(session.status().is(TunnelStatus::Kind::online), online);
        QCOMPARE(session.connectedAt().has_value(), online);
        QCOMPARE(session.publicHealth(), online ? HealthState::checking() : HealthState::inactive());
    }

    void commandLineAndEnvironment_data()
    {
        QTest::addColumn<OriginScheme>("scheme");
        QTest::addColumn<QString>("tail");
        QTest::newRow("http ignores the switch") << OriginScheme::http << QString();
        QTest::newRow("https unverified") << OriginScheme::https << u" --no-tls-verify"_qs;
        QTest::newRow("automatic detects https") << OriginScheme::automatic << u" --no-tls-verify"_qs;
    }

    void commandLineAndEnvironment()
    {
        QFETCH(OriginScheme, scheme);
        QFETCH(QString, tail);
        // The waiting child notes the signal it gets when we die (PR_GET_PDEATHSIG). Before, a child of
        // the shell lists the shell's descriptors (to a file: standard output is not needed later), so
        // that listing them opens none in the shell.
        const QByteArray inherited = QFile::encodeName(m_temp.path() + u"/inherited"_qs);
        const int descriptor = ::open(inherited.constData(), O_CREAT | O_RDONLY, 0600); // no O_CLOEXEC
        const auto closeInherited = qScopeGuard([descriptor] { ::close(descriptor); });
        QVERIFY(descriptor > 2);
        QVERIFY(m_fake->install("exec > \"$rec/fds.$n\"\nls -l /proc/$$/fd\n"
            + FakeCloudflared::printToStandardError(FakeCloudflared::urlLine() + FakeCloudflared::registeredLine())
            + "exec python3 -c 'import ctypes, time; s = ctypes.c_int(-1); "
              "ctypes.CDLL(None).prctl(2, ctypes.byref(s), 0, 0, 0); "
              "open(\"pdeathsig\", \"w\").write(str(s.value)); time.sleep(30)'"));
        const bool https = scheme != OriginScheme::http;
        const quint16 port = https ? m_https.port() : m_http.port();
        const auto session = makeSession(localProfile(port, scheme, true));
        session->start();
        QTRY_COMPARE(session->status(), TunnelStatus::online());
        QCOMPARE(m_fake->runs(), 1);

        const QString runtime = m_fake->workingDirectory();
        QCOMPARE(QFileInfo(runtime).path(), QDir::tempPath());
        QVERIFY2(QFileInfo(runtime).fileName().startsWith(u"orvanta-runtime-"_qs), qPrintable(runtime));
        QCOMPARE(QFile::permissions(runtime) & 0x7777, QFileDevice::Permissions(0x7700)); // the owner's alone
        QCOMPARE(contents(runtime + u"/empty.yml"_qs), QByteArray("{}\n"));
        const QString origin = (https ? u"https://127.0.0.1:"_qs : u"http://127.0.0.1:"_qs) + QString::number(port);
        QCOMPARE(QString::fromUtf8(m_fake->record("argv")).split(u'\n'),
            u"tunnel --config %1/empty.yml --no-autoupdate --metrics 127.0.0.1:0 --loglevel info --url %2 "
            "--http-host-header 127.0.0.1:%3%4"_qs.arg(runtime, origin, QString::number(port), tail)
                .split(u' '));
        QCOMPARE(session->activeOrigin(), origin);
        QByteArrayList environment = m_fake->record("environ").split('\0');
        environment.removeAll(QByteArray());
        std::sort(environment.begin(), environment.end());
        QCOMPARE(environment,
            QByteArrayList({ "HOME=" + QFile::encodeName(runtime), "NO_AUTOUPDATE=true",
                "PATH=/usr/bin:/bin:/usr/sbin:/sbin", "TMPDIR=" + QFile::encodeName(QDir::tempPath()) }));
        QTRY_COMPARE(contents(runtime + u"/pdeathsig"_qs), QByteArray::number(SIGKILL));
        // Only the standard three reach the child, and the script its shell reads.
        QList<int> descriptors;
        const QRegularExpression entry(u"(\\d+) -> (.*)$"_qs);
        for (const QString &line : QString::fromLocal8Bit(m_fake->record("fds")).split(u'\n')) {
            if (const QRegularExpressionMatch match = entry.match(line); match.hasMatch()) {
                descriptors << match.captured(1).toInt();
                QVERIFY2(descriptors.last() <= 2 || match.captured(2) == m_fake->path(), qPrintable(line));
            }
        }
        std::sort(descriptors.begin(), descriptors.end());
        QCOMPARE(descriptors.mid(0, 3), QList<int>({ 0, 1, 2 }));
        session->stop();
        QTRY_COMPARE(session->status(), TunnelStatus::idle());
    }

    void exitIsReported_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("startupTimeout"); // ms
        QTest::addColumn<QString>("failure"); // none: back to idle
        QTest::addColumn<QStringList>("logged");
        const QByteArray url = FakeCloudflared::printToStandardError(FakeCloudflared::urlLine());
        const QString timedOut = QStringLiteral("连接 Cloudflare 超时，请检查网络后重试");
        const auto row
            = [](const char *name, const QByteArray &body, const QString &failure, const QStringList &logged,
                  int startupTimeout = 30000) { QTest::newRow(name) << body << startupTimeout << failure << logged; };
        row("exit 1, the quick-tunnel service unreachable",
            FakeCloudflared::printToStandardError("failed to request quick Tunnel: no such host\n") + "exit 1",
            QStringLiteral("cloudflared 异常退出（代码 1）"), {});
        row("killed by a signal", url + "kill -KILL $$", QStringLiteral("cloudflared 异常退出（代码 9）"),
            { urlEntry });
        // The URL counts only if its halves are joined and the unterminated last line is judged at the end.
        row("URL split across writes, unterminated",
            "printf 'INF Registered tunnel connection\\n'\nprintf '2024-05-01T10:00:03Z INF |  https://split-' >&2\n"
            "sleep 0.3\nprintf 'label.trycloudflare.com   |' >&2\nexit 0",
            {}, { edgeEntry, urlEntry });
        row("time-out, then ends by SIGTERM", url + "exec sleep 30",
            QStringLiteral("cloudflared 异常退出（代码 %1）").arg(SIGTERM), { timedOut }, 600);
        row("time-out, then exits 0 on SIGTERM", url + "trap 'exit 0' TERM\nsleep 5 &\nwait", {}, { timedOut }, 600);
    }

    void exitIsReported()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, startupTimeout);
        QFETCH(QString, failure);
        QFETCH(QStringList, logged);
        QVERIFY(m_fake->install(body));
        const auto session
            = makeSession(localProfile(m_http.port()), testTimings(std::chrono::milliseconds(startupTimeout)));
        session->start();
        QTRY_VERIFY(!session->hasChild()
            && session->status() == (failure.isEmpty() ? TunnelStatus::idle() : TunnelStatus::failed(failure)));
        QCOMPARE(messages(*session).constLast(), failure.isEmpty() ? QStringLiteral("隧道进程已结束") : failure);
        for (const QString &message : logged)
            QVERIFY2(messages(*session).contains(message), qPrintable(message));
    }

    void stopEscalatesToKillOnce()
    {
        // Ignores SIGTERM, but reports one more registration and an error when it gets it.
        QByteArray registered = FakeCloudflared::registeredLine(1);
        registered.chop(1);
        QVERIFY(m_fake->install("trap \"printf '%s\\n' '" + registered + "' 'T ERR going down' >&2\" TERM\n"
            + FakeCloudflared::printToStandardError(FakeCloudflared::urlLine() + FakeCloudflared::registeredLine())
            + "while :; do sleep 0.1; done\n"));
        const auto session = makeSession(localProfile(m_http.port()));
        session->start();
        QTRY_COMPARE(session->status(), TunnelStatus::online());
        QList<TunnelStatus> seen;
        connect(session.get(), &TunnelSession::changed, this, [&] { seen << session->status(); });
        session->stop();
        QCOMPARE(session->status(), TunnelStatus::stopping());
        session->stop(); // a second stop repeats the request
        QCOMPARE(messages(*session).count(QStringLiteral("正在关闭公网隧道…")), 2);
        QTRY_COMPARE(session->status(), TunnelStatus::idle());
        QVERIFY(!processAlive(m_fake->processId()));
        const QString stopped = QStringLiteral("隧道已停止，原公网链接已经失效");
        QCOMPARE(messages(*session).count(stopped), 1);
        QCOMPARE(messages(*session).constLast(), stopped);
        QCOMPARE(messages(*session).count(edgeEntry), 2);
        QVERIFY(!messages(*session).contains(u"going down"_qs)); // complaints during a stop are noise
        QVERIFY(!seen.contains(TunnelStatus::online()));
    }

    void killAfterStopSparesTheNextChild()
    {
        // The first child leaves at once on SIGTERM; the second ignores it and must survive the first
        // stop's forced-kill deadline.
        QVERIFY(m_fake->install("[ \"$n\" = 1 ] || trap '' TERM\n" + FakeCloudflared::onlineBody()));
        const auto session = makeSession(localProfile(m_http.port()));
        session->start();
        QTRY_COMPARE(session->status(), TunnelStatus::online());
        session->stop();
        QTRY_COMPARE(session->status(), TunnelStatus::idle());
        session->start();
        QTRY_COMPARE(session->status(), TunnelStatus::online());
        // A forced kill would end the child, and its exit would change the session.
        QSignalSpy changes(session.get(), &TunnelSession::changed);
        QVERIFY(!changes.wait(3 * int(testTimings().killGrace.count())));
        QVERIFY(processAlive(m_fake->processId(2)));
    }

    void staleExitOnlyRemovesItsDirectory()
    {
        // Run 1 times out and ignores SIGTERM; run 2 comes online while run 1 is still exiting.
        QVERIFY(m_fake->install(
            "if [ \"$n\" = 1 ]; then trap '' TERM; exec sleep 30; fi\n" + FakeCloudflared::onlineBody()));
        const auto session = makeSession(localProfile(m_http.port()), testTimings(500ms, 1000ms));
        session->start();
        QTRY_VERIFY(session->status().is(TunnelStatus::Kind::failed));
        session->start();
        QTRY_COMPARE(session->status(), TunnelStatus::online());
        QVERIFY(processAlive(m_fake->processId(1)));
        const QList<ActivityEntry> log = session->activity();
        QTRY_VERIFY(!QFileInfo::exists(m_fake->workingDirectory(1)));
        QVERIFY(!processAlive(m_fake->processId(1)));
        QVERIFY(QFileInfo::exists(m_fake->workingDirectory(2)) && session->hasChild());
        QCOMPARE(session->status(), TunnelStatus::online());
        QCOMPARE(session->activity(), log);
    }

    void startFailures_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("prefix"); // the system's own description follows, where there is one
        QTest::newRow("nothing answers") << 0 << QString();
        QTest::newRow("no cloudflared") << 1 << TunnelError::cloudflaredMissing().description();
        QTest::newRow("cannot be executed") << 2 << QStringLiteral("启动隧道失败：");
    }

    void startFailures()
    {
        QFETCH(int, kind);
        QFETCH(QString, prefix);
        QVERIFY(kind == 1
            || (kind == 2 ? writeExecutable(m_fake->path(), "#!/nonexistent/interpreter\n")
                          : m_fake->install("exit 0")));
        const quint16 port = kind == 0 ? LocalHttpServer::unusedPort() : m_http.port();
        TunnelProfile profile = localProfile(port, OriginScheme::automatic);
        profile.host = u" 127.0.0.1 "_qs;
        const auto session = makeSession(profile);
        session->start();
        QTRY_VERIFY(session->status().is(TunnelStatus::Kind::failed));
        const QString message = session->status().message;
        if (kind == 0)
            prefix = TunnelError::originUnavailable(u" 127.0.0.1 :%1"_qs.arg(port)).description();
        QVERIFY2(kind < 2 ? message == prefix : message.startsWith(prefix) && message != prefix, qPrintable(message));
        QCOMPARE(session->localHealth(), HealthState::unhealthy(message));
        QCOMPARE(messages(*session).constLast(), message);
        QCOMPARE(messages(*session).contains(u"本地服务可访问：http://127.0.0.1:%1"_qs.arg(port)), kind != 0);
        QVERIFY(!session->hasChild());
        QCOMPARE(m_fake->runs(), 0);
    }

    void deletingKillsAndReapsTheChildLater()
    {
        QVERIFY(m_fake->install("trap '' TERM\n" + FakeCloudflared::onlineBody()));
        auto session = makeSession(localProfile(m_http.port()));
        session->start();
        QTRY_COMPARE(session->status(), TunnelStatus::online());
        const qint64 pid = m_fake->processId();
        const QString runtime = m_fake->workingDirectory();
        session.reset();
        // Reaping waits for the event loop, so the directory is still there right after.
        QVERIFY(QFileInfo::exists(runtime));
        QTRY_VERIFY(!processAlive(pid) && !QFileInfo::exists(runtime));
    }

    void stopDuringPreparationWhileProbeHangs()
    {
        const auto session = makeSession(localProfile(m_silent.port()));
        const qsizetype hanging = m_silent.requests().size();
        session->start();
        QCOMPARE(session->status(), TunnelStatus::preparing());
        QTRY_COMPARE(m_silent.requests().size(), hanging + 1);
        session->stop();
        QCOMPARE(session->status(), TunnelStatus::idle());
        QSignalSpy changes(session.get(), &TunnelSession::changed);
        QVERIFY(!changes.wait(2500)); // the probe's time-out and grace, and more
        QCOMPARE(session->localHealth(), HealthState::unknown());
        QCOMPARE(messages(*session), QStringList { QStringLiteral("正在检查本地服务…") });
    }
};

QTEST_GUILESS_MAIN(TestTunnelSession)
#include "TestTunnelSession.moc"
