#pragma once

#include <QByteArrayView>
#include <QString>
#include <QVariantMap>

/// \brief Writes that either reach the disk whole or leave the previous file untouched.
///
/// A full disk, a quota or a file-size limit makes a buffered write fail quietly in places that
/// trust QSaveFile::commit(); these check every write, the flush and the sync before they replace
/// anything, and say why they did not.
namespace DurableFile {

/// Replaces \a path with exactly \a data (mode \a mode) through a temporary file in the same folder.
/// On failure returns false with the system's description in \a error and leaves \a path as it was.
bool write(const QString &path, QByteArrayView data, int mode, QString *error);

/// Replaces the INI settings file \a path with \a values: QSettings writes them to a file of its own
/// beside \a path, which is read back from disk and compared before it takes \a path's place.
bool writeSettings(const QString &path, const QVariantMap &values, QString *error);

/// Removes what killed saves of \a path left beside it: Qt's and our own temporary files and a lock
/// file without a live owner. Only files owned by this user are touched.
void removeLeftovers(const QString &path);

} // namespace DurableFile
