#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "store/Preferences.h"

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
        QVERIFY(m_fake.install("if [ \"$1\" = --version ]; then echo 'cloudflared version 2024.5.0'; exit 0; fi\n"
            + FakeCloudflared::onlineBody(120)));
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
        for (const auto &[name, port] : { std::pair { u"web"_qs, QString::number(m_origin.port()) },
                 std::pair { u"web-alpha"_qs, QString::number(m_origin.port()) }, std::pair { u"db"_qs, u"0"_qs } }) {
            TunnelProfile profile = localProfile(m_origin.port());
            profile.id = QUuid::createUuid();
            profile.name = name;
            profile.portText = port;
            profiles << profile;
        }
        QSettings settings(path(u"config/orvanta/orvanta.conf"_qs), QSettings::IniFormat);
        Preferences preferences(&settings);
        preferences.setStoredProfiles(encodeProfiles(profiles));
        preferences.adoptFormerEdition({});
        preferences.setLegalAcknowledgementVersion(2);
        settings.sync();

        QProcessEnvironment instanceEnv = m_env;
        instanceEnv.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
        m_instance.setProcessEnvironment(instanceEnv);
        m_instance.setProcessChannelMode(QProcess::ForwardedChannels);
        m_instance.start(QStringLiteral(ORVANTA_PROGRAM), { u"--hidden"_qs });
        QVERIFY(QTest::qWaitFor([&] { return run({ u"list"_qs }).exitCode != 3; }, 60000));
    }

    void cleanupTestCase()
    {
        if (m_instance.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_instance.processId()), SIGTERM);
        QVERIFY(m_instance.waitForFinished(30000));
    }

    // Rows run in order against the one instance, each from the state the ones before left.
    void commands_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out"); // patterns; PORT is the local service's port
        QTest::addColumn<QString>("err");
        const QString origin = u"http://127\\.0\\.0\\.1:PORT"_qs;
        const QString none = u"^$"_qs;
        QTest::newRow("every service, none started")
            << QStringList { u"list"_qs } << 0
            << u"^web\t未启动\t%1\t-\t-\nweb-alpha\t未启动\t%1\t-\t-\ndb\t未启动\t-\t-\t-\n$"_qs.arg(origin) << none;
        QTest::newRow("a prefix of several names lists them") << QStringList { u"start"_qs,
            u"we"_qs } << 1 << none << u"^orvanta：“we”可以指多个服务.*\n可选的服务：\n  web\n  web-alpha\n$"_qs;
        QTest::newRow("an unknown name lists every service")
            << QStringList { u"stop"_qs, u"nosuch"_qs } << 1 << none
            << u"^orvanta：没有名为“nosuch”的服务\n可选的服务：\n  web\n  web-alpha\n  db\n$"_qs;
        QTest::newRow("an exact name wins over a longer one")
            << QStringList { u"start"_qs, u"web"_qs } << 0 << u"^web\t检查中\t%1\t-\t-\n$"_qs.arg(origin) << none;
        QTest::newRow("the address once online") << QStringList { u"url"_qs, u"web"_qs, u"--wait"_qs, u"60"_qs } << 0
                                                 << u"^%1\n$"_qs.arg(publicAddress) << none;
        QTest::newRow("no waiting for a service nobody started") << QStringList { u"url"_qs, u"web-al"_qs,
            u"--wait=60"_qs } << 1 << none << u"^orvanta：服务“web-alpha”没有上线（未启动）\n$"_qs;
        QTest::newRow("all, with no confirmation") << QStringList { u"start"_qs, u"--all"_qs } << 0
                                                   << u"^web\t[^\n]+\nweb-alpha\t[^\n]+\ndb\t[^\n]+\n$"_qs << none;
        QTest::newRow("a failed start gives its reason") << QStringList { u"url"_qs, u"db"_qs, u"--wait"_qs,
            u"60"_qs } << 1 << none << u"^orvanta：服务“db”启动失败：端口必须在 1 到 65535 之间\n$"_qs;
        QTest::newRow("a unique prefix") << QStringList { u"url"_qs, u"web-"_qs, u"--wait"_qs, u"60"_qs } << 0
                                         << u"^%1\n$"_qs.arg(publicAddress) << none;
        QTest::newRow("addresses and the failure in the list")
            << QStringList { u"list"_qs } << 0
            << u"^web\t[^\t]+\t%1\t%2\t-\nweb-alpha\t[^\t]+\t%1\t%2\t-\ndb\t启动失败\t-\t-\t端口必须在 1 到 65535 之间\n$"_qs
                   .arg(origin, QRegularExpression::escape(publicAddress))
            << none;
        QTest::newRow("stop one") << QStringList { u"stop"_qs, u"web"_qs } << 0 << u"^web\t(停止中|未启动)\t"_qs
                                  << none;
        QTest::newRow("a stopped service has no address")
            << QStringList { u"url"_qs, u"web"_qs } << 1 << none << u"^orvanta：服务“web”没有上线"_qs;
        QTest::newRow("stop all") << QStringList { u"stop"_qs, u"--all"_qs } << 0
                                  << u"^web\t.*\nweb-alpha\t(停止中|未启动)\t"_qs << none;
    }

    void commands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const Outcome outcome = run(arguments);
        const QString port = QString::number(m_origin.port());
        QVERIFY2(outcome.exitCode == exitCode, qPrintable(outcome.out + outcome.err));
        QVERIFY2(
            QRegularExpression(out.replace(u"PORT"_qs, port)).match(outcome.out).hasMatch(), qPrintable(outcome.out));
        QVERIFY2(QRegularExpression(err).match(outcome.err).hasMatch(), qPrintable(outcome.err));
    }

    void json()
    {
        const Outcome listed = run({ u"list"_qs, u"--json"_qs });
        QCOMPARE(listed.exitCode, 0);
        const QJsonObject list = QJsonDocument::fromJson(listed.out.toUtf8()).object();
        QCOMPARE(list.value(u"ok"_qs), QJsonValue(true));
        const QJsonArray services = list.value(u"services"_qs).toArray();
        QCOMPARE(services.size(), 3);
        const QJsonObject db = services.at(2).toObject();
        QCOMPARE(QStringList(db.keys()),
            (QStringList {
                u"failure"_qs, u"id"_qs, u"local"_qs, u"name"_qs, u"public"_qs, u"status"_qs, u"statusText"_qs }));
        QCOMPARE(db.value(u"status"_qs), QJsonValue(u"failed"_qs));
        QCOMPARE(db.value(u"failure"_qs), QJsonValue(u"端口必须在 1 到 65535 之间"_qs));
        QVERIFY(db.value(u"local"_qs).isNull() && db.value(u"public"_qs).isNull());
        QVERIFY(!QUuid::fromString(db.value(u"id"_qs).toString()).isNull());
        QCOMPARE(
            services.at(0).toObject().value(u"local"_qs), QJsonValue(u"http://127.0.0.1:%1"_qs.arg(m_origin.port())));

        const Outcome unknown = run({ u"start"_qs, u"nosuch"_qs, u"--json"_qs });
        QCOMPARE(unknown.exitCode, 1);
        QVERIFY(unknown.err.isEmpty());
        const QJsonObject refusal = QJsonDocument::fromJson(unknown.out.toUtf8()).object();
        QCOMPARE(refusal.value(u"error"_qs), QJsonValue(u"notFound"_qs));
        QCOMPARE(refusal.value(u"candidates"_qs).toArray().size(), 3);

        QCOMPARE(run({ u"start"_qs, u"web-alpha"_qs }).exitCode, 0);
        const Outcome address = run({ u"url"_qs, u"web-alpha"_qs, u"--wait"_qs, u"60"_qs, u"--json"_qs });
        QCOMPARE(address.exitCode, 0);
        const QJsonObject online = QJsonDocument::fromJson(address.out.toUtf8()).object();
        QCOMPARE(online.value(u"url"_qs), QJsonValue(publicAddress));
        QCOMPARE(online.value(u"services"_qs).toArray().at(0).toObject().value(u"status"_qs), QJsonValue(u"online"_qs));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("url without a name") << QStringList { u"url"_qs };
        QTest::newRow("start without a name") << QStringList { u"start"_qs };
        QTest::newRow("a name and --all") << QStringList { u"stop"_qs, u"web"_qs, u"--all"_qs };
        QTest::newRow("two names") << QStringList { u"start"_qs, u"web"_qs, u"db"_qs };
        QTest::newRow("list takes no name") << QStringList { u"list"_qs, u"web"_qs };
        QTest::newRow("url takes no --all") << QStringList { u"url"_qs, u"--all"_qs };
        QTest::newRow("wait without seconds") << QStringList { u"url"_qs, u"web"_qs, u"--wait"_qs };
        QTest::newRow("wait for words") << QStringList { u"url"_qs, u"web"_qs, u"--wait"_qs, u"soon"_qs };
        QTest::newRow("negative wait") << QStringList { u"url"_qs, u"web"_qs, u"--wait=-1"_qs };
        QTest::newRow("unknown command") << QStringList { u"lsit"_qs };
        QTest::newRow("unknown option") << QStringList { u"--hiden"_qs };
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        // With the instance running: a usage error is refused before anything is asked.
        const Outcome outcome = run(arguments);
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY(outcome.out.isEmpty());
        QVERIFY2(outcome.err.startsWith(u"orvanta：") && outcome.err.endsWith(u"运行 orvanta --help 查看用法。\n"),
            qPrintable(outcome.err));
    }

    void notRunning_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("staleSocket"); // a socket file left by a crash
        QTest::newRow("list") << QStringList { u"list"_qs } << false;
        QTest::newRow("url does not wait") << QStringList { u"url"_qs, u"web"_qs, u"--wait"_qs, u"600"_qs } << true;
        QTest::newRow("start all") << QStringList { u"start"_qs, u"--all"_qs } << true;
        QTest::newRow("json") << QStringList { u"stop"_qs, u"web"_qs, u"--json"_qs } << false;
    }

    void notRunning()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, staleSocket);
        QTemporaryDir runtime;
        if (staleSocket) {
            QFile file(runtime.filePath(u"orvanta.socket"_qs));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QProcessEnvironment env = m_env;
        env.insert(u"XDG_RUNTIME_DIR"_qs, runtime.path());
        QElapsedTimer timer;
        timer.start();
        const Outcome outcome = run(arguments, env);
        QCOMPARE(outcome.exitCode, 3);
        QVERIFY(timer.elapsed() < 30000);
        if (arguments.contains(u"--json"_qs))
            QCOMPARE(outcome.out, u"{\"error\":\"notRunning\",\"message\":\"奥文塔没有在运行\",\"ok\":false}\n"_qs);
        else
            QCOMPARE(outcome.err, u"orvanta：奥文塔没有在运行\n"_qs);
    }

    void helpAndVersion()
    {
        const Outcome help = run({ u"--help"_qs });
        QCOMPARE(help.exitCode, 0);
        for (const QString &expected : { u"orvanta list"_qs, u"orvanta url"_qs, u"orvanta start"_qs, u"orvanta stop"_qs,
                 u"--hidden"_qs, u"--json"_qs, u"--wait"_qs, u"不会再弹出公开确认"_qs, u"  3  "_qs })
            QVERIFY2(help.out.contains(expected), qPrintable(expected));
        QCOMPARE(run({ u"start"_qs, u"--help"_qs }).out, help.out);

        const Outcome version = run({ u"--version"_qs });
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, u"orvanta " ORVANTA_VERSION "\ncloudflared 2024.5.0\n"_qs);
        QVERIFY2(version.err.isEmpty(), qPrintable(version.err));
    }

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    Outcome run(const QStringList &arguments) const { return run(arguments, m_env); }
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
