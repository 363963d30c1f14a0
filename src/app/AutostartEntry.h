#pragma once

#include <QString>

/// \brief The desktop's autostart entry that starts the program hidden at login:
/// `$XDG_CONFIG_HOME/autostart/orvanta.desktop`.
class AutostartEntry
{
public:
    static QString path();
    static bool isEnabled();
    /// Writes the entry for \a executable or removes it; false, with the reason logged, when that failed.
    static bool setEnabled(bool enabled, const QString &executable);

    /// The entry's Exec value: \a executable quoted as desktop entries require, then --hidden.
    static QString execLine(const QString &executable);
};
