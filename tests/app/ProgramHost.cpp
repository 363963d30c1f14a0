// The real program for tests: `ProgramHost <cloudflared> <local port> <name>` starts with --hidden and prints
// "hidden" once up without a window shown, then "shown" each time its window comes to the front. It starts two
// services aimed at the local port, the first renamed to <name>, a change whose save waits far longer
// than any test.
#include "app/Application.h"
#include "app/MainWindow.h"
#include "session/TunnelSession.h"
#include "store/TunnelStore.h"

#include <QApplication>
#include <QWindow>

#include <cstdio>

namespace {
void say(const char *line)
{
    std::puts(line);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    const QString port = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);
    SessionDependencies dependencies { {}, CloudflaredLocator({ QString::fromLocal8Bit(argv[1]) }), {} };
    dependencies.timings.saveDelay = std::chrono::hours(1);
    char hidden[] = "--hidden";
    char *arguments[] = { argv[0], hidden, nullptr };
    const auto ready = [&](Application &delegate) {
        TunnelStore *store = delegate.store();
        store->addProfile();
        for (TunnelSession *session : store->sessions()) {
            TunnelProfile profile = session->profile();
            profile.scheme = OriginScheme::http;
            profile.portText = port;
            profile.name = session == store->sessions().first() ? name : profile.name;
            session->setProfile(profile);
        }
        store->startAll();
        say(delegate.mainWindow() && delegate.mainWindow()->isVisible() ? "visible" : "hidden");
        QObject::connect(qApp, &QGuiApplication::focusWindowChanged, &delegate, [](QWindow *window) {
            if (window)
                say("shown");
        });
    };
    return Application::main(2, arguments, ready, dependencies);
}
