#pragma once

#include "model/TunnelProfile.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

class QSettings;

/// \brief Every key of the user's preferences file, its default and how it is read.
///
/// Nothing else in the program names a preferences key or touches a value in QSettings. Reading never
/// trusts the file: a hand-edited or damaged value of the wrong type reads as its default.
class Preferences
{
public:
    static inline const QString profilesKey = QStringLiteral("tunnelProfilesV2");
    /// Keeps a stored list that could not be read before it is first replaced.
    static inline const QString unreadableProfilesKey = QStringLiteral("tunnelProfilesV2.unreadable");
    static inline const QString originHostKey = QStringLiteral("originHost");
    static inline const QString originPortKey = QStringLiteral("originPort");
    static inline const QString originSchemeKey = QStringLiteral("originScheme");
    static inline const QString skipTLSVerificationKey = QStringLiteral("skipTLSVerification");
    static inline const QString migrationMarkerKey = QStringLiteral("didMigrateLegacyProductSettingsV1");
    static inline const QString legalAcknowledgementKey = QStringLiteral("legalAcknowledgementVersion");

    /// \a settings must outlive the preferences.
    explicit Preferences(QSettings *settings);

    /// The keys the former edition shared with this one, in the order they are carried over.
    static const QStringList &formerEditionKeys();

    /// The saved list as stored: normally the encoded profiles, but anything may be there.
    QVariant storedProfiles() const;
    void setStoredProfiles(const QByteArray &encoded);
    /// Keeps \a value under the backup key unless an earlier backup is already there.
    void backUpUnreadableProfiles(const QVariant &value);

    /// The service made from the flat keys of the former edition when no list is saved.
    /// Gets a new identity on every call.
    TunnelProfile fallbackProfile() const;

    /// Whether the former edition's settings have been looked at; set once, whatever was found.
    bool isMigrated() const;
    /// Copies each of formerEditionKeys() that \a former holds and these preferences lack (in any type,
    /// even false or an empty text), unchanged, then sets the marker and writes the file.
    void adoptFormerEdition(const QVariantMap &former);

    /// The version of the legal notice the user accepted; anything unreadable counts as 0.
    qint64 legalAcknowledgementVersion() const;
    /// Records \a version and writes the file at once.
    void setLegalAcknowledgementVersion(qint64 version);

    /// The settings file behind these preferences.
    QSettings *settings() const { return m_settings; }

private:
    QSettings *m_settings;
};
