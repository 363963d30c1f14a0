// One service behind a gate, for the test of a killed program: `GatedSessionHost <cloudflared> <caddy>
// <local port>` starts it and prints "ready <caddy pid>" once it is online.
#include "TestSupport.h"
#include "gate/GatedOrigin.h"
#include "session/TunnelSession.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 4)
        return 2;
    SessionDependencies dependencies { quickTimings(), CloudflaredLocator({ QString::fromLocal8Bit(argv[1]) }),
        answeringPublicProbe({ true, 404, {} }) };
    dependencies.gateLocator = GateLocator({ QString::fromLocal8Bit(argv[2]) });
    TunnelSession session(localProfile(quint16(QByteArray(argv[3]).toUInt())), nullptr, dependencies);
    session.setGateSettings({ true, true, QStringLiteral("host password") });
    bool reported = false;
    QObject::connect(&session, &TunnelSession::changed, &application, [&session, &reported] {
        if (!reported && session.status().is(TunnelStatus::Kind::online)) {
            reported = true;
            std::printf("ready %lld\n", session.gate()->processId());
            std::fflush(stdout);
        }
    });
    session.start();
    return QCoreApplication::exec();
}
