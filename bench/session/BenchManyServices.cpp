// Start-up and idle cost of many services: constructing their sessions, their first round of health
// checks against a local service, and what the program holds once they are idle (descriptors, memory,
// processor time).

#include "session/TunnelSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUuid>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

/// Answers every connection with one empty 200 response, as a small local service would.
class AnsweringServer : public QTcpServer
{
public:
    AnsweringServer()
    {
        connect(this, &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    if (!socket->readAll().contains("\r\n\r\n"))
                        return;
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                });
            }
        });
        listen(QHostAddress::LocalHost);
    }
};

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

double residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return double(fields.value(1).toLongLong()) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double processorSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void runEventsUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5ms);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    if (done)
        poll.start();
    loop.exec();
}

void BM_ManyServices(benchmark::State &state)
{
    const int services = int(state.range(0));
    AnsweringServer server;
    const double residentBefore = residentMegabytes();
    const int descriptorsBefore = openDescriptors();
    double constructMs = 0, firstRoundMs = 0, idleCpuPercent = 0, residentIdle = 0;
    int mostDescriptors = 0, descriptorsIdle = 0, checked = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        SessionDependencies dependencies { Timings(), CloudflaredLocator(QStringList()), {} };
        std::vector<std::unique_ptr<TunnelSession>> sessions;
        sessions.reserve(size_t(services));
        checked = 0;
        mostDescriptors = descriptorsBefore;
        for (int i = 0; i < services; ++i) {
            auto session = std::make_unique<TunnelSession>(
                TunnelProfile { QUuid::createUuid(), QStringLiteral("服务 %1").arg(i), TunnelProvider::cloudflare,
                    OriginScheme::automatic, QStringLiteral("127.0.0.1"), QString::number(server.serverPort()), false },
                nullptr, dependencies);
            QObject::connect(session.get(), &TunnelSession::healthChecked, [&checked, &mostDescriptors] {
                ++checked;
                if (checked % 25 == 0)
                    mostDescriptors = std::max(mostDescriptors, openDescriptors());
            });
            session->beginMonitoring();
            sessions.push_back(std::move(session));
        }
        constructMs = double(clock.nsecsElapsed()) / 1e6;
        runEventsUntil([&] { return checked >= services; }, 60s);
        firstRoundMs = double(clock.nsecsElapsed()) / 1e6;

        // Idle: the next round is ten seconds away; one second of the event loop shows the rest cost.
        const double cpuBefore = processorSeconds();
        runEventsUntil(nullptr, 1s);
        idleCpuPercent = (processorSeconds() - cpuBefore) * 100.0;
        residentIdle = residentMegabytes();
        descriptorsIdle = openDescriptors();
        state.PauseTiming();
        for (auto &session : sessions)
            session->shutdown();
        sessions.clear();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["services"] = services;
    state.counters["checked"] = checked;
    state.counters["construct_ms"] = constructMs;
    state.counters["first_round_ms"] = firstRoundMs;
    state.counters["fds_before"] = descriptorsBefore;
    state.counters["fds_peak"] = mostDescriptors;
    state.counters["fds_idle"] = descriptorsIdle;
    state.counters["rss_before_MB"] = residentBefore;
    state.counters["rss_idle_MB"] = residentIdle;
    state.counters["idle_cpu_%"] = idleCpuPercent;
}

} // namespace

BENCHMARK(BM_ManyServices)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("orvanta.*.debug=false"));
    // The usual soft limit of a desktop session, whatever this shell allows.
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur > 1024) {
        limit.rlim_cur = 1024;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
