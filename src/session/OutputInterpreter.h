#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <QUrl>

/// \brief What one line of `cloudflared` output means to its session.
struct OutputEvent
{
    enum class Kind {
        ignored,
        publicUrl, ///< the tunnel's public address, in url
        edgeRegistered, ///< a connection to the edge is registered
        addressRequested, ///< the public address is being requested
        error, ///< text holds the readable line
        warning, ///< text holds the readable line
        shutdownSignalled, ///< cloudflared got a signal and winds down
    };

    Kind kind = Kind::ignored;
    QUrl url;
    QString text;
    bool originUnreachable = false; ///< an error saying the edge cannot reach the local service
    bool connectionLost = false; ///< an edge connection dropped; cloudflared retries on its own

    bool operator==(const OutputEvent &) const = default;
};

/// \brief Reads `cloudflared` output: cuts text into lines and judges each one on its own.
/// Holds no state; the session applies the events.
class OutputInterpreter
{
public:
    /// The trimmed, non-empty lines of \a text, split at every line break Unicode knows.
    static QList<QStringView> splitLines(QStringView text);

    /// What \a line means. A public address counts only while \a publicUrlKnown is false; after
    /// that, a line holding one is judged by the other markers.
    static OutputEvent interpret(QStringView line, bool publicUrlKnown);

    /// The log text of an error or warning line: the reason from its error field, else the
    /// message after the level tag.
    static QString readableLogLine(QStringView line);

    /// The log entry for an address request.
    static QString requestMessage();

    /// Whether \a line is one of the notices every start prints on common Linux set-ups (no ICMP
    /// proxy, a small UDP receive buffer); they change nothing for a quick tunnel.
    static bool isRoutineNotice(QStringView line);
};
