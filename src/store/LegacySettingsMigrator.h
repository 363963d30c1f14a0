#pragma once

#include <QVariantMap>

#include <optional>

class Preferences;

/// \brief Copies the settings of the former edition into the current ones, once per user.
///
/// Keys already present are never overwritten; the former settings are only read.
class LegacySettingsMigrator
{
public:
    LegacySettingsMigrator() = delete;

    /// The former edition's settings file, in the configuration directory that holds the current file's folder.
    static inline const QString legacyFileName = QStringLiteral("com.tidewell.client.conf");

    /// \a legacyDomain stands for the former settings; when absent they are read from legacyFileName
    /// in the configuration directory of \a current, and a missing file means there are none.
    static void migrateIfNeeded(Preferences &current, std::optional<QVariantMap> legacyDomain = std::nullopt);

private:
    static QVariantMap readLegacyDomain(const Preferences &current);
};
