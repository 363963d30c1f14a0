// What the detail pane costs while a tunnel talks: one refresh with a full log, and a flood of
// log lines from a failing origin (each line changes the session; the pane refreshes once).

#include "session/TunnelSession.h"
#include "ui/TunnelDetailView.h"
#include "ui/style/Theme.h"

#include <QApplication>
#include <QUuid>

#include <benchmark/benchmark.h>

namespace {

const QString warningLine = QStringLiteral(
    "2024-05-01T10:00:09Z ERR  error=\"Unable to reach the origin service. The service may be down or it may not "
    "be responding to traffic from cloudflared: dial tcp 127.0.0.1:3000: connect: connection refused\"");

std::unique_ptr<TunnelSession> makeSession()
{
    TunnelProfile profile { QUuid::createUuid(), QStringLiteral("bench"), TunnelProvider::cloudflare,
        OriginScheme::http, QStringLiteral("127.0.0.1"), QStringLiteral("3000"), false };
    return std::make_unique<TunnelSession>(profile, nullptr);
}

// One new line with the log already full: the oldest row goes, a new one comes on top.
void BM_RefreshFullLogOneNewLine(benchmark::State &state)
{
    auto session = makeSession();
    TunnelDetailView pane(session.get());
    pane.resize(709, 900);
    pane.show();
    for (int i = 0; i < 60; ++i)
        session->handleOutputLine(warningLine);
    pane.refresh();
    for (auto _ : state) {
        session->handleOutputLine(warningLine);
        pane.refresh();
    }
}
BENCHMARK(BM_RefreshFullLogOneNewLine)->Unit(benchmark::kMicrosecond);

// A thousand lines arrive in one go, then the event loop runs: one refresh for all of them.
void BM_FloodOfThousandLines(benchmark::State &state)
{
    auto session = makeSession();
    TunnelDetailView pane(session.get());
    pane.resize(709, 900);
    pane.show();
    for (auto _ : state) {
        const int before = pane.refreshCount();
        for (int i = 0; i < 1000; ++i)
            session->handleOutputLine(warningLine);
        while (pane.refreshCount() == before)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}
BENCHMARK(BM_FloodOfThousandLines)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Theme::install(app);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
