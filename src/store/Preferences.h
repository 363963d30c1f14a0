#pragma once

#include "gate/GateSettings.h"
#include "model/TunnelProfile.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

class QSettings;

/// \brief Every key of the user's preferences file, its default and how it is read.
///
/// Nothing else in the program names a preferences key. The values are read once and kept in memory;
/// every save writes all of them through DurableFile, never through QSettings' own sync, which trusts
/// writes that a full disk refused. Reading never trusts the file: a hand-edited or damaged value of
/// the wrong type reads as its default.
class Preferences
{
public:
    static inline const QString profilesKey = QStringLiteral("tunnelProfilesV2");
    /// Keeps a stored list that could not be read before it is first replaced.
    static inline const QString unreadableProfilesKey = QStringLiteral("tunnelProfilesV2.unreadable");
    /// The user has closed the notice about that backup.
    static inline const QString unreadableNoticeSeenKey = QStringLiteral("unreadableProfilesNoticeSeen");
    static inline const QString originHostKey = QStringLiteral("originHost");
    static inline const QString originPortKey = QStringLiteral("originPort");
    static inline const QString originSchemeKey = QStringLiteral("originScheme");
    static inline const QString skipTLSVerificationKey = QStringLiteral("skipTLSVerification");
    static inline const QString migrationMarkerKey = QStringLiteral("didMigrateLegacyProductSettingsV1");
    static inline const QString legalAcknowledgementKey = QStringLiteral("legalAcknowledgementVersion");
    /// Per service, under "gateV1/<service id>/": "passwordOn", "visitorLogOn" and, where no Secret
    /// Service keeps it, "password". Apart from the stored list, which keeps its format.
    static inline const QString gateGroup = QStringLiteral("gateV1");
    /// Whether a tunnel whose `cloudflared` drops out is started again; on unless turned off.
    static inline const QString reconnectAutomaticallyKey = QStringLiteral("reconnectAutomatically");

    static inline const QString desktopNotificationsKey = QStringLiteral("desktopNotifications");

    /// Takes every value \a settings holds, including changes it has not written, and its file name.
    /// \a settings is not needed afterwards and must never be synced again.
    explicit Preferences(const QSettings &settings);

    /// The keys the former edition shared with this one, in the order they are carried over.
    static const QStringList &formerEditionKeys();

    /// The settings file behind these preferences.
    const QString &fileName() const { return m_fileName; }

    /// Writes every value to the file. On failure the file stays as it was, the values stay in memory
    /// and \a error says why in Chinese.
    bool save(QString *error);

    /// The saved list as stored: normally the encoded profiles, but anything may be there.
    QVariant storedProfiles() const;
    void setStoredProfiles(const QByteArray &encoded);
    /// Keeps \a value under the backup key unless an earlier backup is already there.
    void backUpUnreadableProfiles(const QVariant &value);
    bool hasUnreadableBackup() const;
    /// Drops the backup together with the record that its notice was seen.
    void dropUnreadableBackup();
    bool unreadableNoticeSeen() const;
    void setUnreadableNoticeSeen(bool seen);

    /// The service made from the flat keys of the former edition when no list is saved.
    /// Gets a new identity on every call.
    TunnelProfile fallbackProfile() const;

    /// Whether the former edition's settings have been looked at; set once, whatever was found.
    bool isMigrated() const;
    /// Copies each of formerEditionKeys() that \a former holds and these preferences lack (in any type,
    /// even false or an empty text), unchanged, then sets the marker and saves.
    bool adoptFormerEdition(const QVariantMap &former);

    /// The version of the legal notice the user accepted; anything unreadable counts as 0.
    qint64 legalAcknowledgementVersion() const;
    /// Records \a version and saves at once.
    bool setLegalAcknowledgementVersion(qint64 version);

    /// The gate switches of service \a id and its password if kept here; all off when nothing is stored.
    GateSettings gateSettings(const QUuid &id) const;
    /// Whether the gate of service \a id was ever set (its password may then be kept elsewhere).
    bool hasGateSettings(const QUuid &id) const;
    /// Keeps \a settings for service \a id; the password only when \a keepPassword (otherwise a stored
    /// one is dropped). Saved with the next save(); the file is readable by its owner only.
    void setGateSettings(const QUuid &id, const GateSettings &settings, bool keepPassword);
    /// Forgets everything of the gate of service \a id (the service was deleted).
    void removeGateSettings(const QUuid &id);

    /// Whether tunnels that come online, fail, drop or come back are told on the desktop; on unless turned off.
    bool desktopNotifications() const;
    /// Records \a enabled and saves at once.
    bool setDesktopNotifications(bool enabled);

    bool reconnectAutomatically() const;
    /// Saved with the next save().
    void setReconnectAutomatically(bool on);

private:
    QVariant value(const QString &key) const { return m_values.value(key); }
    static QString gateKey(const QUuid &id, const char *name);

    QString m_fileName;
    QVariantMap m_values;
};
