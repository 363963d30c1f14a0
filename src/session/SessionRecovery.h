#pragma once

#include "session/RestartSchedule.h"
#include "session/SessionDependencies.h"

#include <QObject>
#include <QStringView>
#include <QTimer>
#include <QUrl>

#include <memory>

class TunnelSession;

/// \brief Brings a session's tunnel back by itself: starts `cloudflared` again after it dropped out
/// of an online tunnel, and at once over HTTP/2 when QUIC does not get through. Part of its
/// session, whose state it sets.
///
/// Every new run has a new public address, so the first address after one that went away is
/// logged as a replacement. Starts that fail are not retried: the reason would only repeat.
class SessionRecovery : public QObject
{
    Q_OBJECT

public:
    SessionRecovery(TunnelSession &session, const SessionDependencies &dependencies);

    /// The user starts the tunnel: earlier restarts no longer count.
    void handleUserStart();
    /// A run is launched; returns whether it asks for HTTP/2.
    bool handleLaunch();
    /// Judges one line of the running child's output; may replace the child.
    void handleLine(QStringView line);
    /// The current run printed its public address \a url; returns the log entry for it.
    QString handleAddress(const QUrl &url);
    void handleRegistered();
    /// The run went online; returns whether it brings a dropped tunnel back.
    bool takeComeback();
    /// The child of an online tunnel exited with \a status without being asked. Returns false when
    /// restarts are off, and the exit is to be reported as it is.
    bool handleDrop(int status);
    /// Cancels a pending restart and the wait for a registration; returns whether a restart was pending.
    bool cancel();
    /// Cancels a pending restart for good: the drop that led to it ends the run as it is.
    void abandon();

private:
    void fallBackToHttp2();
    void handleRestartTimerTimeout();
    void handleRegistrationTimerTimeout();
    /// A run on its way to going online over QUIC, with no connection registered yet.
    bool connectingOverQuic() const;

    TunnelSession &m_session;
    const std::shared_ptr<RunPolicy> m_policy;
    RestartSchedule m_schedule;
    QTimer m_restartTimer;
    QTimer m_registrationTimer;
    bool m_runOverHttp2 = false;
    bool m_replacingAddress = false; ///< an address of this start went away; the next one replaces it
    bool m_comeback = false; ///< this start brings a dropped tunnel back
    int m_dropStatus = 0; ///< of the run whose restart waits
};
