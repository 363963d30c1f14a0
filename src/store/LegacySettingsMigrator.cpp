#include "store/LegacySettingsMigrator.h"

#include "base/Logging.h"
#include "store/Preferences.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

void LegacySettingsMigrator::migrateIfNeeded(Preferences &current, std::optional<QVariantMap> legacyDomain)
{
    if (current.isMigrated())
        return;
    const QVariantMap legacy = legacyDomain ? std::move(*legacyDomain) : readLegacyDomain(current);
    current.adoptFormerEdition(legacy);
    qCInfo(lcStore) << "former edition's settings looked at once;" << legacy.size() << "keys found";
}

QVariantMap LegacySettingsMigrator::readLegacyDomain(const Preferences &current)
{
    // The current file is "<configuration directory>/orvanta/orvanta.conf"; the former edition kept its
    // file directly in the configuration directory.
    QDir configuration = QFileInfo(current.fileName()).absoluteDir();
    configuration.cdUp();
    const QString path = configuration.filePath(legacyFileName);
    if (!QFileInfo(path).isFile())
        return {};
    // Only values are read: a QSettings without changes never writes its file.
    const QSettings legacy(path, QSettings::IniFormat);
    QVariantMap domain;
    for (const QString &key : Preferences::formerEditionKeys()) {
        if (legacy.contains(key))
            domain.insert(key, legacy.value(key));
    }
    return domain;
}
