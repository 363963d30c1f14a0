#include "SessionRig.h"
#include "session/FailureDiagnosis.h"
#include "session/OutputLineSplitter.h"

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

Timings timings(std::chrono::milliseconds startupTimeout, std::chrono::milliseconds killGrace = 400ms)
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

    SessionRig m_rig;
    LocalHttpServer m_https;
    LocalHttpServer m_silent;

    /// Each run is watched on its own: nothing restarts.
    std::unique_ptr<TunnelSession> makeSession(const TunnelProfile &profile, Timings timings = quickTimings())
    {
        return std::make_unique<TunnelSession>(profile, nullptr, m_rig.dependencies(timings, false));
    }

private slots:
    void initTestCase()
    {
        const auto certificate = TestCertificate::generate();
        m_silent.setSilent(true);
        QVERIFY(m_rig.setUp() && certificate && m_https.listenHttps(*certificate) && m_silent.listenHttp());
    }

    void init() { m_rig.renew(); }
    void cleanup() { m_rig.verifyNothingLeft(); }

    // Output as the pipe delivers it: cut into lines, then judged by the session.
    void interpretation_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
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
        const auto chunked = [](const char *name, const QByteArrayList &chunks, const QStringList &log,
                                 const QString &publicURL = {}, const HealthState &health = HealthState::inactive()) {
            QTest::newRow(name) << chunks << log << publicURL << health;
        };
        const auto row = [&chunked](const char *name, const QStringList &lines, const QStringList &log,
                             const QString &publicURL = {}, const HealthState &health = HealthState::inactive()) {
            chunked(name, { lines.join(u'\n').toUtf8() + '\n' }, log, publicURL, health);
        };
        const auto host = [](const QString &label) { return u"https://"_qs + label + u".trycloudflare.com"_qs; };
        row("URL, then registration", { url, reg }, { urlLog, edgeLog }, first, online);
        row("registration, then URL", { reg, url }, { edgeLog, urlLog }, first, online);
        row("a later URL does not replace the first", { url, u"INF https://other-words.trycloudflare.com ERR boom"_qs },
            { urlLog, u"error: boom"_qs }, first);
        row("label of one character", { u"INF "_qs + host(u"a"_qs) }, { urlLog }, host(u"a"_qs));
        row("an invalid address does not hide a real one of 63 characters",
            { u"INF "_qs + host(u"-"_qs) + u" "_qs + host(QString(63, u'a')) }, { urlLog }, host(QString(63, u'a')));
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
        QStringList many;
        for (int i = 1; i <= 61; ++i)
            many << u"T WRN w%1"_qs.arg(i);
        row("the log keeps the 60 newest", many, many.mid(1).replaceInStrings(u"T WRN "_qs, u"warning: "_qs));

        const auto warnings = [](const char *letters) {
            QStringList result;
            for (const char *letter = letters; *letter; ++letter)
                result << u"warning: "_qs + QLatin1Char(*letter);
            return result;
        };
        chunked("lines and characters across chunks", { "T WRN a", "b\nT WRN \xe4\xb8", "\xad\xe6\x96\x87\n" },
            { u"warning: ab"_qs, QStringLiteral("warning: 中文") });
        // Unicode's own line breaks split a line too, and surrounding blanks go; the last line needs no end.
        chunked("every line break",
            { "T WRN a\r\nT WRN b\rT WRN c\vT WRN d\f\n",
                u"T WRN e \u2028T WRN f\u0085\u2029 \tT WRN g\u3000\n"_qs.toUtf8(), "T WRN h " },
            warnings("abcdefgh"));
        chunked("an invalid line is dropped alone", { "T WRN a\nT WRN \xff\xfe\nT WRN b\n" }, warnings("ab"));
        // A line is bounded whole, wherever the pipe cuts it.
        const qsizetype max = OutputLineSplitter::maxLineBytes;
        const QByteArray wrn = "T WRN ";
        chunked("over-long lines dropped",
            { wrn + QByteArray(max, 'x'), "xx\nT WRN a\n" + QByteArray(60000, 'x'),
                QByteArray(60000, 'x') + "\nT WRN b\n" + QByteArray(max + 1, 'x') + "\nT WRN c\nT WRN d" },
            warnings("abcd"));
        chunked("a line at the bound kept", { wrn + QByteArray(1000, 'x'), QByteArray(max - 1006, 'x') + '\n' },
            { u"warning: "_qs + QString(max - 6, u'x') });
    }

    void interpretation()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QStringList, log);
        QFETCH(QString, publicURL);
        QFETCH(HealthState, publicHealth);
        TunnelSession session(localProfile(1), {}, { quickTimings(), CloudflaredLocator(QStringList()), {} });
        OutputLineSplitter splitter;
        const auto judge = [&session](const QString &line) { session.handleOutputLine(line); };
        for (const QByteArray &chunk : chunks)
            splitter.feed(chunk, judge);
        splitter.finish(judge);
        QCOMPARE(levelled(session), log);
        QCOMPARE(session.publicURL().value_or(QUrl()), QUrl(publicURL));
        QCOMPARE(session.publicHealth(), publicHealth);
        const bool online = publicHealth == HealthState::checking();
        QCOMPARE(session.status().is(TunnelStatus::Kind::online), online);
        QCOMPARE(session.connectedAt().has_value(), online);
    }

    // An automatically detected HTTPS service whose certificate is not checked.
    void commandLineAndEnvironment()
    {
        // The waiting child notes the signal it gets when we die (PR_GET_PDEATHSIG). Before, a child of
        // the shell lists the shell's descriptors (to a file: standard output is not needed later), so
        // that listing them opens none in the shell.
        const QByteArray inherited = QFile::encodeName(m_rig.temp.path() + u"/inherited"_qs);
        const int descriptor = ::open(inherited.constData(), O_CREAT | O_RDONLY, 0600); // no O_CLOEXEC
        const auto closeInherited = qScopeGuard([descriptor] { ::close(descriptor); });
        QVERIFY(descriptor > 2);
        QVERIFY(m_rig.fake->install("exec > \"$rec/fds.$n\"\nls -l /proc/$$/fd\n"
            + FakeCloudflared::printToStandardError(FakeCloudflared::urlLine() + FakeCloudflared::registeredLine())
            + "exec python3 -c 'import ctypes, time; s = ctypes.c_int(-1); "
              "ctypes.CDLL(None).prctl(2, ctypes.byref(s), 0, 0, 0); "
              "open(\"'\"$rec/pdeathsig.$n\"'\", \"w\").write(str(s.value)); time.sleep(30)'"));
        const quint16 port = m_https.port();
        const auto session = makeSession(localProfile(port, OriginScheme::automatic, true));
        session->start();
        QTRY_COMPARE(session->status(), TunnelStatus::online());
        QCOMPARE(m_rig.fake->runs(), 1);

        const QString runtime = m_rig.fake->workingDirectory();
        QCOMPARE(QFileInfo(runtime).path(), QDir::tempPath());
        const QString origin = u"https://127.0.0.1:%1"_qs.arg(port);
        QCOMPARE(QString::fromUtf8(m_rig.fake->record("argv")).split(u'\n'),
            u"tunnel --config %1/empty.yml --no-autoupdate --metrics 127.0.0.1:0 --loglevel info --url %2 "
            "--http-host-header 127.0.0.1:%3 --no-tls-verify"_qs.arg(runtime, origin, QString::number(port))
                .split(u' '));
        QByteArrayList environment = m_rig.fake->record("environ").split('\0');
        environment.removeAll(QByteArray());
        std::sort(environment.begin(), environment.end());
        QCOMPARE(environment,
            QByteArrayList({ "HOME=" + QFile::encodeName(runtime), "NO_AUTOUPDATE=true",
                "PATH=/usr/bin:/bin:/usr/sbin:/sbin", "TMPDIR=" + QFile::encodeName(QDir::tempPath()) }));
        QTRY_COMPARE(m_rig.fake->record("pdeathsig"), QByteArray::number(SIGKILL));
        // Only the standard three reach the child, and the script its shell reads.
        QList<int> descriptors;
        const QRegularExpression entry(u"(\\d+) -> (.*)$"_qs);
        for (const QString &line : QString::fromLocal8Bit(m_rig.fake->record("fds")).split(u'\n')) {
            if (const QRegularExpressionMatch match = entry.match(line); match.hasMatch()) {
                descriptors << match.captured(1).toInt();
                QVERIFY2(descriptors.last() <= 2 || match.captured(2) == m_rig.fake->path(), qPrintable(line));
            }
        }
        std::sort(descriptors.begin(), descriptors.end());
        QCOMPARE(descriptors.mid(0, 3), QList<int>({ 0, 1, 2 }));
        session->stop();
        QTRY_COMPARE(session->status(), TunnelStatus::idle());
    }

    // How a start ends when it never comes online, and what the user is told. The lines of the
    // diagnosed failures are cloudflared's own, as its users reported them; the source of each is named.
    void endings_data()
    {
        QTest::addColumn<QByteArray>("body"); // none: no cloudflared
        QTest::addColumn<quint16>("port");
        QTest::addColumn<QString>("failure"); // none: back to idle; ending in "：", the system's reason follows
        QTest::addColumn<QStringList>("logged");
        using Kind = TunnelError::Kind;
        const QString exited = TunnelError::cloudflaredExited(1).description();
        const auto row = [this](const char *name, const QByteArray &body, const QString &failure,
                             const QStringList &logged = {}, quint16 port = 0) {
            QTest::newRow(name) << body << (port ? port : m_rig.http.port()) << failure << logged;
        };
        // Printed on standard error, then an exit with status 1 or a wait for the start-up time-out.
        const auto says
            = [&row, &exited](const char *name, const QByteArray &output, bool exits, const TunnelError &error) {
                  row(name, FakeCloudflared::printToStandardError(output) + (exits ? "exit 1" : "exec sleep 30"),
                      error.description(), exits ? QStringList { exited } : QStringList());
              };
        const auto error = [](Kind kind) { return TunnelError { kind, {} }; };
        const QByteArray url = FakeCloudflared::urlLine();
        // The raw host text names the origin that did not answer; nothing is launched for it.
        const quint16 unused = LocalHttpServer::unusedPort();
        row("nothing answers", "exit 0", TunnelError::originUnavailable(u" 127.0.0.1 :%1"_qs.arg(unused)).description(),
            {}, unused);
        row("no cloudflared", {}, TunnelError::cloudflaredMissing().description());
        row("cannot be executed", "#!/nonexistent/interpreter\n", QStringLiteral("启动隧道失败："));
        row("killed by a signal", FakeCloudflared::printToStandardError(url) + "kill -KILL $$",
            QStringLiteral("cloudflared 异常退出（代码 9）"), { urlEntry });
        // The URL counts only if its halves are joined and the unterminated last line is judged at the end.
        row("URL split across writes, unterminated",
            "printf 'INF Registered tunnel connection\\n'\nprintf '2024-05-01T10:00:03Z INF |  https://split-' >&2\n"
            "sleep 0.3\nprintf 'label.trycloudflare.com   |' >&2\nexit 0",
            {}, { edgeEntry, urlEntry });
        // The failure outlives the child it ends, and so does its text: the child's noise is not logged.
        row("time-out, then exits 0 on SIGTERM",
            FakeCloudflared::printToStandardError(url)
                + "trap 'printf \"T ERR Serve tunnel error error=context canceled\\n\" >&2; exit 0' TERM\nsleep 5 "
                  "&\nwait",
            TunnelError::startupTimedOut().description());

        const QByteArray request = FakeCloudflared::requestLine();
        const QByteArray notJson = "failed to unmarshal quick Tunnel: invalid character 'e' looking for beginning\n";
        const QByteArray unmarshaling = "T ERR Error unmarshaling QuickTunnel response: error code: ";
        // quick_tunnel.go logs the reply with its status, then exits on the error.
        const QByteArray rateLimited = unmarshaling + "1015 status_code=\"429 Too Many Requests\"\n";
        says("rate limited", request + rateLimited + notJson, true, error(Kind::quickTunnelRateLimited));
        // cloudflared issues 555, 1593 and 547.
        says("service unreachable",
            request
                + "failed to request quick Tunnel: Post \"https://api.trycloudflare.com/tunnel\": dial tcp: lookup "
                  "api.trycloudflare.com on 127.0.0.11:53: no such host\n",
            true, error(Kind::quickTunnelServiceUnreachable));
        // An error page instead of JSON (Colab-Cloud-Gaming issue 12), as older versions say it
        // (cloudflared issue 972), and an empty tunnel id (cloudflared issues 487, 1428).
        says("service answers 500", request + unmarshaling + "1101 status_code=\"500 Internal Server Error\"\n", true,
            error(Kind::quickTunnelServiceError));
        says("service answers no JSON", request + notJson, true, error(Kind::quickTunnelServiceError));
        says("service answers no id", request + "failed to parse quick Tunnel ID: invalid UUID length: 0\n", true,
            error(Kind::quickTunnelServiceError));
        says("request unanswered", request, false, error(Kind::quickTunnelRequestUnanswered));
        // cloudflared issues 1503 and 762.
        const QByteArray quicDial = "T ERR Failed to dial a quic connection error=\"failed to dial to edge with quic: "
                                    "timeout: no recent network activity\" connIndex=0\n";
        says("QUIC dial fails", request + url + quicDial + "T INF Retrying connection in up to 2s connIndex=0\n", false,
            error(Kind::edgeQuicBlocked));
        says("trouble before going online is past",
            url + quicDial + FakeCloudflared::registeredLine() + "T ERR no more connections active and exiting\n", true,
            TunnelError::cloudflaredReported(u"no more connections active and exiting"_qs));
        // prechecks/result_test.go of current versions.
        const QByteArray checks = "--- CONNECTIVITY PRE-CHECKS -----------------------------------------------------\n"
                                  "COMPONENT         TARGET                     STATUS  DETAILS\n"
                                  "DNS Resolution    region1.v2.argotunnel.com  PASS    DNS Resolved successfully\n"
                                  "UDP Connectivity  Port 7844 (QUIC)           ";
        says("pre-checks: QUIC blocked", request + url + checks + "FAIL    QUIC connection failed\n", false,
            error(Kind::edgeQuicBlocked));
        says("pre-checks: all pass", request + url + checks + "PASS    QUIC connection successful\n", false,
            TunnelError::startupTimedOut());
        // HTTP/2 over TCP 7844 (cloudflared issue 840) is not QUIC; the line is shown as it is.
        says("TCP 7844 times out",
            url
                + "T ERR Serve tunnel error error=\"DialContext error: dial tcp 1.2.3.4:7844: i/o timeout\" "
                  "connIndex=0\n",
            false,
            TunnelError::startupTimedOut(u"DialContext error: dial tcp 1.2.3.4:7844: i/o timeout connIndex=0"_qs));
        // The bare error chain cloudflared prints last when it gives up (issue 617).
        says("anything else", request + "failed to dial to edge: timeout: no recent network activity\n", true,
            TunnelError::cloudflaredReported(u"failed to dial to edge: timeout: no recent network activity"_qs));
        const QString origin = u"Unable to reach the origin service. The service may be down or it may not be "
                               "responding to traffic from cloudflared: dial tcp 127.0.0.1:3000: connect: connection "
                               "refused connIndex=0 event=1 originService=http://127.0.0.1:3000"_qs;
        says("a long line is shortened", FakeCloudflared::originErrorLine(), true,
            TunnelError::cloudflaredReported(origin.left(159) + u'…'));
        QByteArray later;
        for (int i = 1; i <= FailureDiagnosis::keptLines; ++i)
            later += "T ERR e" + QByteArray::number(i) + '\n';
        says("only the newest lines count", rateLimited + later, true,
            TunnelError::cloudflaredReported(u"e%1"_qs.arg(FailureDiagnosis::keptLines)));
        says("routine notices", FakeCloudflared::routineNotices(), true, TunnelError::cloudflaredExited(1));
    }

    void endings()
    {
        QFETCH(QByteArray, body);
        QFETCH(quint16, port);
        QFETCH(QString, failure);
        QFETCH(QStringList, logged);
        QVERIFY(body.isEmpty()
            || (body.startsWith("#!") ? writeExecutable(m_rig.fake->path(), body) : m_rig.fake->install(body)));
        TunnelProfile profile = localProfile(port, OriginScheme::automatic);
        profile.host = u" 127.0.0.1 "_qs;
        const auto session = makeSession(profile, timings(700ms));
        session->start();
        // A run ended for its time-out stays failed once its child is gone.
        QTRY_VERIFY(!session->hasChild() && !session->status().isActive());
        const TunnelStatus status = session->status();
        const QString message = failure.isEmpty() ? QStringLiteral("隧道进程已结束") : status.message;
        QCOMPARE(status.is(TunnelStatus::Kind::failed), !failure.isEmpty());
        QVERIFY2(failure.endsWith(u'：') ? message.startsWith(failure) && message != failure
                                         : failure.isEmpty() || message == failure,
            qPrintable(message));
        QCOMPARE(levelled(*session).constLast(), (failure.isEmpty() ? u"info: "_qs : u"error: "_qs) + message);
        // The exit status is kept in the log when the reason replaces it.
        for (const QString &entry : logged)
            QVERIFY2(activityMessages(*session).count(entry) == 1, qPrintable(entry));
        QCOMPARE(activityMessages(*session).contains(u"本地服务可访问：http://127.0.0.1:%1"_qs.arg(port)),
            port == m_rig.http.port());
        const bool launched = m_rig.fake->runs() > 0;
        QCOMPARE(launched, port == m_rig.http.port() && !body.isEmpty() && !body.startsWith("#!"));
        if (!launched)
            QCOMPARE(session->localHealth(), HealthState::unhealthy(message));
        else if (!failure.isEmpty())
            QCOMPARE(session->publicHealth(), HealthState::unhealthy(message));
    }

    // Run 1 leaves at once on SIGTERM. Run 2 ignores it (but says more when it gets it) and must outlive
    // the forced-kill deadline of run 1's stop, yet not its own. Run 3 times out and ignores SIGTERM, so
    // it is still exiting when run 4 comes online; run 4 ignores SIGTERM and ends with its session.
    void stopsAndStaleExits()
    {
        QByteArray registered = FakeCloudflared::registeredLine(1);
        registered.chop(1);
        QVERIFY(m_rig.fake->install("case $n in 2) trap \"printf '%s\\n' '" + registered
            + "' 'T ERR going down' >&2\" TERM;; 3|4) trap '' TERM;; esac\n[ \"$n\" = 3 ] && exec sleep 30\n"
            + FakeCloudflared::printToStandardError(FakeCloudflared::urlLine() + FakeCloudflared::registeredLine())
            + "[ \"$n\" = 2 ] && while :; do sleep 0.1; done\nexec sleep 30\n"));
        auto session = makeSession(localProfile(m_rig.http.port()), timings(1000ms, 1000ms));
        const auto startOnline = [&session] {
            session->start();
            QTRY_COMPARE(session->status(), TunnelStatus::online());
        };
        startOnline();
        session->stop();
        QTRY_COMPARE(session->status(), TunnelStatus::idle());
        startOnline();
        // A forced kill would end the child, and its exit would change the session.
        QSignalSpy changes(session.get(), &TunnelSession::changed);
        QVERIFY(!changes.wait(2500));
        QVERIFY(processAlive(m_rig.fake->processId(2)));

        QList<TunnelStatus> seen;
        connect(session.get(), &TunnelSession::changed, this, [&] { seen << session->status(); });
        const qsizetype logged = session->activity().size();
        session->stop();
        QCOMPARE(session->status(), TunnelStatus::stopping());
        session->stop(); // a second stop repeats the request
        QTRY_COMPARE(session->status(), TunnelStatus::idle());
        QVERIFY(!processAlive(m_rig.fake->processId(2)));
        // A registration during the stop is told, but complaints during a stop are noise.
        QCOMPARE(activityMessages(*session).mid(logged),
            QStringList({ QStringLiteral("正在关闭公网隧道…"), QStringLiteral("正在关闭公网隧道…"), edgeEntry,
                QStringLiteral("隧道已停止，原公网链接已经失效") }));
        QVERIFY(!seen.contains(TunnelStatus::online()));

        session->start();
        QTRY_VERIFY(session->status().is(TunnelStatus::Kind::failed));
        startOnline();
        QVERIFY(processAlive(m_rig.fake->processId(3)));
        const QList<ActivityEntry> log = session->activity();
        QTRY_VERIFY(!QFileInfo::exists(m_rig.fake->workingDirectory(3)));
        QVERIFY(!processAlive(m_rig.fake->processId(3)));
        QVERIFY(QFileInfo::exists(m_rig.fake->workingDirectory(4)) && session->hasChild());
        QCOMPARE(session->status(), TunnelStatus::online());
        QCOMPARE(session->activity(), log);

        const QString runtime = m_rig.fake->workingDirectory(4);
        session.reset();
        // Reaping waits for the event loop, so the directory is still there right after.
        QVERIFY(QFileInfo::exists(runtime));
        QTRY_VERIFY(!processAlive(m_rig.fake->processId(4)) && !QFileInfo::exists(runtime));
    }

    // Routine notices and a warning that names its error (cloudflared issue 1105); while online, the
    // connection times out and is retried (issue 1228); then the shutdown noise of issues 1038 and 762
    // after a SIGTERM that someone else sent.
    void lostEdgeThenShutdownBySomeoneElse()
    {
        QFile shutdown(m_rig.fake->recordDirectory() + u"/shutdown"_qs);
        QVERIFY(shutdown.open(QIODevice::WriteOnly)
            && shutdown.write("T INF Initiating graceful shutdown due to signal terminated ...\n"
                              "T ERR writing finish: Application error 0x0 (remote)\n"
                              "T INF Unregistered tunnel connection connIndex=0 event=0 ip=198.41.192.67\n"
                              "T ERR Failed to serve quic connection error=\"context canceled\" connIndex=0\n"
                              "T INF Retrying connection in up to 1s connIndex=0\n"
                              "T ERR no more connections active and exiting\n")
                > 0);
        shutdown.close();
        const QByteArray lost
            = " error=\"failed to accept QUIC stream: timeout: no recent network activity\" connIndex=0\n";
        QVERIFY(m_rig.fake->install("trap 'cat \"$rec/shutdown\" >&2; kill $! 2>/dev/null; exit 0' TERM\n"
            + FakeCloudflared::printToStandardError(FakeCloudflared::requestLine() + FakeCloudflared::routineNotices()
                + "T WRN Failed to serve quic connection error=\"timeout: no recent network activity\" connIndex=0\n"
                + FakeCloudflared::urlLine() + FakeCloudflared::registeredLine())
            + FakeCloudflared::waitFor("drop")
            + FakeCloudflared::printToStandardError("T INF Unregistered tunnel connection connIndex=0\nT ERR Failed to "
                                                    "serve quic connection"
                + lost + "T ERR Serve tunnel error" + lost + "T INF Retrying connection in up to 1s connIndex=0\n"
                + "T ERR Connection terminated" + lost)
            + FakeCloudflared::waitFor("back")
            + FakeCloudflared::printToStandardError(FakeCloudflared::registeredLine()) + "sleep 30 &\nwait\n"));
        Timings timings = quickTimings();
        timings.postOnlineCheck = 200ms;
        const auto session = makeSession(localProfile(m_rig.http.port()), timings);
        QSignalSpy checks(session.get(), &TunnelSession::healthChecked);
        session->start();
        QTRY_COMPARE(session->publicHealth(), HealthState::healthy());
        QVERIFY(m_rig.fake->release("drop"));
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
        QVERIFY(m_rig.fake->release("back"));
        QVERIFY(checks.wait());
        QCOMPARE(session->publicHealth(), HealthState::healthy());

        QList<HealthState> publicHealths;
        connect(session.get(), &TunnelSession::changed, this, [&] { publicHealths << session->publicHealth(); });
        QCOMPARE(::kill(pid_t(m_rig.fake->processId()), SIGTERM), 0);
        QTRY_VERIFY(!session->hasChild());
        const QString failed
            = u"error: failed to accept QUIC stream: timeout: no recent network activity connIndex=0"_qs;
        QCOMPARE(levelled(*session),
            QStringList({ QStringLiteral("info: 正在检查本地服务…"),
                u"success: 本地服务可访问：http://127.0.0.1:%1"_qs.arg(m_rig.http.port()),
                QStringLiteral("info: 正在启动 Cloudflare Quick Tunnel"),
                QStringLiteral("info: 正在申请免费的 trycloudflare.com 域名"),
                u"warning: timeout: no recent network activity connIndex=0"_qs, u"success: "_qs + urlEntry,
                u"success: "_qs + edgeEntry, u"warning: "_qs + lostText, failed, failed, failed,
                u"success: "_qs + edgeEntry, QStringLiteral("info: cloudflared 收到退出信号，正在关闭隧道"),
                QStringLiteral("info: 隧道进程已结束") }));
        QCOMPARE(session->status(), TunnelStatus::idle());
        QVERIFY(std::none_of(publicHealths.cbegin(), publicHealths.cend(),
            [](const HealthState &health) { return health.is(HealthState::Kind::unhealthy); }));
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
