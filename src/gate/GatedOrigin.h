#pragma once

#include "gate/GateLocator.h"
#include "gate/GateSettings.h"
#include "gate/VisitorLog.h"
#include "model/Timings.h"

#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QTimer>

class GateProcess;
struct GateConfiguration;

/// \brief The gate of one service: a Caddy child between the tunnel and the local service, and
/// the visitors it has seen.
///
/// A session starts the gate first and the tunnel only once the gate listens; whichever of the
/// two ends, the session stops the other.
class GatedOrigin : public QObject
{
    Q_OBJECT

public:
    GatedOrigin(const Timings &timings, GateLocator locator, QObject *parent = nullptr);
    ~GatedOrigin() override;

    /// Starts a gate in front of \a originURL; ready() or ended() follows. Returns the reason,
    /// in Chinese, when nothing could be started (no Caddy, an unusable password, a file error).
    /// A gate of an earlier start is stopped first.
    QString start(
        const GateSettings &settings, const QString &originURL, const QString &hostHeader, bool skipTLSVerification);
    /// Ends the gate without a report: SIGTERM, SIGKILL after the grace time.
    void stop();
    /// SIGKILL now to every gate child still running.
    void kill();
    /// A gate child runs, or one of an earlier start is still exiting.
    bool hasChild() const;
    bool isListening() const;
    /// Where the tunnel is pointed while the gate listens: "http://127.0.0.1:<port>".
    const QString &url() const { return m_url; }
    /// The running gate child's process id, or 0.
    qint64 processId() const;

    const VisitorLog &visitors() const { return m_visitors; }
    void clearVisitors();

signals:
    void ready(const QString &url);
    /// The gate ended or never came up without being asked to stop: why, in Chinese.
    void ended(const QString &reason);
    void visitorsChanged();

private:
    void detach();
    /// Starts the child; the reason, in Chinese, when it could not be prepared.
    QString launch(const QString &program, GateConfiguration configuration);
    static QString unusablePassword();
    void handleListening();
    void handleExited(int status, const QString &lastError);
    void handleFailedToStart(const QString &description);
    void handleStartupTimeout();
    void handleAccessLogLine(const QString &line);

    const Timings m_timings;
    const GateLocator m_locator;
    QPointer<GateProcess> m_process;
    QList<QPointer<GateProcess>> m_stale; ///< of earlier starts, still exiting
    QTimer m_startupTimer;
    QString m_url;
    VisitorLog m_visitors;
    QFutureWatcher<QByteArray> *m_hashing = nullptr; ///< the hash of this start's password, being made
    // bcrypt takes tens of milliseconds: a restart with the same password reuses the hash.
    QString m_hashedPassword;
    QByteArray m_passwordHash;
};
