#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "ProcessProbe.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {
using ProcessProbe::isRunning;
using ProcessProbe::waitingChildren;

const QByteArray versionBranch = "if [ \"$1\" = --version ]; then echo 'cloudflared version 2024.5.0'; exit 0; fi\n";
} // namespace

class TestProgramLifetime : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void tunnelsDieWithAKilledProgram();
    void terminationStopsEveryTunnelFirst();
    void noDisplayGivesOneClearLine();

private:
    QList<qint64> startHostWithTunnels(const QByteArray &tunnelBody);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeCloudflared> m_fake;
    std::unique_ptr<LocalHttpServer> m_origin;
    std::unique_ptr<QProcess> m_host;
};

void TestProgramLifetime::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QDir(m_dir->path()).mkpath(u"runtime"_qs);
    QFile::setPermissions(m_dir->filePath(u"runtime"_qs), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_fake = std::make_unique<FakeCloudflared>(m_dir->filePath(u"fake"_qs));
    m_origin = std::make_unique<LocalHttpServer>();
    QVERIFY(m_origin->listenHttp());
}

void TestProgramLifetime::cleanup()
{
    if (m_host && m_host->state() != QProcess::NotRunning) {
        m_host->kill();
        m_host->waitForFinished();
    }
    m_host.reset();
    m_fake.reset();
    m_origin.reset();
    m_dir.reset();
}

QList<qint64> TestProgramLifetime::startHostWithTunnels(const QByteArray &tunnelBody)
{
    if (!m_fake->install(versionBranch + tunnelBody))
        return {};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_RUNTIME_DIR"_qs, m_dir->filePath(u"runtime"_qs));
    env.insert(u"XDG_CONFIG_HOME"_qs, m_dir->filePath(u"config"_qs));
    env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
    env.insert(u"ASAN_OPTIONS"_qs, u"detect_leaks=0"_qs);
    m_host = std::make_unique<QProcess>();
    m_host->setProcessEnvironment(env);
    m_host->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_host->start(QStringLiteral(PROGRAM_HOST), {m_fake->path(), QString::number(m_origin->port())});
    if (!m_host->waitForStarted())
        return {};
    QList<qint64> tunnels;
    if (!QTest::qWaitFor([&] { return (tunnels = waitingChildren(m_host->processId())).size() == 2; }, 60000))
        return {};
    return tunnels;
}

void TestProgramLifetime::tunnelsDieWithAKilledProgram()
{
    const QList<qint64> tunnels = startHostWithTunnels(FakeCloudflared::onlineBody(120));
    QCOMPARE(tunnels.size(), 2);
    for (const qint64 pid : tunnels)
        QVERIFY(isRunning(pid));

    ::kill(pid_t(m_host->processId()), SIGKILL);
    QTRY_COMPARE_WITH_TIMEOUT(m_host->state(), QProcess::NotRunning, 10000);
    for (const qint64 pid : tunnels)
        QTRY_VERIFY_WITH_TIMEOUT(!isRunning(pid), 10000);
}

void TestProgramLifetime::terminationStopsEveryTunnelFirst()
{
    // Tunnels that ignore the polite request: the program must still not leave them behind.
    const QList<qint64> tunnels = startHostWithTunnels("trap '' TERM\n" + FakeCloudflared::onlineBody(120));
    QCOMPARE(tunnels.size(), 2);
    QStringList runtimeDirs;
    for (const qint64 pid : tunnels)
        runtimeDirs << QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget();

    ::kill(pid_t(m_host->processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(m_host->state(), QProcess::NotRunning, 30000);
    QCOMPARE(m_host->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_host->exitCode(), 0);
    for (const qint64 pid : tunnels)
        QVERIFY(!isRunning(pid));
    for (const QString &dir : runtimeDirs) {
        QVERIFY2(dir.contains(u"orvanta-runtime-"_qs), qPrintable(dir));
        QVERIFY2(!QFileInfo::exists(dir), qPrintable(dir));
    }
}

void TestProgramLifetime::noDisplayGivesOneClearLine()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &name : {u"DISPLAY"_qs, u"WAYLAND_DISPLAY"_qs, u"QT_QPA_PLATFORM"_qs})
        env.remove(name);
    env.insert(u"XDG_RUNTIME_DIR"_qs, m_dir->filePath(u"runtime"_qs));
    env.insert(u"XDG_CONFIG_HOME"_qs, m_dir->filePath(u"config"_qs));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(ORVANTA_PROGRAM), {});
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY(program.exitCode() != 0);
    const QString output = QString::fromUtf8(program.readAllStandardError());
    QCOMPARE(output.count(u'\n'), 1);
    QVERIFY(output.contains(u"xvfb-run"_qs));
    QVERIFY(!QFileInfo::exists(m_dir->filePath(u"config"_qs)));
}

QTEST_GUILESS_MAIN(TestProgramLifetime)
#include "TestProgramLifetime.moc"
