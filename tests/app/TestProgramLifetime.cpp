#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "ProcessProbe.h"
#include "TestSupport.h"
#include "app/SingleInstance.h"

#include <QtNetwork>
#include <QtTest>

#include <csignal>

using namespace ProcessProbe;

class TestProgramLifetime : public QObject
{
    Q_OBJECT

private slots:
    // Private, so also the runtime directory.
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void tunnelsEndWithTheProgram_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("killed") << SIGKILL;
        QTest::newRow("terminated, tunnels ignore the polite request") << SIGTERM;
    }

    void tunnelsEndWithTheProgram()
    {
        QFETCH(int, signal);
        FakeCloudflared fake(path(u"fake"_qs));
        LocalHttpServer origin;
        QVERIFY(origin.listenHttp()
            && fake.install("if [ \"$1\" = --version ]; then echo 'cloudflared version 2024.5.0'; exit 0; fi\n"
                + QByteArray(signal == SIGTERM ? "trap '' TERM\n" : "") + FakeCloudflared::onlineBody(120)));
        QProcess host;
        host.setProcessEnvironment(environment());
        host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        host.start(QStringLiteral(PROGRAM_HOST), { fake.path(), QString::number(origin.port()) });
        QList<qint64> tunnels;
        QVERIFY(QTest::qWaitFor([&] { return (tunnels = waitingChildren(host.processId())).size() == 2; }, 60000));
        QStringList runtimeDirs;
        for (const qint64 pid : tunnels)
            runtimeDirs << QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget();

        ::kill(pid_t(host.processId()), signal);
        QTRY_COMPARE_WITH_TIMEOUT(host.state(), QProcess::NotRunning, 30000);
        for (const qint64 pid : tunnels)
            QTRY_VERIFY_WITH_TIMEOUT(!isRunning(pid), 10000);
        if (signal == SIGKILL) {
            // What a killed program leaves, the next start removes.
            for (const QString &dir : runtimeDirs)
                QVERIFY2(QFileInfo(dir).isDir(), qPrintable(dir));
            QProcess next;
            next.setProcessEnvironment(environment());
            next.start(QStringLiteral(PROGRAM_HOST), { u"hidden"_qs });
            QVERIFY(QTest::qWaitFor([&] { return next.canReadLine() || next.state() == QProcess::NotRunning; }, 30000));
            for (const QString &dir : runtimeDirs)
                QVERIFY2(!QFileInfo::exists(dir), qPrintable(dir));
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
        host.setProcessEnvironment(environment());
        host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        host.start(QStringLiteral(PROGRAM_HOST), { u"rename"_qs, u"退出前的改动"_qs });
        QVERIFY(QTest::qWaitFor([&] { return host.canReadLine() || host.state() == QProcess::NotRunning; }, 30000));
        QCOMPARE(host.readLine(), QByteArray("renamed\n"));
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
        FakeCloudflared fake(path(u"fake"_qs));
        LocalHttpServer origin;
        QVERIFY(origin.listenHttp()
            && fake.install("if [ \"$1\" = --version ]; then echo 'cloudflared version 2024.5.0'; exit 0; fi\n"
                            "trap '' TERM\n"
                + FakeCloudflared::onlineBody(120)));
        QProcess first;
        first.setProcessEnvironment(environment());
        first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        first.start(QStringLiteral(PROGRAM_HOST), { fake.path(), QString::number(origin.port()) });
        QVERIFY(QTest::qWaitFor([&] { return waitingChildren(first.processId()).size() == 2; }, 60000));
        // Its tunnels ignore the polite request, so the quit takes the whole grace time.
        ::kill(pid_t(first.processId()), SIGTERM);
        const auto logged = [&] {
            QFile log(path(u"state/orvanta/orvanta.log"_qs));
            return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        };
        QVERIFY(QTest::qWaitFor([&] { return logged().contains("quitting:"); }, 10000));

        QProcess second;
        second.setProcessEnvironment(environment());
        second.start(QStringLiteral(PROGRAM_HOST), { u"hidden"_qs });
        QVERIFY(QTest::qWaitFor([&] { return second.canReadLine() || second.state() == QProcess::NotRunning; }, 30000));
        QCOMPARE(second.readLine(), QByteArray("hidden\n"));
        // It let go of the lock at its very end.
        QTRY_COMPARE_WITH_TIMEOUT(first.state(), QProcess::NotRunning, 10000);
        const QByteArray written = logged();
        QVERIFY2(written.contains("the running instance is quitting") && !written.contains("Role::handedOver"),
            written.constData());
        // It is the running instance now: a third start hands over to it.
        QProcess third;
        third.setProcessEnvironment(environment());
        third.start(QStringLiteral(ORVANTA_PROGRAM), {});
        QVERIFY(third.waitForFinished(30000) && third.exitCode() == 0);
        QVERIFY(QTest::qWaitFor([&] { return second.canReadLine(); }, 10000));
        QCOMPARE(second.readLine(), QByteArray("shown\n"));
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

    void secondStartShowsTheWindowAndAKilledOneBlocksNothing()
    {
        QProcess first;
        first.setProcessEnvironment(environment());
        first.start(QStringLiteral(PROGRAM_HOST), { u"hidden"_qs });
        QVERIFY(QTest::qWaitFor([&] { return first.canReadLine() || first.state() == QProcess::NotRunning; }, 30000));
        QCOMPARE(first.readLine(), QByteArray("hidden\n"));

        // A second start brings up the window the hidden first one never showed and leaves before reading or migrating
        // any settings.
        QProcess second;
        second.setProcessEnvironment(environment(u"second-config"_qs));
        second.start(QStringLiteral(ORVANTA_PROGRAM), {});
        QVERIFY(second.waitForFinished(30000) && second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0);
        QVERIFY(!QFileInfo::exists(path(u"second-config"_qs)));
        QVERIFY(QTest::qWaitFor([&] { return first.canReadLine(); }, 10000));
        QCOMPARE(first.readLine(), QByteArray("shown\n"));

        // Both starts told the log which part they took.
        QFile log(path(u"state/orvanta/orvanta.log"_qs));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray written = log.readAll();
        for (const char *expected : { "role: SingleInstance::Role::primary", "role: SingleInstance::Role::handedOver",
                 "another start asked for the window" })
            QVERIFY2(written.contains(expected), written.constData());

        ::kill(pid_t(first.processId()), SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(first.state(), QProcess::NotRunning, 10000);
        QVERIFY(QFile::exists(path(u"orvanta.lock"_qs)));
        SingleInstance next(m_dir->path());
        QCOMPARE(next.claim(), SingleInstance::Role::primary);
        QSignalSpy activations(&next, &SingleInstance::activationRequested);
        SingleInstance later(m_dir->path());
        QCOMPARE(later.claim(), SingleInstance::Role::handedOver);
        QVERIFY(activations.wait(5000));
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

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestProgramLifetime)
#include "TestProgramLifetime.moc"
