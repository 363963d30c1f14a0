// Renames the services of a settings file through a TunnelStore until it is killed, each rename saving the
// whole list, and prints a line after each save so that the test can kill it at any point of its work.

#include "session/TunnelSession.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"

#include <QCoreApplication>
#include <QSettings>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    Preferences preferences(QSettings(QString::fromLocal8Bit(argv[1]), QSettings::IniFormat));
    TunnelStore store(&preferences,
        SessionDependencies { {}, CloudflaredLocator({ QStringLiteral("/nonexistent/cloudflared") }), {} });
    for (qint64 generation = 0;; ++generation) {
        for (TunnelSession *session : store.sessions()) {
            TunnelProfile profile = session->profile();
            profile.name = QStringLiteral("%1-%2").arg(QCoreApplication::applicationPid()).arg(generation);
            session->setProfile(profile);
            store.savePendingChanges();
            std::fputs(!store.saveError().isEmpty() ? "failed\n" : "saved\n", stdout);
            std::fflush(stdout);
        }
    }
}
