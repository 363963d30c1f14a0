// Throughput of a session's output handling: a realistic cloudflared transcript, cut into pipe-sized
// chunks that split lines, through the line splitter and the session's line rules.

#include "session/OutputLineSplitter.h"
#include "session/TunnelSession.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QUuid>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

using namespace std::chrono_literals;

namespace {

QByteArray transcript(int *lineCount)
{
    const QList<QByteArray> cycle = {
        "2024-05-01T10:00:00Z INF Thank you for trying Cloudflare Tunnel. Doing so, without a Cloudflare account, is a "
        "quick way to experiment and try it out.",
        "2024-05-01T10:00:00Z INF Requesting new quick Tunnel on trycloudflare.com...",
        "2024-05-01T10:00:03Z INF "
        "+--------------------------------------------------------------------------------------------+",
        "2024-05-01T10:00:03Z INF |  Your quick Tunnel has been created! Visit it at (it may take some time to be "
        "reachable):  |",
        "2024-05-01T10:00:03Z INF |  https://four-random-words-here.trycloudflare.com                                  "
        "        |",
        "2024-05-01T10:00:03Z INF Version 2024.5.0",
        "2024-05-01T10:00:03Z INF GOOS: linux, GOVersion: go1.22.2, GoArch: amd64",
        "2024-05-01T10:00:03Z INF Settings: map[ha-connections:1 loglevel:info metrics:127.0.0.1:0 no-autoupdate:true]",
        "2024-05-01T10:00:03Z INF Generated Connector ID: 4c1b0a3e-8f1e-4b7e-9d5c-2a6f3e1d0b9c",
        "2024-05-01T10:00:03Z INF Initial protocol quic",
        "2024-05-01T10:00:03Z INF Starting metrics server on 127.0.0.1:40123/metrics",
        "2024-05-01T10:00:04Z INF Registered tunnel connection connIndex=0 connection=2b3c4d5e event=0 "
        "ip=198.41.200.13 location=fra01 protocol=quic",
        "2024-05-01T10:00:09Z ERR  error=\"Unable to reach the origin service. The service may be down or it may not "
        "be responding to traffic from cloudflared: dial tcp 127.0.0.1:3000: connect: connection refused\" connIndex=0 "
        "event=1 originService=http://127.0.0.1:3000",
        "2024-05-01T10:00:09Z ERR Request failed error=\"Unable to reach the origin service\" connIndex=0 "
        "dest=https://four-random-words-here.trycloudflare.com/ event=0 ip=198.41.200.13 type=http",
        "2024-05-01T10:00:12Z WRN Connection terminated error=\"timeout: no recent network activity\" connIndex=0",
        "2024-05-01T10:00:12Z WRN Retrying connection in up to 1s connIndex=0 event=0 ip=198.41.200.13",
        "2024-05-01T10:00:13Z INF Registered tunnel connection connIndex=0 connection=6f7a8b9c event=0 ip=198.41.192.7 "
        "location=ams02 protocol=quic",
        "2024-05-01T10:00:20Z INF Updated to new configuration "
        "config=\"{\\\"ingress\\\":[{\\\"service\\\":\\\"http://127.0.0.1:3000\\\"}]}\" version=1",
        "2024-05-01T10:00:21Z INF 中文日志行：本地服务已响应 status=200",
        "2024-05-01T10:00:22Z DBG ignored debug line connIndex=0",
    };
    QByteArray all;
    *lineCount = 0;
    for (int i = 0; i < 500; ++i) {
        for (const QByteArray &line : cycle) {
            all += line;
            all += i % 7 == 0 ? "\r\n" : "\n";
            ++*lineCount;
        }
    }
    return all;
}

long maxResidentKilobytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_OutputHandling(benchmark::State &state)
{
    int lines = 0;
    const QByteArray data = transcript(&lines);
    Timings timings;
    timings.postOnlineCheck = 24h;
    TunnelSession session({ QUuid::createUuid(), QStringLiteral("bench"), TunnelProvider::cloudflare,
                              OriginScheme::http, QStringLiteral("127.0.0.1"), QStringLiteral("3000"), false },
        {}, SessionDependencies { timings, CloudflaredLocator(QStringList()), {} });
    OutputLineSplitter splitter;
    const auto sink = [&session](const QString &line) { session.handleOutputLine(line); };
    // Pipe reads come in uneven sizes, so lines and characters are cut.
    const qsizetype chunkSizes[] = { 4096, 1531, 65536, 97, 8191 };
    long rssAfterWarmUp = 0;
    std::int64_t rounds = 0;
    for (auto _ : state) {
        qsizetype offset = 0;
        int k = 0;
        while (offset < data.size()) {
            const qsizetype size = std::min(chunkSizes[k++ % 5], data.size() - offset);
            splitter.feed(QByteArrayView(data.constData() + offset, size), sink);
            offset += size;
        }
        if (++rounds == 3)
            rssAfterWarmUp = maxResidentKilobytes();
    }
    benchmark::DoNotOptimize(session.activity().size());
    state.SetBytesProcessed(state.iterations() * data.size());
    state.counters["lines/s"] = benchmark::Counter(double(state.iterations()) * lines, benchmark::Counter::kIsRate);
    state.counters["log_entries"] = double(session.activity().size());
    state.counters["rss_growth_kB"] = rssAfterWarmUp ? double(maxResidentKilobytes() - rssAfterWarmUp) : 0.0;
}

// The splitting and decoding alone, to tell its share from that of the line rules.
void BM_LineSplitting(benchmark::State &state)
{
    int lines = 0;
    const QByteArray data = transcript(&lines);
    OutputLineSplitter splitter;
    qsizetype characters = 0;
    for (auto _ : state) {
        for (qsizetype offset = 0; offset < data.size(); offset += 4096)
            splitter.feed(QByteArrayView(data.constData() + offset, std::min<qsizetype>(4096, data.size() - offset)),
                [&characters](const QString &line) { characters += line.size(); });
    }
    benchmark::DoNotOptimize(characters);
    state.SetBytesProcessed(state.iterations() * data.size());
    state.counters["lines/s"] = benchmark::Counter(double(state.iterations()) * lines, benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_LineSplitting)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OutputHandling)->Unit(benchmark::kMillisecond)->MinTime(3.0);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv); // the session's timers want an event dispatcher
    // Measured as the program runs by default: debug messages off.
    QLoggingCategory::setFilterRules(QStringLiteral("orvanta.*.debug=false"));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
