// The real program for the benchmarks: `BenchHost <cloudflared> startup|idle|flood`.
//  startup: prints "frame" once the main window has painted for the first time.
//  idle:    runs as a user would leave it.
//  flood:   starts the selected service, then every second prints the event loop's lateness
//           ("lateness <p50-ms> <p99-ms> <max-ms>") of a 5 ms timer over that second.
#include "FirstPaint.h"
#include "app/Application.h"
#include "app/MainWindow.h"
#include "session/TunnelSession.h"
#include "store/TunnelStore.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
void measureLateness(QObject *context)
{
    constexpr int intervalMs = 5;
    auto *timer = new QTimer(context);
    auto *clock = new QElapsedTimer;
    auto *window = new QElapsedTimer;
    auto *samples = new std::vector<double>;
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(intervalMs);
    clock->start();
    window->start();
    QObject::connect(timer, &QTimer::timeout, context, [clock, window, samples] {
        const double late = double(clock->nsecsElapsed()) / 1e6 - intervalMs;
        clock->restart();
        samples->push_back(std::max(0.0, late));
        if (window->elapsed() < 1000)
            return;
        window->restart();
        std::sort(samples->begin(), samples->end());
        const auto at = [&](double q) { return (*samples)[size_t(q * double(samples->size() - 1))]; };
        std::printf("lateness %.2f %.2f %.2f\n", at(0.5), at(0.99), samples->back());
        std::fflush(stdout);
        samples->clear();
    });
    timer->start();
}
} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    const QByteArray mode = argv[2];
    return Application::main(
        1, argv,
        [mode](Application &delegate) {
            if (mode == "startup") {
                delegate.mainWindow()->installEventFilter(new FirstPaint(&delegate));
            } else if (mode == "flood") {
                delegate.store()->selectedSession()->start();
                measureLateness(&delegate);
            }
        },
        SessionDependencies { {}, CloudflaredLocator({ QString::fromLocal8Bit(argv[1]) }), {} });
}
