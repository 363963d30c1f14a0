#pragma once

#include "model/TunnelProfile.h"
#include "session/OutputLineSplitter.h"

#include <QObject>
#include <QProcess>
#include <QTimer>

#include <chrono>

/// \brief One `cloudflared` child: its private runtime directory, command line, environment and
/// output streams. Removes the runtime directory once the child is gone, whatever way it went.
///
/// Every child gets SIGKILL as parent-death signal, so no tunnel outlives the program. The signal
/// is tied to the thread that starts the child: start it from the GUI thread.
class CloudflaredProcess : public QObject
{
    Q_OBJECT

public:
    explicit CloudflaredProcess(std::chrono::milliseconds killGrace, QObject *parent = nullptr);
    /// A child still running is killed and handed to a ChildReaper: nothing waits for it here.
    ~CloudflaredProcess() override;

    /// Creates "orvanta-runtime-<UUID>" (mode 0700) with "empty.yml" and the owner record in it, in the
    /// user's runtime directory or a temporary directory no one else can change (see RuntimeParent).
    /// On failure returns false with the system's description in \a error and leaves nothing behind.
    bool prepare(QString *error);
    QString configurationPath() const;

    /// The quick-tunnel command line, options in cloudflared's documented order; \a http2 where QUIC
    /// does not get through.
    static QStringList tunnelArguments(const QString &configurationPath, const QString &origin,
        const QString &hostHeader, OriginScheme resolvedScheme, bool skipTLSVerification, bool http2);

    /// Starts \a program in the runtime directory. The outcome arrives as exited() or failedToStart().
    void start(const QString &program, const QStringList &arguments);

    bool isRunning() const { return m_process->state() != QProcess::NotRunning; }

    /// SIGTERM.
    void terminate();
    /// SIGTERM, then SIGKILL if this very child still runs after the grace time.
    void stop();
    /// SIGKILL now, if this child still runs.
    void kill();

    /// Makes every child started by \a process die with this program and keep no descriptor but
    /// standard input, output and error: whatever this program inherited stays here.
    static void confineChildren(QProcess &process);

signals:
    /// One complete line of either stream, in the order the streams are read.
    void lineReceived(const QString &line);
    /// The child could not be started; the runtime directory is already gone.
    void failedToStart(const QString &description);
    /// The child ended: exit code, or the number of the signal that ended it. Sent after the last
    /// line of output and after the runtime directory has been removed.
    void exited(int status);

private:
    /// Exactly the four variables a child gets; nothing is inherited.
    static QProcessEnvironment environment(const QString &runtimeDirectory);

    void handleStandardOutputReady();
    void handleStandardErrorReady();
    void handleProcessFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void handleProcessErrorOccurred(QProcess::ProcessError error);
    void handleKillTimerTimeout();
    void emitLine(const QString &line);
    void removeRuntimeDirectory();

    QProcess *m_process; ///< a child of this object until a reaper takes it over
    OutputLineSplitter m_standardOutput;
    OutputLineSplitter m_standardError;
    QTimer m_killTimer;
    QString m_runtimeDirectory;
    qint64 m_pid = 0; ///< names the child in the log, also after it has gone
};
