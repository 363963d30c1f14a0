// Saves into a folder that has room for one more page only, and reports what became of the file that was
// there: on a tmpfs of its own (in a private mount namespace) where it may mount, else under a file-size
// limit. Prints one line per step for the test to read.

#include "SmallDisk.h"
#include "base/DurableFile.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>

#include <cstdio>
#include <unistd.h>

namespace {

void say(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

QVariantMap values(int payload)
{
    return { { QStringLiteral("tunnelProfilesV2"), QByteArray(payload, 'p') },
        { QStringLiteral("legalAcknowledgementVersion"), 2 } };
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
    QString error;
    if (!DurableFile::writeSettings(path, values(100), &error))
        return 3;

    if (!SmallDisk::runOutOfRoom(dir, tmpfs))
        return 4;
    say(DurableFile::writeSettings(path, values(40000), &error) ? "settings saved" : "settings failed");
    say(DurableFile::write(path, QByteArray(40000, 'f'), 0600, &error) ? "file saved" : "file failed");

    const QSettings reread(path, QSettings::IniFormat);
    say(reread.value(QStringLiteral("tunnelProfilesV2")).toByteArray() == QByteArray(100, 'p') ? "original kept"
                                                                                               : "original lost");
    const QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden);
    say(left == QStringList { QStringLiteral("filler"), QStringLiteral("orvanta.conf") }
                || left == QStringList { QStringLiteral("orvanta.conf") }
            ? "nothing left behind"
            : "leftovers");
    return 0;
}
