// Rewrites a settings file through a TunnelStore as fast as it can until it is killed: every service in turn
// is renamed to the next generation, "第 N 代", and each rename saves the whole list. After each save
// it prints one line, so the test can kill it at an arbitrary point of its work.

#include "session/TunnelSession.h"
#include "store/TunnelStore.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSettings>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    TunnelSession::setCloudflaredSearchPaths({QStringLiteral("/nonexistent/cloudflared")});
    QSettings settings(QString::fromLocal8Bit(argv[1]), QSettings::IniFormat);
    TunnelStore store(&settings);

    // Carry on where an earlier writer was cut off, so the file always holds at most two generations.
    const QList<TunnelSession *> &sessions = store.sessions();
    const QString leading = sessions.first()->profile().name;
    qsizetype next = 0;
    while (next < sessions.size() && sessions.at(next)->profile().name == leading)
        ++next;
    static const QRegularExpression generation(QStringLiteral("^第 (\\d+) 代$"));
    int gen = generation.match(leading).captured(1).toInt();
    if (next == sessions.size()) {
        next = 0;
        ++gen;
    }
    for (;; next = 0, ++gen) {
        const QString name = QStringLiteral("第 %1 代").arg(gen);
        for (; next < sessions.size(); ++next) {
            TunnelProfile profile = sessions.at(next)->profile();
            profile.name = name;
            sessions.at(next)->setProfile(profile);
            std::fputs(store.lastSaveFailed() ? "failed\n" : "saved\n", stdout);
            std::fflush(stdout);
        }
    }
}
