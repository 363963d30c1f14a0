#pragma once

#include <QString>

class QSettings;

/// \brief Every key of the user's preferences file, its default and how it is read.
///
/// Nothing else in the program names a preferences key or touches QSettings.
class Preferences
{
public:
    static inline const QString legalAcknowledgementKey = QStringLiteral("legalAcknowledgementVersion");

    /// \a settings must outlive the preferences.
    explicit Preferences(QSettings *settings);

    /// The version of the legal notice the user accepted; anything unreadable counts as 0.
    qint64 legalAcknowledgementVersion() const;
    /// Records \a version and writes the file at once.
    void setLegalAcknowledgementVersion(qint64 version);

    /// The settings file behind these preferences.
    QSettings *settings() const { return m_settings; }

private:
    QSettings *m_settings;
};
