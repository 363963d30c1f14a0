#pragma once

#include "gate/GateConfiguration.h"
#include "session/OutputLineSplitter.h"

#include <QObject>
#include <QProcess>
#include <QTimer>

#include <chrono>

/// \brief One Caddy child in front of a local service: its private runtime directory (mode 0700)
/// with the configuration file (mode 0600), its environment and its two streams.
///
/// Caddy's HOME, XDG directories and storage all lie in the runtime directory, which goes when the
/// child does. Standard output carries the access log, one JSON line per request; standard error
/// carries Caddy's own log, which tells when it listens and why it failed. The child dies with the
/// program (parent-death signal), like every child of ours.
class GateProcess : public QObject
{
    Q_OBJECT

public:
    explicit GateProcess(std::chrono::milliseconds killGrace, QObject *parent = nullptr);
    /// A child still running is killed and handed to a ChildReaper: nothing waits for it here.
    ~GateProcess() override;

    /// Creates "orvanta-gate-<UUID>", picks a loopback port no gate of this program has had, and
    /// writes \a configuration (with that port and directory filled in) to "gate.json".
    /// On failure returns false with the reason in \a error and leaves nothing behind.
    bool prepare(GateConfiguration &configuration, QString *error);
    QString configurationPath() const;
    QString runtimeDirectory() const { return m_runtimeDirectory; }

    /// Starts \a program ("caddy"). The outcome arrives as listening(), exited() or failedToStart().
    void start(const QString &program);

    bool isRunning() const { return m_process->state() != QProcess::NotRunning; }
    bool isListening() const { return m_listening; }
    qint64 processId() const { return m_pid; }

    /// SIGTERM, then SIGKILL if the child still runs after the grace time.
    void stop();
    /// SIGKILL now, if the child still runs.
    void kill();

    /// A free port on 127.0.0.1 that no gate of this program has been given before: Caddy listens
    /// with SO_REUSEPORT, so a gate still exiting would silently share a port handed out again.
    static quint16 freshPort();

signals:
    /// Caddy serves: requests to the port reach the gate from now on.
    void listening();
    /// One line of the access log.
    void accessLogLine(const QString &line);
    void failedToStart(const QString &description);
    /// The child ended: exit code or signal number, and the last error Caddy reported (may be empty).
    /// The runtime directory is gone by then.
    void exited(int status, const QString &lastError);

private:
    void handleStandardErrorLine(const QString &line);
    void handleProcessFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void handleProcessErrorOccurred(QProcess::ProcessError error);
    void removeRuntimeDirectory();

    QProcess *m_process; ///< a child of this object until a reaper takes it over
    OutputLineSplitter m_standardOutput;
    OutputLineSplitter m_standardError;
    QTimer m_killTimer;
    QString m_runtimeDirectory;
    QString m_lastError;
    bool m_listening = false;
    qint64 m_pid = 0;
};
