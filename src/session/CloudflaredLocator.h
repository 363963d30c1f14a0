#pragma once

#include <QString>
#include <QStringList>

#include <optional>

/// \brief Where `cloudflared` is looked for: the bundled copy in the resources first, then every
/// directory of `PATH`, then /usr/local/bin and /usr/bin.
class CloudflaredLocator
{
public:
    /// The default search list, taken from the resources and `PATH` as they are at each search.
    CloudflaredLocator() = default;
    /// Exactly \a searchPaths, in order (full paths of the executable).
    explicit CloudflaredLocator(QStringList searchPaths);

    /// The first search path that is an executable file, or an empty text.
    QString locate() const;

    /// The bundled copy, \a pathVariable's directories in order, then the two system directories;
    /// each file once. Empty `PATH` entries stand for the working directory and are skipped.
    static QStringList defaultSearchPaths(const QString &resourceDirectory, const QString &pathVariable);

private:
    QStringList searchPaths() const;

    std::optional<QStringList> m_searchPaths; ///< absent: the default list
};
