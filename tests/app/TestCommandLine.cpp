#include "ProgramRig.h"
#include "app/ControlService.h"

#include <QtTest>

#include <csignal>

namespace {
struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

const QString publicAddress = u"https://four-random-words-here.trycloudflare.com"_qs;
} // namespace

/// The real `orvanta` executable, as a script uses it, against a real instance started hidden.
class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && m_origin.listenHttp());
        QVERIFY(m_fake.install(ProgramRig::script()));
        m_env = QProcessEnvironment::systemEnvironment();
        // No display: the commands need none.
        for (const QString &name : { u"DISPLAY"_qs, u"WAYLAND_DISPLAY"_qs, u"QT_QPA_PLATFORM"_qs })
            m_env.remove(name);
        m_env.insert(u"XDG_RUNTIME_DIR"_qs, path(u"run"_qs));
        m_env.insert(u"XDG_CONFIG_HOME"_qs, path(u"config"_qs));
        m_env.insert(u"XDG_STATE_HOME"_qs, path(u"state"_qs));
        m_env.insert(u"PATH"_qs, path(u"bin"_qs) + u':' + m_env.value(u"PATH"_qs));
        // Public probes of the fake address go to a closed local port instead of the internet.
        const QString nowhere = u"http://127.0.0.1:%1"_qs.arg(LocalHttpServer::unusedPort());
        for (const QString &name : { u"http_proxy"_qs, u"https_proxy"_qs, u"all_proxy"_qs })
            m_env.insert(name, nowhere);
        m_env.insert(u"ASAN_OPTIONS"_qs, u"detect_leaks=0"_qs);

        QList<TunnelProfile> profiles;
        for (const QString &name : { u"web"_qs, u"web-alpha"_qs, u"db"_qs }) {
            profiles << localProfile(name == u"db"_qs ? 0 : m_origin.port());
            profiles.last().name = name;
        }
        QVERIFY(QDir().mkpath(path(u"config/orvanta"_qs)));
        Preferences preferences(QSettings(path(u"config/orvanta/orvanta.conf"_qs), QSettings::IniFormat));
        preferences.setStoredProfiles(encodeProfiles(profiles));
        preferences.adoptFormerEdition({});
        preferences.setLegalAcknowledgementVersion(2);
        QString error;
        QVERIFY2(preferences.save(&error), qPrintable(error));

        QProcessEnvironment instanceEnv = m_env;
        instanceEnv.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
        m_instance.setProcessEnvironment(instanceEnv);
        m_instance.setProcessChannelMode(QProcess::ForwardedChannels);
        m_instance.start(QStringLiteral(ORVANTA_PROGRAM), { u"--hidden"_qs });
        QVERIFY(QTest::qWaitFor([&] { return run({ u"list"_qs }, m_env).exitCode != 3; }, 60000));
    }

    void cleanupTestCase()
    {
        if (m_instance.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_instance.processId()), SIGTERM);
        QVERIFY(m_instance.waitForFinished(30000));
    }

    // Rows run in order against the one instance, each from the state the ones before left. "none" and "stale"
    // run against a runtime directory without an instance, empty or with a socket file left by a crash.
    void commands_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("runtime");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out"); // patterns; PORT is the local service's port, URL the public address
        QTest::addColumn<QString>("err");
        const auto add = [](const char *name, const QString &arguments, int exitCode, const QString &out,
                             const QString &err = u"^$"_qs, const QString &runtime = {}) {
            QTest::newRow(name) << arguments.split(u' ') << runtime << exitCode << out << err;
        };
        const QString origin = u"http://127\\.0\\.0\\.1:PORT"_qs;
        const QString usage = u"^orvanta：.+\n运行 orvanta --help 查看用法。\n$"_qs;
        add("every service, none started", u"list"_qs, 0,
            u"^web\t未启动\t%1\t-\t-\nweb-alpha\t未启动\t%1\t-\t-\ndb\t未启动\t-\t-\t-\n$"_qs.arg(origin));
        add("a prefix of several names lists them", u"start we"_qs, 1, u"^$"_qs,
            u"^orvanta：“we”可以指多个服务.*\n可选的服务：\n  web\n  web-alpha\n$"_qs);
        add("an unknown name lists every service", u"stop nosuch"_qs, 1, u"^$"_qs,
            u"^orvanta：没有名为“nosuch”的服务\n可选的服务：\n  web\n  web-alpha\n  db\n$"_qs);
        add("json of an unknown name", u"start nosuch --json"_qs, 1,
            u"^\\{\"candidates\":\\[\"web\",\"web-alpha\",\"db\"\\],\"error\":\"notFound\",\"message\":\"[^\"]+\",\"ok\":false\\}\n$"_qs);
        add("an exact name wins over a longer one", u"start web"_qs, 0, u"^web\t检查中\t%1\t-\t-\n$"_qs.arg(origin));
        add("the address once online", u"url web --wait 60"_qs, 0, u"^URL\n$"_qs);
        add("no waiting for a service nobody started", u"url web-al --wait=60"_qs, 1, u"^$"_qs,
            u"^orvanta：服务“web-alpha”没有上线（未启动）\n$"_qs);
        add("all, with no confirmation", u"start --all"_qs, 0, u"^web\t[^\n]+\nweb-alpha\t[^\n]+\ndb\t[^\n]+\n$"_qs);
        add("a failed start gives its reason", u"url db --wait 60"_qs, 1, u"^$"_qs,
            u"^orvanta：服务“db”启动失败：端口必须在 1 到 65535 之间\n$"_qs);
        add("json of the address by a unique prefix", u"url web- --wait 60 --json"_qs, 0,
            u"^\\{\"ok\":true,\"services\":\\[\\{[^}]*\"status\":\"online\"[^}]*\\}\\],\"url\":\"URL\"\\}\n$"_qs);
        add("addresses and the failure in the list", u"list"_qs, 0,
            u"^web\t[^\t]+\t%1\tURL\t-\nweb-alpha\t[^\t]+\t%1\tURL\t-\ndb\t启动失败\t-\t-\t端口必须在 1 到 65535 之间\n$"_qs
                .arg(origin));
        add("json of the list", u"list --json"_qs, 0,
            u"^\\{\"ok\":true,\"services\":\\[\\{\"failure\":null,\"id\":\"[0-9A-F-]{36}\",\"local\":\"%1\",\"name\":"
            u"\"web\","
            "\"public\":\"URL\",\"status\":\"online\",\"statusText\":\"[^\"]+\"\\},.*\\{\"failure\":\"端口必须在 1 到 "
            "65535 "
            "之间\",\"id\":\"[0-9A-F-]{36}\",\"local\":null,\"name\":\"db\",\"public\":null,\"status\":\"failed\",[^}]+\\}\\]\\}\n$"_qs
                .arg(origin));
        add("stop one", u"stop web"_qs, 0, u"^web\t(停止中|未启动)\t"_qs);
        add("a stopped service has no address", u"url web"_qs, 1, u"^$"_qs, u"^orvanta：服务“web”没有上线"_qs);
        add("stop all", u"stop --all"_qs, 0, u"^web\t.*\nweb-alpha\t(停止中|未启动)\t"_qs);

        add("not running", u"list"_qs, 3, u"^$"_qs, u"^orvanta：奥文塔没有在运行\n$"_qs, u"none"_qs);
        add("not running, no wait", u"url web --wait 600"_qs, 3, u"^$"_qs, u"^orvanta：奥文塔没有在运行\n$"_qs,
            u"stale"_qs);
        add("not running, json", u"start --all --json"_qs, 3,
            u"^\\{\"error\":\"notRunning\",\"message\":\"奥文塔没有在运行\",\"ok\":false\\}\n$"_qs, u"^$"_qs,
            u"stale"_qs);

        add("help", u"--help"_qs, 0,
            u"(?s)^(?=.*orvanta list)(?=.*orvanta url)(?=.*orvanta start)(?=.*orvanta stop)(?=.*--hidden)(?=.*--json)"
            "(?=.*--wait)(?=.*不会再弹出公开确认)(?=.*  3  奥文塔没有在运行)"_qs);
        add("help of a command", u"stop --help"_qs, 0, u"^用法 Usage:\n"_qs);
        add("version", u"--version"_qs, 0, u"^orvanta " ORVANTA_VERSION "\ncloudflared 2024\\.5\\.0\n$"_qs);
        // Misuse: a name missing, doubled or not taken, a bad wait, an unknown word.
        for (const char *misuse : { "url", "start", "stop web --all", "start web db", "list web", "url --all",
                 "url web --wait", "url web --wait soon", "url web --wait=-1", "lsit", "--hiden" })
            add(misuse, QString::fromLatin1(misuse), 2, u"^$"_qs, usage);
    }

    void commands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, runtime);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QTemporaryDir elsewhere;
        QProcessEnvironment env = m_env;
        if (!runtime.isEmpty())
            env.insert(u"XDG_RUNTIME_DIR"_qs, elsewhere.path());
        if (runtime == u"stale")
            QVERIFY(QFile(elsewhere.filePath(u"orvanta.socket"_qs)).open(QIODevice::WriteOnly));
        const Outcome outcome = run(arguments, env);
        QVERIFY2(outcome.exitCode == exitCode, qPrintable(outcome.out + outcome.err));
        out.replace(u"PORT"_qs, QString::number(m_origin.port()))
            .replace(u"URL"_qs, QRegularExpression::escape(publicAddress));
        QVERIFY2(QRegularExpression(out).match(outcome.out).hasMatch(), qPrintable(outcome.out));
        QVERIFY2(QRegularExpression(err).match(outcome.err).hasMatch(), qPrintable(outcome.err));
    }

    void startNeedsTheTermsAccepted()
    {
        Preferences preferences(QSettings(path(u"unaccepted.conf"_qs), QSettings::IniFormat));
        TunnelStore store(&preferences, SessionDependencies { quickTimings(), m_fake.locator(), {} });
        const ControlService control(&store, [] { return false; });
        const QJsonObject answer
            = QJsonDocument::fromJson(control.answer(R"({"command":"start","all":true})")).object();
        QCOMPARE(answer.value(u"error"_qs), QJsonValue(u"notAcknowledged"_qs));
        QCOMPARE(store.runningCount(), 0);
        QCOMPARE(QJsonDocument::fromJson(control.answer(R"({"command":"list"})")).object().value(u"ok"_qs),
            QJsonValue(true));
    }

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    static Outcome run(const QStringList &arguments, const QProcessEnvironment &env)
    {
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(ORVANTA_PROGRAM), arguments);
        // The event loop turns meanwhile: the local service this process serves must answer.
        if (!QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 120000)
            || program.exitStatus() != QProcess::NormalExit)
            return {};
        return { program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()),
            QString::fromUtf8(program.readAllStandardError()) };
    }

    QTemporaryDir m_dir;
    LocalHttpServer m_origin;
    FakeCloudflared m_fake { m_dir.filePath(u"bin"_qs) };
    QProcessEnvironment m_env;
    QProcess m_instance;
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "TestCommandLine.moc"
