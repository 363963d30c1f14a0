#include "app/SingleInstance.h"

#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void secondClaimHandsOver();
    void unknownRequestsAreIgnored();
    void secondProgramHandsOverAndTouchesNothing();
    void killedProgramDoesNotBlockTheNextStart();

private:
    static QProcessEnvironment programEnvironment(const QString &runtimeDir, const QString &configDir);
};

QProcessEnvironment TestSingleInstance::programEnvironment(const QString &runtimeDir, const QString &configDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    return env;
}

void TestSingleInstance::secondClaimHandsOver()
{
    QTemporaryDir dir;
    SingleInstance first(dir.path());
    QCOMPARE(first.claim(), SingleInstance::Role::primary);
    QSignalSpy activations(&first, &SingleInstance::activationRequested);

    SingleInstance second(dir.path());
    QCOMPARE(second.claim(), SingleInstance::Role::handedOver);
    QVERIFY(activations.wait(5000));
    QCOMPARE(activations.size(), 1);
}

void TestSingleInstance::unknownRequestsAreIgnored()
{
    QTemporaryDir dir;
    SingleInstance first(dir.path());
    QCOMPARE(first.claim(), SingleInstance::Role::primary);
    QSignalSpy activations(&first, &SingleInstance::activationRequested);

    QLocalSocket stranger;
    stranger.connectToServer(first.socketPath());
    QVERIFY(stranger.waitForConnected(2000));
    stranger.write(QByteArray(200, 'x'));
    stranger.write("\nactivate-now\n");
    stranger.flush();
    QTRY_COMPARE_WITH_TIMEOUT(stranger.state(), QLocalSocket::UnconnectedState, 5000);
    QCOMPARE(activations.size(), 0);
}

void TestSingleInstance::secondProgramHandsOverAndTouchesNothing()
{
    QTemporaryDir runtime;
    QTemporaryDir config;
    SingleInstance first(runtime.path());
    QCOMPARE(first.claim(), SingleInstance::Role::primary);
    QSignalSpy activations(&first, &SingleInstance::activationRequested);

    QProcess program;
    program.setProcessEnvironment(programEnvironment(runtime.path(), config.path()));
    program.start(QStringLiteral(ORVANTA_PROGRAM), {});
    QVERIFY(program.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, 30000);
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(activations.size(), 1, 5000);
    // It left before reading or migrating any settings.
    QVERIFY(QDir(config.path()).isEmpty());
}

void TestSingleInstance::killedProgramDoesNotBlockTheNextStart()
{
    QTemporaryDir runtime;
    QTemporaryDir config;
    QProcess program;
    program.setProcessEnvironment(programEnvironment(runtime.path(), config.path()));
    program.start(QStringLiteral(ORVANTA_PROGRAM), {});
    QVERIFY(program.waitForStarted());
    const QString socket = runtime.filePath(QStringLiteral("orvanta.socket"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), 30000);
    ::kill(pid_t(program.processId()), SIGKILL);
    QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, 10000);
    QVERIFY(QFile::exists(runtime.filePath(QStringLiteral("orvanta.lock"))));

    SingleInstance next(runtime.path());
    QCOMPARE(next.claim(), SingleInstance::Role::primary);
    QSignalSpy activations(&next, &SingleInstance::activationRequested);
    SingleInstance later(runtime.path());
    QCOMPARE(later.claim(), SingleInstance::Role::handedOver);
    QVERIFY(activations.wait(5000));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "TestSingleInstance.moc"
