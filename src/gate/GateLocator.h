#pragma once

#include <QString>
#include <QStringList>

#include <optional>

/// \brief Where `caddy` is looked for: the copy bundled in the resources first, then every
/// directory of `PATH`, then /usr/local/bin and /usr/bin, as for `cloudflared`.
class GateLocator
{
public:
    GateLocator() = default;
    /// Exactly \a searchPaths, in order (full paths of the executable).
    explicit GateLocator(QStringList searchPaths);

    /// The first search path that is an executable file, or an empty text.
    QString locate() const;

    /// What the user is told where no Caddy is found: one line on how to get it.
    static QString unavailableMessage();

private:
    std::optional<QStringList> m_searchPaths; ///< absent: the default list
};
