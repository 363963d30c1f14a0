// Whole-program figures: start-up and memory against a bare window, the idle cost of 20 services,
// and responsiveness while one tunnel floods its log. Each run starts BenchHost (the real program)
// under the offscreen platform against fake cloudflared scripts and local HTTP servers.
#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "legal/LegalNoticeView.h"
#include "session/TunnelSession.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"
#include "ui/ContentView.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <functional>
#include <memory>
#include <unistd.h>

namespace {

const QByteArray versionAnswer = "if [ \"$1\" = --version ]; then echo 'cloudflared version 2024.5.0'; exit 0; fi\n";

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

/// CPU seconds (user + system) and resident bytes of \a pid.
struct Usage
{
    double cpuSeconds = 0;
    double residentBytes = 0;
};

Usage usageOf(qint64 pid)
{
    Usage usage;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        // Fields after the name start at "state" (3): utime is 14, stime 15, rss 24.
        const double ticks = double(sysconf(_SC_CLK_TCK));
        usage.cpuSeconds = (fields.value(11).toDouble() + fields.value(12).toDouble()) / ticks;
        usage.residentBytes = fields.value(21).toDouble() * double(sysconf(_SC_PAGESIZE));
    }
    return usage;
}

/// A configuration directory with \a services saved services pointing at \a port, notice accepted.
class Profile
{
public:
    Profile(int services, quint16 port)
    {
        const QString config = m_dir.filePath(QStringLiteral("config/orvanta"));
        QDir().mkpath(config);
        QDir().mkpath(runtimeDir());
        QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_fake = std::make_unique<FakeCloudflared>(m_dir.filePath(QStringLiteral("fake")));
        m_fake->install(versionAnswer);
        QSettings settings(config + QStringLiteral("/orvanta.conf"), QSettings::IniFormat);
        settings.setValue(Preferences::legalAcknowledgementKey, LegalNoticeView::currentVersion);
        Preferences preferences(settings);
        TunnelStore store(&preferences, SessionDependencies { {}, m_fake->locator(), {} });
        while (store.sessions().size() < services)
            store.addProfile();
        for (TunnelSession *session : store.sessions()) {
            TunnelProfile profile = session->profile();
            profile.scheme = OriginScheme::http;
            profile.portText = QString::number(port);
            session->setProfile(profile);
        }
        store.shutdownAll();
    }

    void installCloudflared(const QByteArray &body) { m_fake->install(versionAnswer + body); }

    std::unique_ptr<QProcess> start(const char *mode) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(env);
        process->start(QStringLiteral(BENCH_HOST), { m_fake->path(), QString::fromLatin1(mode) });
        return process;
    }

private:
    QString runtimeDir() const { return m_dir.filePath(QStringLiteral("runtime")); }

    QTemporaryDir m_dir;
    std::unique_ptr<FakeCloudflared> m_fake;
};

void stop(QProcess &process)
{
    process.terminate();
    if (!waitFor([&] { return process.state() == QProcess::NotRunning; }, 10000))
        process.kill();
    process.waitForFinished(5000);
}

std::unique_ptr<QProcess> startBareWindow()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(BARE_WINDOW));
    return process;
}

/// Seconds from starting a process to its "frame" line, or a negative number when none came.
double secondsToFirstFrame(const std::function<std::unique_ptr<QProcess>()> &start)
{
    QElapsedTimer clock;
    clock.start();
    const auto process = start();
    const bool painted
        = waitFor([&] { return process->canReadLine() || process->state() == QProcess::NotRunning; }, 30000)
        && process->readLine().startsWith("frame");
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    stop(*process);
    return painted ? seconds : -1;
}

/// Resident bytes of a process left alone for \a settleMs after it started.
double residentAfter(const std::unique_ptr<QProcess> &process, int settleMs)
{
    waitFor([] { return false; }, settleMs);
    const double bytes = usageOf(process->processId()).residentBytes;
    stop(*process);
    return bytes;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// The program against the floor of any Qt Widgets program on this machine, measured in the same run:
// first painted frame with 50 saved services, and resident memory idle with 20 services.
void BM_AgainstBareWindow(benchmark::State &state)
{
    constexpr int rounds = 7;
    constexpr int settleMs = 8000; // start-up and the first round of health checks
    LocalHttpServer origin;
    origin.listenHttp();
    const Profile fifty(50, origin.port());
    const Profile twenty(20, origin.port());
    for (auto _ : state) {
        QList<double> bareFrames;
        QList<double> programFrames;
        for (int round = 0; round < rounds; ++round) { // interleaved, so both see the same machine
            bareFrames << secondsToFirstFrame(startBareWindow);
            programFrames << secondsToFirstFrame([&] { return fifty.start("startup"); });
        }
        if (*std::min_element(bareFrames.begin(), bareFrames.end()) < 0
            || *std::min_element(programFrames.begin(), programFrames.end()) < 0) {
            state.SkipWithError("no first frame");
            break;
        }
        const double bareResident = residentAfter(startBareWindow(), settleMs);
        const double programResident = residentAfter(twenty.start("idle"), settleMs);
        state.SetIterationTime(median(programFrames));
        state.counters["bare_frame_ms"] = median(bareFrames) * 1e3;
        state.counters["program_frame_ms"] = median(programFrames) * 1e3;
        state.counters["frame_ratio"] = median(programFrames) / median(bareFrames);
        state.counters["bare_rss_MB"] = bareResident / 1e6;
        state.counters["program_rss_MB"] = programResident / 1e6;
        state.counters["rss_ratio"] = programResident / bareResident;
    }
}

void BM_Idle20Services60s(benchmark::State &state)
{
    LocalHttpServer origin;
    origin.listenHttp();
    Profile profile(20, origin.port());
    for (auto _ : state) {
        const auto host = profile.start("idle");
        waitFor([] { return false; }, 5000); // start-up and the first round of checks
        const Usage before = usageOf(host->processId());
        QElapsedTimer clock;
        clock.start();
        waitFor([] { return false; }, 60000);
        const Usage after = usageOf(host->processId());
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        stop(*host);
        state.SetIterationTime(seconds);
        state.counters["cpu_percent_of_core"] = 100.0 * (after.cpuSeconds - before.cpuSeconds) / seconds;
        state.counters["rss_MB"] = after.residentBytes / 1e6;
        state.counters["health_requests"] = double(origin.requests().size());
    }
}

void BM_Flood5000LinesPerSecond(benchmark::State &state)
{
    LocalHttpServer origin;
    origin.listenHttp();
    Profile profile(1, origin.port());
    // Online, then 50 error lines every 10 ms on standard error: 5,000 lines a second.
    profile.installCloudflared(FakeCloudflared::printToStandardError(FakeCloudflared::requestLine()
                                   + FakeCloudflared::urlLine() + FakeCloudflared::registeredLine())
        + "exec /usr/bin/perl -e 'use Time::HiRes qw(sleep time); $|=1; my $l=q{"
        + FakeCloudflared::originErrorLine().trimmed().replace('\'', "") + "}; my $t=time;"
        + " while (1) { print STDERR qq{$l\\n} for 1..50; $t += 0.01; my $d = $t - time; sleep($d) if $d > 0; }'\n");
    for (auto _ : state) {
        const auto host = profile.start("flood");
        QList<double> p99s;
        double worst = 0;
        Usage before;
        QElapsedTimer clock;
        int seconds = 0;
        const bool done = waitFor(
            [&] {
                while (host->canReadLine()) {
                    const QList<QByteArray> parts = host->readLine().trimmed().split(' ');
                    if (parts.value(0) != "lateness")
                        continue;
                    if (++seconds == 3) { // warm-up over: the flood runs and the log is full
                        before = usageOf(host->processId());
                        clock.start();
                    } else if (seconds > 3) {
                        p99s.append(parts.value(2).toDouble());
                        worst = std::max(worst, parts.value(3).toDouble());
                    }
                }
                return seconds >= 13 || host->state() == QProcess::NotRunning;
            },
            60000);
        const Usage after = usageOf(host->processId());
        const double elapsed = double(clock.nsecsElapsed()) / 1e9;
        stop(*host);
        if (!done || p99s.isEmpty()) {
            state.SkipWithError("the flood did not run");
            break;
        }
        std::sort(p99s.begin(), p99s.end());
        state.SetIterationTime(elapsed);
        state.counters["lateness_p99_ms_median_second"] = p99s.at(p99s.size() / 2);
        state.counters["lateness_p99_ms_worst_second"] = p99s.last();
        state.counters["lateness_max_ms"] = worst;
        state.counters["cpu_percent_of_core"] = 100.0 * (after.cpuSeconds - before.cpuSeconds) / elapsed;
    }
}

BENCHMARK(BM_AgainstBareWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Idle20Services60s)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_Flood5000LinesPerSecond)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
