#pragma once

#include "model/TunnelProfile.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

// What a settings file holds on disk. QSettings shares unsaved values between every instance on the same
// path in one process, so the file is read through a private copy.
QVariant valueOnDisk(const QString &settingsPath, const QString &key);
QVariantMap allOnDisk(const QString &settingsPath);
bool keyOnDisk(const QString &settingsPath, const QString &key);
/// The list stored under "tunnelProfilesV2" on disk, or nothing when it is absent or unreadable.
std::optional<QList<TunnelProfile>> profilesOnDisk(const QString &settingsPath);

/// Writes \a values into the INI file at \a path and saves it.
void writeSettingsFile(const QString &path, const QVariantMap &values);

TunnelProfile makeProfile(const QString &name, const QString &portText = QStringLiteral("3000"));
