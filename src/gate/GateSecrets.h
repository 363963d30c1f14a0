#pragma once

#include <QByteArray>
#include <QString>

/// \brief The secrets of a password gate: the stored hash of the password, the cookie token of one
/// run of the gate, and passwords made up for the user.
namespace GateSecrets {

/// Not empty, at most 72 bytes in UTF-8 and without NUL: what bcrypt takes whole.
bool isUsablePassword(const QString &password);

/// A bcrypt hash ("$2b$", cost 10, fresh salt) of \a password, made here so that the password
/// itself never reaches the gate's command line, environment or files. Empty if hashing failed.
QByteArray hashPassword(const QString &password);

/// 32 random bytes from the system's generator, in lower-case hexadecimal (64 characters).
QByteArray newToken();

/// A random password of \a length characters (at least 12) from letters and digits that cannot
/// be mistaken for one another.
QString generatePassword(int length = 16);

} // namespace GateSecrets
