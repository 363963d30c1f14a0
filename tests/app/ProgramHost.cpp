// The real program for tests:
//  `ProgramHost <cloudflared> <local port>`: its tunnels started as soon as its window is up;
//  `ProgramHost window`: its window hidden at once; prints "hidden", then "shown" each time it comes back;
//  `ProgramHost rename <name>`: renames its first service, whose save waits far longer than the test, and
//  prints "renamed".
#include "app/Application.h"
#include "app/MainWindow.h"
#include "session/TunnelSession.h"
#include "store/TunnelStore.h"

#include <QEvent>
#include <QString>

#include <cstdio>
#include <cstring>

namespace {
class ShowReporter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            std::puts("shown");
            std::fflush(stdout);
        }
        return QObject::eventFilter(watched, event);
    }
};
} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "window") == 0) {
        return Application::main(1, argv, [](Application &delegate) {
            delegate.mainWindow()->hide();
            delegate.mainWindow()->installEventFilter(new ShowReporter(&delegate));
            std::puts("hidden");
            std::fflush(stdout);
        });
    }
    if (argc == 3 && std::strcmp(argv[1], "rename") == 0) {
        const QString name = QString::fromLocal8Bit(argv[2]);
        SessionDependencies dependencies { {}, CloudflaredLocator({ QStringLiteral("/nonexistent/cloudflared") }), {} };
        dependencies.timings.saveDelay = std::chrono::hours(1);
        return Application::main(
            1, argv,
            [name](Application &delegate) {
                TunnelSession *first = delegate.store()->sessions().first();
                TunnelProfile profile = first->profile();
                profile.name = name;
                first->setProfile(profile);
                std::puts("renamed");
                std::fflush(stdout);
            },
            dependencies);
    }
    if (argc < 3)
        return 2;
    const QString port = QString::fromLocal8Bit(argv[2]);
    return Application::main(
        1, argv,
        [port](Application &delegate) {
            TunnelStore *store = delegate.store();
            store->addProfile();
            for (TunnelSession *session : store->sessions()) {
                TunnelProfile profile = session->profile();
                profile.scheme = OriginScheme::http;
                profile.portText = port;
                session->setProfile(profile);
            }
            store->startAll();
        },
        SessionDependencies { {}, CloudflaredLocator({ QString::fromLocal8Bit(argv[1]) }), {} });
}
