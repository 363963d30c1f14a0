#pragma once

#include <QByteArray>
#include <QString>

/// \brief A folder that runs out of room, for helper processes that test saving on a full disk.
namespace SmallDisk {

/// Mounts a 256 KiB tmpfs on \a folder in a mount namespace of this process alone (as root or through
/// a user namespace), so it goes when the process ends. False where the system does not allow it.
bool mount(const QByteArray &folder);

/// Leaves room for one more page in \a folder: on the tmpfs of mount() by filling it, else through a
/// file-size limit of one page for this process. Says which on standard output ("mode tmpfs"/"mode rlimit").
bool runOutOfRoom(const QString &folder, bool tmpfs);

/// Gives back what runOutOfRoom() took.
void makeRoom(const QString &folder, bool tmpfs);

} // namespace SmallDisk
