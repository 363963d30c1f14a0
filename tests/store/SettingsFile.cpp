#include "SettingsFile.h"

#include <QFile>
#include <QSettings>
#include <QUuid>

namespace {

template<typename Read>
auto readCopy(const QString &settingsPath, Read read)
{
    const QString copy = settingsPath + QStringLiteral(".copy-") + QUuid::createUuid().toString(QUuid::Id128);
    QFile::copy(settingsPath, copy);
    auto result = [&] {
        const QSettings settings(copy, QSettings::IniFormat);
        return read(settings);
    }();
    QFile::remove(copy);
    return result;
}

} // namespace

QVariant valueOnDisk(const QString &settingsPath, const QString &key)
{
    return readCopy(settingsPath, [&key](const QSettings &settings) { return settings.value(key); });
}

QVariantMap allOnDisk(const QString &settingsPath)
{
    return readCopy(settingsPath, [](const QSettings &settings) {
        QVariantMap values;
        for (const QString &key : settings.allKeys())
            values.insert(key, settings.value(key));
        return values;
    });
}

bool keyOnDisk(const QString &settingsPath, const QString &key)
{
    return readCopy(settingsPath, [&key](const QSettings &settings) { return settings.contains(key); });
}

std::optional<QList<TunnelProfile>> profilesOnDisk(const QString &settingsPath)
{
    const QVariant value = valueOnDisk(settingsPath, QStringLiteral("tunnelProfilesV2"));
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return decodeProfiles(value.toByteArray());
}

void writeSettingsFile(const QString &path, const QVariantMap &values)
{
    QSettings settings(path, QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
}

TunnelProfile makeProfile(const QString &name, const QString &portText)
{
    return {QUuid::createUuid(), name, TunnelProvider::cloudflare, OriginScheme::http, QStringLiteral("127.0.0.1"),
            portText, false};
}
