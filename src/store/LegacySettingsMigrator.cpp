#include "store/LegacySettingsMigrator.h"

#include "store/SettingsValues.h"

#include <QDir>
#include <QFileInfo>

const QStringList &LegacySettingsMigrator::migratedKeys()
{
    static const QStringList keys{
        QStringLiteral("tunnelProfilesV2"), QStringLiteral("originHost"),
        QStringLiteral("originPort"),       QStringLiteral("originScheme"),
        QStringLiteral("skipTLSVerification"), QStringLiteral("legalAcknowledgementVersion"),
    };
    return keys;
}

void LegacySettingsMigrator::migrateIfNeeded(QSettings &current, std::optional<QVariantMap> legacyDomain)
{
    if (settingsBool(current.value(markerKey)).value_or(false))
        return;
    const std::optional<QVariantMap> legacy = legacyDomain ? std::move(legacyDomain) : readLegacyDomain(current);
    if (legacy) {
        for (const QString &key : migratedKeys()) {
            if (current.contains(key))
                continue;
            const auto it = legacy->constFind(key);
            if (it != legacy->constEnd())
                current.setValue(key, *it);
        }
    }
    current.setValue(markerKey, true);
    current.sync();
}

std::optional<QVariantMap> LegacySettingsMigrator::readLegacyDomain(const QSettings &current)
{
    // The current file is "<configuration directory>/orvanta/orvanta.conf"; the former edition kept its
    // file directly in the configuration directory.
    QDir configuration = QFileInfo(current.fileName()).absoluteDir();
    configuration.cdUp();
    const QString path = configuration.filePath(legacyFileName);
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    // Only values are read: a QSettings without changes never writes its file.
    const QSettings legacy(path, QSettings::IniFormat);
    QVariantMap domain;
    for (const QString &key : migratedKeys()) {
        if (legacy.contains(key))
            domain.insert(key, legacy.value(key));
    }
    return domain;
}
