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

/// "level: message" for each entry.
QStringList levelled(const TunnelSession &session)
{
    QStringList result;
    for (const ActivityEntry &entry : session.activity())
        result << rawValue(entry.level) + u": "_qs + entry.message;
    return result;
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

    /// A session that runs the fake `cloudflared`, each run watched on its own: nothing restarts.
    std::unique_ptr<TunnelSession> makeSession(const TunnelProfile &profile, Timings timings = testTimings())
    {
        SessionDependencies dependencies { timings, m_fake->locator(), answeringPublicProbe({ true, 404, {} }) };
        dependencies.policy->restartAfterDrop = false;
        return std::make_unique<TunnelSession>(profile, nullptr, dependencies);
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
        QTest::addColumn<HealthState>("publicHealth"); // checking: online
        const QString first = u"https://four-random-words-here.trycloudflare.com"_qs;
        const QString url = u"2024-05-01T10:00:03Z INF |  "_qs + first + u"   |"_qs;
        const QString reg = u"2024-05-01T10:00:04Z INF Registered tunnel connection connIndex=0 location=fra01"_qs;
        const QString req = u"2024-05-01T10:00:00Z INF Requesting new quick Tunnel on trycloudflare.com..."_qs;
        const QString urlLog = u"success: "_qs + urlEntry;
        const QString edgeLog = u"success: "_qs + edgeEntry;
        const HealthState online = HealthState::checking();
        const auto row = [](const char *name, const QStringList &lines, const QStringList &log,
                             const QString &publicURL = {}, const HealthState &health = HealthState::inactive()) {
            QTest::newRow(name) << lines << log << publicURL << health;
        };
        const auto host = [](const QString &label) { return u"https://"_qs + label + u".trycloudflare.com"_qs; };
        row("URL, then registration", { url, reg }, { urlLog, edgeLog }, first, online);
        row("registration, then URL", { reg, url }, { edgeLog, urlLog }, first, online);
        row("URL alone", { url }, { urlLog }, first);
        row("a later URL does not replace the first", { url, u"INF https://other-words.trycloudflare.com ERR boom"_qs },
            { urlLog, u"error: boom"_qs }, first);
        row("label of 63 characters", { u"INF "_qs + host(QString(63, u'a')) }, { urlLog }, host(QString(63, u'a')));
        row("label of one character", { u"INF "_qs + host(u"a"_qs) }, { urlLog }, host(u"a"_qs));
        row("an invalid address does not hide the real one", { u"INF "_qs + host(u"-"_qs) + u" "_qs + first },
            { urlLog }, first);
        row("no address, no marker",
            { u"failed to request quick Tunnel: Post \"https://api.trycloudflare.com/tunnel\": dial tcp"_qs,
                u"INF https://abc.trycloudflare.com:8443"_qs, u"INF |  "_qs + host(u"-"_qs) + u"  |"_qs,
                u"INF "_qs + host(u"-abc"_qs), u"INF "_qs + host(u"abc-"_qs), u"INF "_qs + host(QString(64, u'a')),
                u"T err x WRNING y"_qs, u"T INF Starting metrics server"_qs },
            {});
        row("registrations logged once in a row", { reg, reg, u"T WRN Retrying in 1s"_qs, reg },
            { edgeLog, u"warning: Retrying in 1s"_qs, edgeLog });
        row("request logged once in a row", { req, req },
            { QStringLiteral("info: 正在申请免费的 trycloudflare.com 域名") });
        row("registration wins over an error tag", { u"T ERR Registered tunnel connection connIndex=0"_qs },
            { edgeLog });
        row("error texts",
            { u"T WRN Gone error=\"a \"b\"\" k=\"v\""_qs, u"T ERR x error=EOF"_qs, u"T INF x error=\"lost\""_qs,
                u"2024 ERR  dial failed"_qs },
            { u"warning: a b k=v"_qs, u"error: error=EOF"_qs, u"error: lost"_qs, u"error:  dial failed"_qs });
        row("origin unreachable", { u"T ERR  error=\"Unable to reach the origin service. down\" connIndex=0"_qs },
            { u"error: Unable to reach the origin service. down connIndex=0"_qs }, {},
            HealthState::unhealthy(QStringLiteral("Cloudflare 无法访问本地服务")));
        // Unicode's own line breaks split a chunk too, and surrounding blanks go.
        row("lines within one piece of output", { u"T WRN a\r\n T WRN b \u2028T WRN c\u0085\u2029 \tT WRN d\u3000"_qs },
            { u"warning: a"_qs, u"warning: b"_qs, u"warning: c"_qs, u"warning: d"_qs });
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
        QFETCH(HealthState, publicHealth);
        TunnelSession session(localProfile(1), {}, { testTimings(), CloudflaredLocator(QStringList()), {} });
        for (const QString &line : lines)
            session.handleOutputLine(line);
        QCOMPARE(levelled(session), log);
        QCOMPARE(session.publicURL().value_or(QUrl()), QUrl(publicURL));
        QCOMPARE(session.publicHealth(), publicHealth);
        const bool online = publicHealth == HealthState::checking();
        QCOMPARE(session.status().is(TunnelStatus::Kind::online), online);
        QCOMPARE(session.connectedAt().has_value(), online);
    }

    void commandLineAndEnvironment_data()
    {
        QTest::addColumn<OriginScheme>("scheme");
        QTest::addColumn<QString>("tail");
        QTest::newRow("http ignores the switch") << OriginScheme::http << QString();
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
              "open(\"'\"$rec/pdeathsig.$n\"'\", \"w\").write(str(s.value)); time.sleep(30)'"));
        const bool https = scheme != OriginScheme::http;
        const quint16 port = https ? m_https.port() : m_http.port();
        const auto session = makeSession(localProfile(port, scheme, true));
        session->start();
        QTRY_COMPARE(session->status(), TunnelStatus::online());
        QCOMPARE(m_fake->runs(), 1);

        const QString runtime = m_fake->workingDirectory();
        QCOMPARE(QFileInfo(runtime).path(), QDir::tempPath());
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
        QTRY_COMPARE(m_fake->record("pdeathsig"), QByteArray::number(SIGKILL));
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

    void endings_data()
    {
        QTest::addColumn<QByteArray>("body"); // none: no cloudflared
        QTest::addColumn<quint16>("port");
        QTest::addColumn<int>("startupTimeout"); // ms
        QTest::addColumn<QString>("failure"); // none: back to idle; ending in "：", the system's reason follows
        QTest::addColumn<QStringList>("logged");
        const QByteArray url = FakeCloudflared::printToStandardError(FakeCloudflared::urlLine());
        const QString timedOut = QStringLiteral("连接 Cloudflare 超时，请检查网络后重试");
        const auto row = [this](const char *name, const QByteArray &body, const QString &failure,
                             const QStringList &logged = {}, int startupTimeout = 30000, quint16 port = 0) {
            QTest::newRow(name) << body << (port ? port : m_http.port()) << startupTimeout << failure << logged;
        };
        // The raw host text names the origin that did not answer; nothing is launched for it.
        const quint16 unused = LocalHttpServer::unusedPort();
        row("nothing answers", "exit 0", TunnelError::originUnavailable(u" 127.0.0.1 :%1"_qs.arg(unused)).description(),
            {}, 30000, unused);
        row("no cloudflared", {}, TunnelError::cloudflaredMissing().description());
        row("cannot be executed", "#!/nonexistent/interpreter\n", QStringLiteral("启动隧道失败："));
        row("killed by a signal", url + "kill -KILL $$", QStringLiteral("cloudflared 异常退出（代码 9）"),
            { urlEntry });
        // The URL counts only if its halves are joined and the unterminated last line is judged at the end.
        row("URL split across writes, unterminated",
            "printf 'INF Registered tunnel connection\\n'\nprintf '2024-05-01T10:00:03Z INF |  https://split-' >&2\n"
            "sleep 0.3\nprintf 'label.trycloudflare.com   |' >&2\nexit 0",
            {}, { edgeEntry, urlEntry });
        // The failure outlives the child it ends, and so does its text: the child's noise is not logged.
        row("time-out, then ends by SIGTERM", url + "exec sleep 30", timedOut, {}, 600);
        row("time-out, then exits 0 on SIGTERM",
            url
                + "trap 'printf \"T ERR Serve tunnel error error=context canceled\\n\" >&2; exit 0' TERM\nsleep 5 "
                  "&\nwait",
            timedOut, {}, 600);
    }

    void endings()
    {
        QFETCH(QByteArray, body);
        QFETCH(quint16, port);
        QFETCH(int, startupTimeout);
        QFETCH(QString, failure);
        QFETCH(QStringList, logged);
        QVERIFY(
            body.isEmpty() || (body.startsWith("#!") ? writeExecutable(m_fake->path(), body) : m_fake->install(body)));
        TunnelProfile profile = localProfile(port, OriginScheme::automatic);
        profile.host = u" 127.0.0.1 "_qs;
        const auto session = makeSession(profile, testTimings(std::chrono::milliseconds(startupTimeout)));
        session->start();
        QTRY_VERIFY(!session->hasChild() && !session->status().isActive());
        const TunnelStatus status = session->status();
        const QString message = failure.isEmpty() ? QStringLiteral("隧道进程已结束") : status.message;
        QCOMPARE(status.is(TunnelStatus::Kind::failed), !failure.isEmpty());
        QVERIFY2(failure.endsWith(u'：') ? message.startsWith(failure) && message != failure
                                         : failure.isEmpty() || message == failure,
            qPrintable(message));
        QCOMPARE(activityMessages(*session).constLast(), message);
        for (const QString &entry : logged)
            QVERIFY2(activityMessages(*session).contains(entry), qPrintable(entry));
        QCOMPARE(activityMessages(*session).contains(u"本地服务可访问：http://127.0.0.1:%1"_qs.arg(port)),
            port == m_http.port());
        const bool launched = m_fake->runs() > 0;
        QCOMPARE(launched, port == m_http.port() && !body.isEmpty() && !body.startsWith("#!"));
        if (!launched)
            QCOMPARE(session->localHealth(), HealthState::unhealthy(message));
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
        QCOMPARE(activityMessages(*session).count(QStringLiteral("正在关闭公网隧道…")), 2);
        QTRY_COMPARE(session->status(), TunnelStatus::idle());
        QVERIFY(!processAlive(m_fake->processId()));
        const QString stopped = QStringLiteral("隧道已停止，原公网链接已经失效");
        QCOMPARE(activityMessages(*session).count(stopped), 1);
        QCOMPARE(activityMessages(*session).constLast(), stopped);
        QCOMPARE(activityMessages(*session).count(edgeEntry), 2);
        QVERIFY(!activityMessages(*session).contains(u"going down"_qs)); // complaints during a stop are noise
        QVERIFY(!seen.contains(TunnelStatus::online()));
    }

    void noticesWarningsAndShutdownBySomeoneElse()
    {
        // Routine notices, a warning that names its error (cloudflared issue 1105), and the shutdown
        // noise of issues 1038 and 762 after a SIGTERM that someone else sent.
        QFile shutdown(m_fake->recordDirectory() + u"/shutdown"_qs);
        QVERIFY(shutdown.open(QIODevice::WriteOnly));
        shutdown.write("2023-08-04T09:42:19Z INF Initiating graceful shutdown due to signal terminated ...\n"
                       "2023-08-04T09:42:19Z ERR writing finish: Application error 0x0 (remote)\n"
                       "2023-08-04T09:42:19Z INF Unregistered tunnel connection connIndex=0 event=0 ip=198.41.192.67\n"
                       "2023-08-04T09:42:19Z ERR Failed to serve quic connection error=\"context canceled\" "
                       "connIndex=0 event=0 ip=198.41.192.67\n"
                       "2023-08-04T09:42:19Z INF Retrying connection in up to 1s connIndex=0 event=0 ip=198.41.192.67\n"
                       "2022-09-22T14:16:56Z ERR no more connections active and exiting\n");
        shutdown.close();
        QVERIFY(m_fake->install("trap 'cat \"$rec/shutdown\" >&2; kill $!; exit 0' TERM\n"
            + FakeCloudflared::printToStandardError(FakeCloudflared::requestLine() + FakeCloudflared::routineNotices()
                + "2023-11-17T22:19:00Z WRN Failed to serve quic connection error=\"timeout: no recent network "
                  "activity\" connIndex=0 event=0 ip=198.41.200.43\n"
                + FakeCloudflared::urlLine() + FakeCloudflared::registeredLine())
            + "sleep 30 &\nwait\n"));
        const auto session = makeSession(localProfile(m_http.port()));
        session->start();
        QTRY_COMPARE(session->status(), TunnelStatus::online());
        QList<HealthState> publicHealths;
        connect(session.get(), &TunnelSession::changed, this, [&] { publicHealths << session->publicHealth(); });
        QCOMPARE(::kill(pid_t(m_fake->processId()), SIGTERM), 0);
        QTRY_VERIFY(!session->hasChild());
        QCOMPARE(levelled(*session),
            QStringList({ QStringLiteral("info: 正在检查本地服务…"),
                u"success: 本地服务可访问：http://127.0.0.1:%1"_qs.arg(m_http.port()),
                QStringLiteral("info: 正在启动 Cloudflare Quick Tunnel"),
                QStringLiteral("info: 正在申请免费的 trycloudflare.com 域名"),
                u"warning: timeout: no recent network activity connIndex=0 event=0 ip=198.41.200.43"_qs,
                u"success: "_qs + urlEntry, u"success: "_qs + edgeEntry,
                QStringLiteral("info: cloudflared 收到退出信号，正在关闭隧道"),
                QStringLiteral("info: 隧道进程已结束") }));
        QCOMPARE(session->status(), TunnelStatus::idle());
        QVERIFY(std::none_of(publicHealths.cbegin(), publicHealths.cend(),
            [](const HealthState &health) { return health.is(HealthState::Kind::unhealthy); }));
    }

    void lostEdgeConnectionUntilRegisteredAgain()
    {
        // While online, the connection times out and is retried (cloudflared issue 1228).
        QVERIFY(m_fake->install(
            FakeCloudflared::printToStandardError(FakeCloudflared::urlLine() + FakeCloudflared::registeredLine())
            + FakeCloudflared::waitFor("drop")
            + FakeCloudflared::printToStandardError(
                "2024-04-06T07:20:21Z INF Unregistered tunnel connection connIndex=0 event=0 ip=198.41.200.23\n"
                "2024-04-06T07:20:21Z ERR Failed to serve quic connection error=\"failed to accept QUIC stream: "
                "timeout: no recent network activity\" connIndex=0 event=0 ip=198.41.200.23\n"
                "2024-04-06T07:20:21Z ERR Serve tunnel error error=\"failed to accept QUIC stream: timeout: no "
                "recent network activity\" connIndex=0 event=0 ip=198.41.200.23\n"
                "2024-04-06T07:20:21Z INF Retrying connection in up to 1s connIndex=0 event=0 ip=198.41.200.23\n"
                "2024-04-06T07:20:22Z ERR Connection terminated error=\"failed to accept QUIC stream: timeout: no "
                "recent network activity\" connIndex=0\n")
            + FakeCloudflared::waitFor("back")
            + FakeCloudflared::printToStandardError(FakeCloudflared::registeredLine()) + "exec sleep 30\n"));
        Timings timings = testTimings();
        timings.postOnlineCheck = 200ms;
        const auto session = makeSession(localProfile(m_http.port()), timings);
        QSignalSpy checks(session.get(), &TunnelSession::healthChecked);
        session->start();
        QTRY_COMPARE(session->publicHealth(), HealthState::healthy());
        QVERIFY(m_fake->release("drop"));
        const QString lostText = QStringLiteral("与 Cloudflare 的连接已断开，正在重连");
        QTRY_COMPARE(session->publicHealth(), HealthState::unhealthy(lostText));
        QCOMPARE(session->status(), TunnelStatus::online());
        QCOMPARE(session->overallLabel(), QStringLiteral("公网异常"));
        // A probe that still gets an answer does not hide it.
        checks.clear();
        session->requestImmediateHealthCheck();
        QVERIFY(checks.wait());
        QCOMPARE(session->publicHealth(), HealthState::unhealthy(lostText));
        // The next registration brings a check of its own.
        QVERIFY(m_fake->release("back"));
        QVERIFY(checks.wait());
        QCOMPARE(session->publicHealth(), HealthState::healthy());
        QCOMPARE(levelled(*session).count(u"warning: "_qs + lostText), 1);
        session->stop();
        QTRY_COMPARE(session->status(), TunnelStatus::idle());
    }

    void killAfterStopSparesTheNextChildButDeletingKillsIt()
    {
        // The first child leaves at once on SIGTERM; the second ignores it and must survive the first
        // stop's forced-kill deadline, but not the session's end.
        QVERIFY(m_fake->install("[ \"$n\" = 1 ] || trap '' TERM\n" + FakeCloudflared::onlineBody()));
        auto session = makeSession(localProfile(m_http.port()));
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
        const QString runtime = m_fake->workingDirectory(2);
        session.reset();
        // Reaping waits for the event loop, so the directory is still there right after.
        QVERIFY(QFileInfo::exists(runtime));
        QTRY_VERIFY(!processAlive(m_fake->processId(2)) && !QFileInfo::exists(runtime));
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
        QCOMPARE(activityMessages(*session), QStringList { QStringLiteral("正在检查本地服务…") });
    }
};

QTEST_GUILESS_MAIN(TestTunnelSession)
#include "TestTunnelSession.moc"
