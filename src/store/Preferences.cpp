#include "store/Preferences.h"

#include "store/SettingsValues.h"

#include <QSettings>

Preferences::Preferences(QSettings *settings)
    : m_settings(settings)
{
    Q_ASSERT(m_settings);
}

const QStringList &Preferences::formerEditionKeys()
{
    static const QStringList keys { profilesKey, originHostKey, originPortKey, originSchemeKey, skipTLSVerificationKey,
        legalAcknowledgementKey };
    return keys;
}

QVariant Preferences::storedProfiles() const
{
    return m_settings->value(profilesKey);
}

void Preferences::setStoredProfiles(const QByteArray &encoded)
{
    m_settings->setValue(profilesKey, encoded);
}

void Preferences::backUpUnreadableProfiles(const QVariant &value)
{
    if (settingsValueIsEmpty(m_settings->value(unreadableProfilesKey)))
        m_settings->setValue(unreadableProfilesKey, value);
}

TunnelProfile Preferences::fallbackProfile() const
{
    TunnelProfile profile;
    profile.id = QUuid::createUuid();
    profile.name = QStringLiteral("默认服务");
    profile.host = settingsText(m_settings->value(originHostKey)).value_or(QStringLiteral("127.0.0.1"));
    profile.portText = settingsText(m_settings->value(originPortKey)).value_or(QStringLiteral("3000"));
    const auto schemeText = settingsText(m_settings->value(originSchemeKey));
    profile.scheme = schemeText ? originSchemeFromRawValue(*schemeText).value_or(OriginScheme::automatic)
                                : OriginScheme::automatic;
    profile.skipTLSVerification = settingsBool(m_settings->value(skipTLSVerificationKey)).value_or(false);
    return profile;
}

bool Preferences::isMigrated() const
{
    return settingsBool(m_settings->value(migrationMarkerKey)).value_or(false);
}

void Preferences::adoptFormerEdition(const QVariantMap &former)
{
    for (const QString &key : formerEditionKeys()) {
        const auto it = former.constFind(key);
        if (it != former.constEnd() && !m_settings->contains(key))
            m_settings->setValue(key, *it);
    }
    m_settings->setValue(migrationMarkerKey, true);
    m_settings->sync();
}

qint64 Preferences::legalAcknowledgementVersion() const
{
    bool ok = false;
    const qint64 version = m_settings->value(legalAcknowledgementKey).toLongLong(&ok);
    return ok ? version : 0;
}

void Preferences::setLegalAcknowledgementVersion(qint64 version)
{
    m_settings->setValue(legalAcknowledgementKey, version);
    m_settings->sync();
}
