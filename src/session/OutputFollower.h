#pragma once

#include <QString>

class TunnelSession;
struct OutputEvent;

/// \brief Turns what a session's `cloudflared` prints into the session's state and log: the public
/// address, the edge registration that makes the tunnel online, errors and warnings, and a dropped
/// edge connection. Part of its session, whose fields it sets.
class OutputFollower
{
public:
    explicit OutputFollower(TunnelSession &session)
        : m_session(session)
    {
    }

    /// Judges \a text line by line: one line, or more if it holds line breaks.
    void handleText(const QString &text);

private:
    void apply(const OutputEvent &event);
    void markOnlineIfReady();
    void handleConnectionLost();

    TunnelSession &m_session;
};
