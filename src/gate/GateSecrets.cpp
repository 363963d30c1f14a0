#include "gate/GateSecrets.h"

#include <QRandomGenerator>

#include <algorithm>
#include <array>
#include <crypt.h>
#include <cstring>
#include <memory>

namespace GateSecrets {

bool isUsablePassword(const QString &password)
{
    const QByteArray plain = password.toUtf8();
    // bcrypt reads at most 72 bytes and stops at a NUL: such a password would be cut short silently.
    return !plain.isEmpty() && plain.size() <= 72 && !plain.contains('\0');
}

QByteArray hashPassword(const QString &password)
{
    if (!isUsablePassword(password))
        return {};
    const QByteArray plain = password.toUtf8();
    std::array<char, CRYPT_GENSALT_OUTPUT_SIZE> setting {};
    // No random bytes given: libcrypt takes them from the kernel's generator.
    if (!::crypt_gensalt_rn("$2b$", 10, nullptr, 0, setting.data(), int(setting.size())))
        return {};
    // crypt_data is large (about 32 KB) and holds the password while hashing: on the heap, wiped after.
    auto data = std::make_unique<crypt_data>();
    std::memset(data.get(), 0, sizeof(crypt_data));
    const char *hash = ::crypt_r(plain.constData(), setting.data(), data.get());
    QByteArray result;
    if (hash && std::strncmp(hash, "$2b$10$", 7) == 0)
        result = QByteArray(hash);
    ::explicit_bzero(data.get(), sizeof(crypt_data));
    return result;
}

QByteArray newToken()
{
    std::array<quint32, 8> words {};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.data()), qsizetype(sizeof(words))).toHex();
}

QString generatePassword(int length)
{
    static constexpr char alphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnpqrstuvwxyz23456789";
    constexpr int alphabetSize = int(sizeof(alphabet)) - 1;
    QString password;
    const int size = std::max(length, 12);
    password.reserve(size);
    for (int i = 0; i < size; ++i)
        password.append(QChar::fromLatin1(alphabet[QRandomGenerator::system()->bounded(alphabetSize)]));
    return password;
}

} // namespace GateSecrets
