#include "ProcessProbe.h"
#include "ProgramRig.h"

#include <QtNetwork>
#include <QtTest>

#include <csignal>

using namespace ProcessProbe;

class TestProgramLifetime : public QObject
{
    Q_OBJECT

private slots:
    // Private, so also the runtime directory.
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_fake = std::make_unique<FakeCloudflared>(path(u"fake"_qs));
        m_origin = std::make_unique<LocalHttpServer>();
    }

    void tunnelsEndWithTheProgram_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("killed") << SIGKILL;
        QTest::newRow("terminated, tunnels ignore the polite request") << SIGTERM;
    }

    void tunnelsEndWithTheProgram()
    {
        QFETCH(int, signal);
        QProcess host;
        const QList<qint64> tunnels = hostWithTunnels(host, signal == SIGTERM ? "trap '' TERM\n" : "");
        QCOMPARE(tunnels.size(), 2);
        QStringList runtimeDirs;
        for (const qint64 pid : tunnels)
            runtimeDirs << QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget();

        ::kill(pid_t(host.processId()), signal);
        QTRY_COMPARE_WITH_TIMEOUT(host.state(), QProcess::NotRunning, 30000);
        for (const qint64 pid : tunnels)
            QTRY_VERIFY_WITH_TIMEOUT(!isRunning(pid), 10000);
        if (signal == SIGKILL) {
            // What a killed program leaves, the next start removes; its lock and socket hold nothing back.
            for (const QString &dir : runtimeDirs)
                QVERIFY2(QFileInfo(dir).isDir(), qPrintable(dir));
            QProcess next;
            launch(next, { u"hidden"_qs });
            QCOMPARE(nextLine(next), QByteArray("hidden\n"));
            for (const QString &dir : runtimeDirs)
                QVERIFY2(!QFileInfo::exists(dir), qPrintable(dir));
            QVERIFY(handsOverTo(next));
            next.terminate();
            QVERIFY(next.waitForFinished(30000));
            return;
        }
        // Terminated: an orderly end that waited for every tunnel and left no working directory behind.
        QVERIFY(host.exitStatus() == QProcess::NormalExit && host.exitCode() == 0);
        for (const QString &dir : runtimeDirs)
            QVERIFY2(dir.contains(u"orvanta-runtime-"_qs) && !QFileInfo::exists(dir), qPrintable(dir));
    }

    void leftoversGoAtStartAndQuitSavesWhatIsPending_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("terminated") << SIGTERM;
        QTest::newRow("hung up") << SIGHUP;
    }

    void leftoversGoAtStartAndQuitSavesWhatIsPending()
    {
        QFETCH(int, signal);
        // What killed saves leave: Qt's temporary file, our side files and an empty lock naming no owner.
        const QString settings = path(u"config/orvanta/orvanta.conf"_qs);
        const QStringList leftovers { settings + u".Ab12Cd"_qs, settings + u".saving-0123456789ab"_qs,
            settings + u".checking-0123456789ab"_qs, settings + u".lock"_qs };
        QVERIFY(QDir().mkpath(path(u"config/orvanta"_qs)));
        for (const QString &file : leftovers)
            QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        QProcess host;
        launch(host, { u"rename"_qs, u"退出前的改动"_qs });
        QCOMPARE(nextLine(host), QByteArray("renamed\n"));
        for (const QString &file : leftovers)
            QVERIFY2(!QFileInfo::exists(file), qPrintable(file));

        ::kill(pid_t(host.processId()), signal);
        QTRY_COMPARE_WITH_TIMEOUT(host.state(), QProcess::NotRunning, 30000);
        QVERIFY(host.exitStatus() == QProcess::NormalExit && host.exitCode() == 0);
        const auto list = decodeProfiles(settingsOnDisk(settings).value(u"tunnelProfilesV2"_qs).toByteArray());
        QVERIFY(list && list->size() == 1);
        QCOMPARE(list->first().name, u"退出前的改动"_qs);
    }

    void startWhileTheFirstQuitsWaitsForIt()
    {
        QProcess first;
        // Its tunnels ignore the polite request, so the quit takes the whole grace time.
        QCOMPARE(hostWithTunnels(first, "trap '' TERM\n").size(), 2);
        ::kill(pid_t(first.processId()), SIGTERM);
        const auto logged = [&] {
            QFile log(path(u"state/orvanta/orvanta.log"_qs));
            return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        };
        QVERIFY(QTest::qWaitFor([&] { return logged().contains("quitting:"); }, 10000));

        QProcess second;
        launch(second, { u"hidden"_qs });
        QCOMPARE(nextLine(second), QByteArray("hidden\n"));
        // It let go of the lock at its very end.
        QTRY_COMPARE_WITH_TIMEOUT(first.state(), QProcess::NotRunning, 10000);
        QVERIFY2(logged().contains("the running instance is quitting") && !logged().contains("Role::handedOver"),
            logged().constData());
        // It is the running instance now: a third start hands over to it. Each start told the log its part.
        QVERIFY(handsOverTo(second));
        for (const char *expected : { "role: SingleInstance::Role::primary", "role: SingleInstance::Role::handedOver",
                 "another start asked for the window" })
            QVERIFY2(logged().contains(expected), logged().constData());
        second.terminate();
        QVERIFY(second.waitForFinished(30000));
    }

    void withoutADisplay()
    {
        QProcessEnvironment env = environment();
        for (const QString &name : { u"DISPLAY"_qs, u"WAYLAND_DISPLAY"_qs, u"QT_QPA_PLATFORM"_qs })
            env.remove(name);
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(ORVANTA_PROGRAM), {});
        QVERIFY(program.waitForFinished(30000) && program.exitStatus() == QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QVERIFY(program.readAllStandardOutput().isEmpty());
        const QString error = QString::fromUtf8(program.readAllStandardError());
        // One clear line.
        QVERIFY2(error.count(u'\n') == 1 && error.contains(u"xvfb-run"_qs), qPrintable(error));
        QVERIFY(!QFileInfo::exists(path(u"config"_qs)) && !QFileInfo::exists(path(u"state"_qs)));
    }

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    /// The program's surroundings: private runtime directory, settings under \a config, log under state/, offscreen.
    QProcessEnvironment environment(const QString &config = u"config"_qs) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_RUNTIME_DIR"_qs, m_dir->path());
        env.insert(u"XDG_CONFIG_HOME"_qs, path(config));
        env.insert(u"XDG_STATE_HOME"_qs, path(u"state"_qs));
        env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
        env.insert(u"ASAN_OPTIONS"_qs, u"detect_leaks=0"_qs);
        return env;
    }
    /// Starts \a program (the host unless told) in the program's surroundings, settings under \a config.
    void launch(QProcess &process, const QStringList &arguments, const QString &config = u"config"_qs,
        const QString &program = QStringLiteral(PROGRAM_HOST)) const
    {
        process.setProcessEnvironment(environment(config));
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, arguments);
    }
    /// The next line \a process prints; empty if it ends first.
    static QByteArray nextLine(QProcess &process)
    {
        const bool ended
            = !QTest::qWaitFor([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; }, 30000);
        return ended ? QByteArray() : process.readLine();
    }
    /// Starts the host with its two tunnels from a fake `cloudflared` that runs \a prelude; their ids once both run.
    QList<qint64> hostWithTunnels(QProcess &host, const QByteArray &prelude) const
    {
        QList<qint64> tunnels;
        if (!m_origin->listenHttp() || !m_fake->install(ProgramRig::script(prelude)))
            return tunnels;
        launch(host, { m_fake->path(), QString::number(m_origin->port()) });
        return QTest::qWaitFor([&] { return (tunnels = waitingChildren(host.processId())).size() == 2; }, 60000)
            ? tunnels
            : QList<qint64>();
    }
    /// A plain start while \a running runs: it leaves at once, before reading or migrating any settings,
    /// and \a running shows its window.
    bool handsOverTo(QProcess &running) const
    {
        QProcess start;
        launch(start, {}, u"second-config"_qs, QStringLiteral(ORVANTA_PROGRAM));
        return start.waitForFinished(30000) && start.exitStatus() == QProcess::NormalExit && start.exitCode() == 0
            && !QFileInfo::exists(path(u"second-config"_qs)) && nextLine(running) == "shown\n";
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeCloudflared> m_fake;
    std::unique_ptr<LocalHttpServer> m_origin;
};

QTEST_GUILESS_MAIN(TestProgramLifetime)
#include "TestProgramLifetime.moc"
