#pragma once

#include <QByteArray>
#include <QString>

/// \brief A folder that runs out of room, for helper processes that test saving on a full disk.
namespace SmallDisk {

/// Mounts a 256 KiB tmpfs on \a folder in a mount namespace of this process alone (as root or through
/// a user namespace), so it goes when the process ends. False where the system does not allow it.
bool mount(const QByteArray &folder);

/// Fills the file system with \a filler, then gives back exactly one page.
bool fillLeavingOnePage(const QString &filler);

} // namespace SmallDisk
