// The real program with its tunnels started at once: `ProgramHost <cloudflared> <local port>`.
#include "app/Application.h"
#include "session/TunnelSession.h"
#include "store/TunnelStore.h"

#include <QString>

int main(int argc, char **argv)
{
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
