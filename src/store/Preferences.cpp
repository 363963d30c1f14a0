#include "store/Preferences.h"

#include "base/DurableFile.h"
#include "base/Logging.h"
#include "store/SettingsValues.h"
#include "store/WriteCheck.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

Preferences::Preferences(const QSettings &settings)
    : m_fileName(settings.fileName())
{
    for (const QString &key : settings.allKeys())
        m_values.insert(key, settings.value(key));
}

const QStringList &Preferences::formerEditionKeys()
{
    static const QStringList keys { profilesKey, originHostKey, originPortKey, originSchemeKey, skipTLSVerificationKey,
        legalAcknowledgementKey };
    return keys;
}

bool Preferences::save(QString *error)
{
    QString reason;
    if (QDir().mkpath(QFileInfo(m_fileName).absolutePath())
        && DurableFile::writeSettings(m_fileName, m_values, &reason))
        return true;
    // A scratch write names the cause (a missing folder, no room, no permission) where it can.
    const QString cause = unwritableReason(m_fileName);
    if (!cause.isEmpty())
        reason = cause;
    qCWarning(lcStore).noquote() << "could not save" << m_fileName << ":" << reason;
    if (error)
        *error = reason;
    return false;
}

QVariant Preferences::storedProfiles() const
{
    return value(profilesKey);
}

void Preferences::setStoredProfiles(const QByteArray &encoded)
{
    m_values.insert(profilesKey, encoded);
}

void Preferences::backUpUnreadableProfiles(const QVariant &stored)
{
    if (!hasUnreadableBackup())
        m_values.insert(unreadableProfilesKey, stored);
}

bool Preferences::hasUnreadableBackup() const
{
    return !settingsValueIsEmpty(value(unreadableProfilesKey));
}

void Preferences::dropUnreadableBackup()
{
    m_values.remove(unreadableProfilesKey);
    m_values.remove(unreadableNoticeSeenKey);
}

bool Preferences::unreadableNoticeSeen() const
{
    return settingsBool(value(unreadableNoticeSeenKey)).value_or(false);
}

void Preferences::setUnreadableNoticeSeen(bool seen)
{
    if (seen)
        m_values.insert(unreadableNoticeSeenKey, true);
    else
        m_values.remove(unreadableNoticeSeenKey);
}

TunnelProfile Preferences::fallbackProfile() const
{
    TunnelProfile profile;
    profile.id = QUuid::createUuid();
    profile.name = QStringLiteral("默认服务");
    profile.host = settingsText(value(originHostKey)).value_or(QStringLiteral("127.0.0.1"));
    profile.portText = settingsText(value(originPortKey)).value_or(QStringLiteral("3000"));
    const auto schemeText = settingsText(value(originSchemeKey));
    profile.scheme = schemeText ? originSchemeFromRawValue(*schemeText).value_or(OriginScheme::automatic)
                                : OriginScheme::automatic;
    profile.skipTLSVerification = settingsBool(value(skipTLSVerificationKey)).value_or(false);
    return profile;
}

bool Preferences::isMigrated() const
{
    return settingsBool(value(migrationMarkerKey)).value_or(false);
}

bool Preferences::adoptFormerEdition(const QVariantMap &former)
{
    for (const QString &key : formerEditionKeys()) {
        const auto it = former.constFind(key);
        if (it != former.constEnd() && !m_values.contains(key))
            m_values.insert(key, *it);
    }
    m_values.insert(migrationMarkerKey, true);
    return save(nullptr);
}

qint64 Preferences::legalAcknowledgementVersion() const
{
    bool ok = false;
    const qint64 version = value(legalAcknowledgementKey).toLongLong(&ok);
    return ok ? version : 0;
}

bool Preferences::setLegalAcknowledgementVersion(qint64 version)
{
    m_values.insert(legalAcknowledgementKey, version);
    return save(nullptr);
}

QString Preferences::gateKey(const QUuid &id, const char *name)
{
    return gateGroup + u'/' + id.toString(QUuid::WithoutBraces).toUpper() + u'/' + QLatin1StringView(name);
}

GateSettings Preferences::gateSettings(const QUuid &id) const
{
    GateSettings settings;
    settings.passwordOn = settingsBool(value(gateKey(id, "passwordOn"))).value_or(false);
    settings.visitorLogOn = settingsBool(value(gateKey(id, "visitorLogOn"))).value_or(false);
    settings.password = settingsText(value(gateKey(id, "password"))).value_or(QString());
    return settings;
}

bool Preferences::hasGateSettings(const QUuid &id) const
{
    return m_values.contains(gateKey(id, "passwordOn"));
}

void Preferences::setGateSettings(const QUuid &id, const GateSettings &settings, bool keepPassword)
{
    m_values.insert(gateKey(id, "passwordOn"), settings.passwordOn);
    m_values.insert(gateKey(id, "visitorLogOn"), settings.visitorLogOn);
    if (keepPassword && !settings.password.isEmpty())
        m_values.insert(gateKey(id, "password"), settings.password);
    else
        m_values.remove(gateKey(id, "password"));
}

void Preferences::removeGateSettings(const QUuid &id)
{
    for (const char *name : { "passwordOn", "visitorLogOn", "password" })
        m_values.remove(gateKey(id, name));
}

bool Preferences::desktopNotifications() const
{
    return settingsBool(value(desktopNotificationsKey)).value_or(true);
}

bool Preferences::setDesktopNotifications(bool enabled)
{
    m_values.insert(desktopNotificationsKey, enabled);
    return save(nullptr);
}

bool Preferences::reconnectAutomatically() const
{
    return settingsBool(value(reconnectAutomaticallyKey)).value_or(true);
}

void Preferences::setReconnectAutomatically(bool on)
{
    m_values.insert(reconnectAutomaticallyKey, on);
}
