#include "ProgramRig.h"
#include "app/SingleInstance.h"

#include <QtNetwork>
#include <QtTest>

#include <csignal>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

using Role = SingleInstance::Role;

namespace {
struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

/// Runs the real program to its end while the event loop turns (the local service of this process must answer).
Outcome run(const QStringList &arguments, const QProcessEnvironment &env)
{
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(ORVANTA_PROGRAM), arguments);
    if (!QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 120000)
        || program.exitStatus() != QProcess::NormalExit)
        return {};
    return { program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()),
        QString::fromUtf8(program.readAllStandardError()) };
}

/// The next line \a process prints; empty if it ends first.
QByteArray nextLine(QProcess &process)
{
    const auto seen = [&] { return process.canReadLine() || process.state() == QProcess::NotRunning; };
    return QTest::qWaitFor(seen, 30000) ? process.readLine() : QByteArray();
}
} // namespace

/// The real `orvanta` executable as a desktop session and a script use it, and the lock and socket that keep
/// it to one running instance.
class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    // One instance, started hidden, serves the command rows; its services are web, web-alpha and db (no port).
    void initTestCase()
    {
        QVERIFY(m_shared.isValid() && m_origin.listenHttp());
        QVERIFY(m_fake.install(ProgramRig::script()) && m_stubborn.install(ProgramRig::script("trap '' TERM\n")));
        m_nowhere = u"http://127.0.0.1:%1"_qs.arg(LocalHttpServer::unusedPort());
        QList<TunnelProfile> profiles { localProfile(m_origin.port()), localProfile(m_origin.port()), localProfile(0) };
        for (int i = 0; i < 3; ++i)
            profiles[i].name = u"web web-alpha db"_qs.split(u' ').at(i);
        QVERIFY(QDir().mkpath(m_shared.filePath(u"config/orvanta"_qs)));
        Preferences preferences(QSettings(m_shared.filePath(u"config/orvanta/orvanta.conf"_qs), QSettings::IniFormat));
        preferences.setStoredProfiles(encodeProfiles(profiles));
        preferences.adoptFormerEdition({});
        preferences.setLegalAcknowledgementVersion(2);
        QVERIFY(preferences.save(nullptr));
        m_instance.setProcessEnvironment(environment(m_shared.path(), true));
        m_instance.setProcessChannelMode(QProcess::ForwardedChannels);
        m_instance.start(QStringLiteral(ORVANTA_PROGRAM), { u"--hidden"_qs });
        QVERIFY(
            QTest::qWaitFor([&] { return run({ u"list"_qs }, environment(m_shared.path())).exitCode != 3; }, 60000));
    }

    void cleanupTestCase()
    {
        ::kill(pid_t(m_instance.processId()), SIGTERM);
        QVERIFY(m_instance.waitForFinished(30000));
    }

    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    // Rows run in order against the one instance, each from the state the ones before left. "none" and "stale"
    // run in a fresh home without an instance, its runtime directory empty or with a socket file left by a crash.
    // JSON and success go to standard output, anything else to standard error; the other stream stays empty.
    void commands_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("runtime");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed"); // a pattern; PORT is the local service's port, URL the public address
        const auto add = [](const char *name, const QString &arguments, int exitCode, const QString &printed,
                             const QString &runtime = {}) {
            QTest::newRow(name) << arguments.split(u' ', Qt::SkipEmptyParts) << runtime << exitCode << printed;
        };
        const QString origin = u"http://127\\.0\\.0\\.1:PORT"_qs;
        const QString failure = u"端口必须在 1 到 65535 之间"_qs;
        add("every service, none started", u"list"_qs, 0,
            u"^web\t未启动\t%1\t-\t-\nweb-alpha\t未启动\t%1\t-\t-\ndb\t未启动\t-\t-\t-\n$"_qs.arg(origin));
        add("a prefix of several names lists them", u"start we"_qs, 1,
            u"^orvanta：“we”可以指多个服务.*\n可选的服务：\n  web\n  web-alpha\n$"_qs);
        add("an unknown name lists every service", u"stop nosuch"_qs, 1,
            u"^orvanta：没有名为“nosuch”的服务\n可选的服务：\n  web\n  web-alpha\n  db\n$"_qs);
        add("json of an unknown name", u"start nosuch --json"_qs, 1,
            u"^\\{\"candidates\":\\[\"web\",\"web-alpha\",\"db\"\\],\"error\":\"notFound\",\"message\":\"[^\"]+\",\"ok\":false\\}\\n$"_qs);
        add("an exact name wins over a longer one", u"start web"_qs, 0, u"^web\t检查中\t%1\t-\t-\n$"_qs.arg(origin));
        add("the address once online", u"url web --wait 60"_qs, 0, u"^URL\n$"_qs);
        add("no waiting for a service nobody started", u"url web-al --wait=60"_qs, 1,
            u"^orvanta：服务“web-alpha”没有上线（未启动）\n$"_qs);
        add("all, with no confirmation", u"start --all"_qs, 0, u"^web\t[^\n]+\nweb-alpha\t[^\n]+\ndb\t[^\n]+\n$"_qs);
        add("a failed start gives its reason", u"url db --wait 60"_qs, 1,
            u"^orvanta：服务“db”启动失败：%1\n$"_qs.arg(failure));
        add("json of the address by a unique prefix", u"url web- --wait 60 --json"_qs, 0,
            u"^\\{\"ok\":true,\"services\":\\[\\{[^}]*\"status\":\"online\"[^}]*\\}\\],\"url\":\"URL\"\\}\\n$"_qs);
        add("addresses and the failure in the list", u"list"_qs, 0,
            u"^web\t[^\t]+\t%1\tURL\t-\nweb-alpha\t[^\t]+\t%1\tURL\t-\ndb\t启动失败\t-\t-\t%2\n$"_qs.arg(
                origin, failure));
        add("json of the list", u"list --json"_qs, 0,
            u"^\\{\"ok\":true,\"services\":\\[\\{\"failure\":null,\"id\":\"[0-9A-F-]{36}\",\"local\":\"%1\",\"name\":"
            u"\"web\",\"public\":\"URL\","
            u"\"status\":\"online\",\"statusText\":\"[^\"]+\"\\},.*\\{\"failure\":\"%2\",\"id\":\"[0-9A-F-]{36}\","
            u"\"local\":null,\"name\":\"db\","
            u"\"public\":null,\"status\":\"failed\",[^}]+\\}\\]\\}\\n$"_qs.arg(origin, failure));
        add("stop one", u"stop web"_qs, 0, u"^web\t(停止中|未启动)\t"_qs);
        add("a stopped service has no address", u"url web"_qs, 1, u"^orvanta：服务“web”没有上线"_qs);
        add("stop all", u"stop --all"_qs, 0, u"^web\t.*\nweb-alpha\t(停止中|未启动)\t"_qs);

        const QString notRunning = u"^orvanta：奥文塔没有在运行\n$"_qs;
        add("not running", u"list"_qs, 3, notRunning, u"none"_qs);
        add("not running, no wait", u"url web --wait 600"_qs, 3, notRunning, u"stale"_qs);
        add("not running, json", u"start --all --json"_qs, 3,
            u"^\\{\"error\":\"notRunning\",\"message\":\"奥文塔没有在运行\",\"ok\":false\\}\\n$"_qs, u"stale"_qs);
        add("the window, without a display: one clear line", {}, 1, u"^[^\n]*xvfb-run[^\n]*\n$"_qs, u"none"_qs);

        add("help of a command", u"stop --help"_qs, 0, u"^用法 Usage:\n"_qs);
        add("version", u"--version"_qs, 0, u"^orvanta " ORVANTA_VERSION "\ncloudflared 2024\\.5\\.0\n$"_qs);
        // Misuse: a name missing, doubled or not taken, a bad wait, an unknown word.
        for (const char *misuse : { "url", "start", "stop web --all", "start web db", "list web", "url --all",
                 "url web --wait", "url web --wait soon", "url web --wait=-1", "lsit", "--hiden" })
            add(misuse, QString::fromLatin1(misuse), 2, u"^orvanta：.+\n运行 orvanta --help 查看用法。\n$"_qs);
    }

    void commands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, runtime);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        const QString home = runtime.isEmpty() ? m_shared.path() : m_dir->path();
        if (runtime == u"stale")
            QVERIFY(QFile(m_dir->filePath(u"orvanta.socket"_qs)).open(QIODevice::WriteOnly));
        const Outcome outcome = run(arguments, environment(home));
        QVERIFY2(outcome.exitCode == exitCode, qPrintable(outcome.out + outcome.err));
        const bool toOut = exitCode == 0 || arguments.contains(u"--json"_qs);
        QVERIFY2((toOut ? outcome.err : outcome.out).isEmpty(), qPrintable(outcome.out + outcome.err));
        printed.replace(u"PORT"_qs, QString::number(m_origin.port()))
            .replace(u"URL"_qs, QRegularExpression::escape(u"https://four-random-words-here.trycloudflare.com"_qs));
        QVERIFY2(QRegularExpression(printed).match(toOut ? outcome.out : outcome.err).hasMatch(),
            qPrintable(outcome.out + outcome.err));
        // Without an instance nothing is read, migrated or logged.
        QVERIFY(
            runtime.isEmpty() || !(QFileInfo::exists(home + u"/config"_qs) || QFileInfo::exists(home + u"/state"_qs)));
    }

    void endings_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("killed") << SIGKILL;
        QTest::newRow("terminated") << SIGTERM;
        QTest::newRow("hung up, started again while it quits") << SIGHUP;
    }

    // The host's tunnels ignore the polite request, so an orderly quit takes the whole grace time.
    void endings()
    {
        QFETCH(int, signal);
        // What killed saves leave: Qt's temporary file, our side files and an empty lock naming no owner.
        const QString settings = path(u"config/orvanta/orvanta.conf"_qs);
        const QStringList leftovers { settings + u".Ab12Cd"_qs, settings + u".saving-0123456789ab"_qs,
            settings + u".checking-0123456789ab"_qs, settings + u".lock"_qs };
        QVERIFY(QDir().mkpath(path(u"config/orvanta"_qs)));
        for (const QString &file : leftovers)
            QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        const QString name = u"退出前的改动"_qs;
        const auto savedName = [&] {
            const auto list = decodeProfiles(settingsOnDisk(settings).value(Preferences::profilesKey).toByteArray());
            return list && !list->isEmpty() ? list->first().name : QString();
        };
        const auto logged = [&] {
            QFile log(path(u"state/orvanta/orvanta.log"_qs));
            return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        };
        const auto launch = [&](QProcess &host) {
            host.setProcessEnvironment(environment(m_dir->path(), true));
            host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            host.start(QStringLiteral(PROGRAM_HOST), { m_stubborn.path(), QString::number(m_origin.port()), name });
        };
        QProcess host, next;
        launch(host);
        QCOMPARE(nextLine(host), QByteArray("hidden\n"));
        QList<qint64> tunnels;
        const auto bothUp = [&] { return (tunnels = ProgramRig::waitingChildren(host.processId())).size() == 2; };
        QVERIFY(QTest::qWaitFor(bothUp, 60000));
        QStringList runtimeDirs;
        for (const qint64 pid : tunnels)
            runtimeDirs << QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget();
        for (const QString &file : leftovers)
            QVERIFY2(!QFileInfo::exists(file), qPrintable(file));
        QCOMPARE(savedName(), QString());

        ::kill(pid_t(host.processId()), signal);
        if (signal == SIGHUP) { // it waits for the lock, let go at the very end
            QVERIFY(QTest::qWaitFor([&] { return logged().contains("quitting:"); }, 10000));
            launch(next);
        }
        QTRY_COMPARE_WITH_TIMEOUT(host.state(), QProcess::NotRunning, 30000);
        for (const qint64 pid : tunnels)
            QTRY_VERIFY_WITH_TIMEOUT(!ProgramRig::isRunning(pid), 10000);
        // A killed program leaves its tunnels' working directories to the next start; an orderly end removes them
        // itself and saves what was pending.
        for (const QString &dir : runtimeDirs)
            QVERIFY2(
                dir.contains(u"orvanta-runtime-"_qs) && QFileInfo(dir).isDir() == (signal == SIGKILL), qPrintable(dir));
        if (signal != SIGKILL)
            QVERIFY(host.exitStatus() == QProcess::NormalExit && host.exitCode() == 0 && savedName() == name);
        if (signal != SIGHUP)
            launch(next);
        QCOMPARE(nextLine(next), QByteArray("hidden\n"));
        for (const QString &dir : runtimeDirs)
            QVERIFY2(!QFileInfo::exists(dir), qPrintable(dir));
        QVERIFY(signal != SIGHUP || logged().contains("the running instance is quitting"));
        QVERIFY2(!logged().contains("Role::handedOver"), logged().constData());
        // Its terms were never accepted: a script may not start anything.
        const Outcome refused = run({ u"start"_qs, u"--all"_qs, u"--json"_qs }, environment(m_dir->path()));
        QVERIFY2(refused.exitCode == 1 && refused.out.contains(u"\"error\":\"notAcknowledged\""_qs),
            qPrintable(refused.out));

        // A plain start now hands over to it, at once and before reading or migrating any settings, and it shows
        // its window. Each start told the log its part.
        QProcessEnvironment env = environment(m_dir->path(), true);
        env.insert(u"XDG_CONFIG_HOME"_qs, path(u"second-config"_qs));
        QCOMPARE(run({}, env).exitCode, 0);
        QVERIFY(!QFileInfo::exists(path(u"second-config"_qs)));
        QCOMPARE(nextLine(next), QByteArray("shown\n"));
        for (const char *expected : { "role: SingleInstance::Role::primary", "role: SingleInstance::Role::handedOver",
                 "another start asked for the window" })
            QVERIFY2(logged().contains(expected), logged().constData());
        next.terminate();
        QVERIFY(next.waitForFinished(30000));
    }

    void lockWithoutOwner_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("held"); // a live process keeps the file locked: a later start is refused
        QTest::newRow("empty, left by a power loss") << QByteArray() << 3600 << false;
        QTest::newRow("empty, just left by a crash") << QByteArray() << 0 << false;
        QTest::newRow("unreadable") << QByteArray("\xff\xfe\n\n") << 3600 << false;
        QTest::newRow("empty, its owner still writing it") << QByteArray() << 3600 << true;
    }

    void lockWithoutOwner()
    {
        QFETCH(QByteArray, contents);
        QFETCH(int, ageSeconds);
        QFETCH(bool, held);
        QFile lock(path(u"orvanta.lock"_qs));
        QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(contents) == contents.size() && lock.flush());
        QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFile::FileModificationTime));
        QVERIFY(held ? ::flock(lock.handle(), LOCK_EX | LOCK_NB) == 0 : (lock.close(), true));
        SingleInstance instance(m_dir->path());
        QCOMPARE(instance.claim(), held ? Role::unanswered : Role::primary);
        if (held)
            return;
        QSignalSpy activations(&instance, &SingleInstance::activationRequested);
        QCOMPARE(SingleInstance(m_dir->path()).claim(), Role::handedOver);
        QVERIFY(activations.wait(5000));
    }

    void peerCredentials()
    {
        int pair[2];
        int pipe[2];
        QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0 && ::pipe(pipe) == 0);
        QVERIFY(SingleInstance::isPeerUser(pair[0], ::getuid()));
        QVERIFY(!SingleInstance::isPeerUser(pair[0], ::getuid() + 1));
        QVERIFY(!SingleInstance::isPeerUser(pipe[0], ::getuid()));
        for (const int fd : { pair[0], pair[1], pipe[0], pipe[1] })
            ::close(fd);
    }

    void requests_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("activations");
        const auto row = [](const char *name, const QByteArray &sent, const QByteArray &answer, int activations) {
            QTest::newRow(name) << sent << answer << activations;
        };
        row("a question", "{\"q\":1}\n", "seen {\"q\":1}\n", 0);
        row("activation", "activate\n", {}, 1);
        row("a question while quitting", "{\"q\":1}\n", {}, 0);
        row("activation while quitting", "activate\n", "quitting\n", 0);
        row("neither", "hello\nactivate\n", {}, 0);
        row("too long", "{" + QByteArray(SingleInstance::maxRequestBytes, ' ') + "}\n", {}, 0);
        row("silence", {}, {}, 0);
        row("no line end", "{\"q\":1}", {}, 0);
    }

    void requests()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, answer);
        QFETCH(int, activations);
        SingleInstance instance(m_dir->path());
        QCOMPARE(instance.claim(), Role::primary);
        if (QByteArray(QTest::currentDataTag()).endsWith("while quitting"))
            instance.stopAcceptingHandovers();
        instance.setRequestTimeout(std::chrono::milliseconds(300));
        instance.setRequestHandler([](const QByteArray &request) { return "seen " + request; });
        QSignalSpy activated(&instance, &SingleInstance::activationRequested);
        QLocalSocket client;
        client.connectToServer(instance.socketPath());
        QVERIFY(client.waitForConnected(2000));
        client.write(sent);
        // Every connection ends, whatever it sent, within the bound.
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, 5000);
        QCOMPARE(client.readAll(), answer);
        QCOMPARE(activated.size(), activations);
    }

    void unusablePlaces()
    {
        // A directory in the socket's place can be neither removed nor bound over.
        QVERIFY(QDir(m_dir->path()).mkdir(u"orvanta.socket"_qs));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Cannot listen on .*orvanta.socket .*once more$"_qs));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Cannot listen on .*a later start cannot"_qs));
        SingleInstance instance(m_dir->path());
        QCOMPARE(instance.claim(), Role::primary);
        // It still holds the lock: a later start is refused rather than run beside it.
        QCOMPARE(SingleInstance(m_dir->path()).claim(), Role::unanswered);
        // No lock can be made below a file: the program runs, and says so.
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(u"^Cannot use the single-instance lock .*running without"_qs));
        QCOMPARE(SingleInstance(path(u"orvanta.lock/below"_qs)).claim(), Role::primary);
    }

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    /// A home under \a root for one run: runtime directory, settings, log, the fake `cloudflared` first on
    /// the path, proxies that keep public probes on this machine; a display only when asked.
    QProcessEnvironment environment(const QString &root, bool display = false) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &name : { u"DISPLAY"_qs, u"WAYLAND_DISPLAY"_qs, u"QT_QPA_PLATFORM"_qs })
            env.remove(name);
        if (display)
            env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
        env.insert(u"XDG_RUNTIME_DIR"_qs, root);
        env.insert(u"XDG_CONFIG_HOME"_qs, root + u"/config"_qs);
        env.insert(u"XDG_STATE_HOME"_qs, root + u"/state"_qs);
        env.insert(u"PATH"_qs, m_shared.filePath(u"bin"_qs) + u':' + env.value(u"PATH"_qs));
        for (const QString &name : { u"http_proxy"_qs, u"https_proxy"_qs, u"all_proxy"_qs })
            env.insert(name, m_nowhere);
        env.insert(u"ASAN_OPTIONS"_qs, u"detect_leaks=0"_qs);
        return env;
    }

    QTemporaryDir m_shared;
    std::unique_ptr<QTemporaryDir> m_dir;
    LocalHttpServer m_origin;
    FakeCloudflared m_fake { m_shared.filePath(u"bin"_qs) };
    FakeCloudflared m_stubborn { m_shared.filePath(u"stubborn"_qs) };
    QString m_nowhere;
    QProcess m_instance;
};

QTEST_GUILESS_MAIN(TestProgram)
#include "TestProgram.moc"
