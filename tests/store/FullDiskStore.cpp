// Saves the list of a real store into a folder that runs out of room, then makes room again, and prints
// one line per step for the test to read: on a tmpfs of its own where it may mount, else under a
// file-size limit.

#include "SmallDisk.h"
#include "TestSupport.h"
#include "session/TunnelSession.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>

#include <cstdio>

namespace {

void say(bool condition, const char *yes, const char *no)
{
    std::printf("%s\n", condition ? yes : no);
    std::fflush(stdout);
}

QStringList namesOnDisk(const QString &path)
{
    QStringList names;
    const auto list = decodeProfiles(settingsOnDisk(path).value(Preferences::profilesKey).toByteArray());
    for (const TunnelProfile &profile : list.value_or(QList<TunnelProfile>()))
        names << profile.name;
    return names;
}

void renameAll(TunnelStore &store, const QString &name)
{
    for (TunnelSession *session : store.sessions()) {
        TunnelProfile profile = session->profile();
        profile.name = name;
        session->setProfile(profile);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 2;
    const QByteArray folder = argv[1];
    const bool tmpfs = SmallDisk::mount(folder);
    QCoreApplication app(argc, argv);
    const QString dir = QFile::decodeName(folder);
    const QString path = dir + QStringLiteral("/orvanta.conf");
    Preferences preferences(QSettings(path, QSettings::IniFormat));
    TunnelStore store(&preferences,
        SessionDependencies { {}, CloudflaredLocator({ QStringLiteral("/nonexistent/cloudflared") }), {} });
    store.addProfile();
    renameAll(store, QStringLiteral("第一版"));
    store.savePendingChanges();
    if (!store.saveError().isEmpty())
        return 3;

    if (!SmallDisk::runOutOfRoom(dir, tmpfs))
        return 4;
    const QString large(350, u'长'); // more than the one page left, less than QFile's buffer
    renameAll(store, large);
    store.savePendingChanges();
    say(!store.saveError().isEmpty(), "failure reported", "failure hidden");
    say(namesOnDisk(path) == QStringList(2, QStringLiteral("第一版")), "previous list kept", "previous list lost");
    say(store.sessions().size() == 2 && store.sessions().first()->profile().name == large, "list kept in memory",
        "list lost in memory");
    const QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden);
    say(left == QStringList { QStringLiteral("filler"), QStringLiteral("orvanta.conf") }
            || left == QStringList { QStringLiteral("orvanta.conf") },
        "nothing left behind", "leftovers");

    // Room again: the changes that could not be saved are still pending and go with the next save.
    SmallDisk::makeRoom(dir, tmpfs);
    store.savePendingChanges();
    say(store.saveError().isEmpty() && namesOnDisk(path) == QStringList(2, large), "retried and saved",
        "not saved after retry");
    store.shutdownAll();
    return 0;
}
