#pragma once

#include <QString>

#include <chrono>
#include <optional>
#include <sys/types.h>

/// \brief Where a child's private runtime directory may be made: a folder nobody else can change.
///
/// Whoever can rename entries in that folder can swap a child's configuration, working directory
/// and HOME between their creation and the child's start.
namespace RuntimeParent {

/// The user's runtime directory (XDG_RUNTIME_DIR) when it exists, is the user's and has mode 0700;
/// otherwise the temporary directory if isSafeTemporary() holds for it. Absent with a message for
/// the user in \a error when neither will do.
std::optional<QString> choose(QString *error);

/// A folder owned by \a user (or by root) that no one else may write to, or that has the sticky bit.
bool isSafeTemporary(uid_t owner, mode_t mode, uid_t user);

/// The file in each runtime directory that names the process that made it: "<pid> <start time>".
inline const QString ownerFileName = QStringLiteral("owner");

/// Records this process in \a directory as its owner. On failure \a error gets the system's description.
bool recordOwner(const QString &directory, QString *error);

/// Removes the runtime directories of this user, in every folder choose() may pick, whose owner has
/// ended (a killed program leaves them). Returns how many went.
int removeAbandoned();
/// The same in \a parent only, for directories owned by \a user. Directories without a readable owner
/// file (made by an older version, or being made this instant) go once \a unownedAge has passed.
int removeAbandonedIn(const QString &parent, uid_t user, std::chrono::seconds unownedAge);

} // namespace RuntimeParent
