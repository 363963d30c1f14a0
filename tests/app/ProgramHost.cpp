// The real program for tests:
//  `ProgramHost <cloudflared> <local port>`: its tunnels started as soon as its window is up;
//  `ProgramHost hidden`: started with --hidden; prints "hidden" once up without a window shown, then "shown"
//  each time the window is shown.
//  `ProgramHost rename <name>`: renames its first service, whose save waits far longer than the test, and
//  prints "renamed".
#include "app/Application.h"
#include "app/MainWindow.h"
#include "session/TunnelSession.h"
#include "store/TunnelStore.h"

#include <QApplication>
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
        if (event->type() == QEvent::Show && qobject_cast<MainWindow *>(watched)) {
            std::puts("shown");
            std::fflush(stdout);
        }
        return QObject::eventFilter(watched, event);
    }
};
} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "hidden") == 0) {
        char hidden[] = "--hidden";
        char *arguments[] = { argv[0], hidden, nullptr };
        return Application::main(2, arguments, [](Application &delegate) {
            std::puts(delegate.mainWindow() && delegate.mainWindow()->isVisible() ? "visible" : "hidden");
            std::fflush(stdout);
            qApp->installEventFilter(new ShowReporter(&delegate));
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
