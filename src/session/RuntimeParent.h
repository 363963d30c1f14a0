#pragma once

#include <QString>

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

} // namespace RuntimeParent
