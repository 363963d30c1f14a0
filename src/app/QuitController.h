#pragma once

#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class TunnelSession;

/// \brief Every way of quitting (menu, notice, desktop session, SIGTERM) ends here: the tunnels are
/// asked to stop, the children get a bounded time to exit, the rest are killed, then the program quits.
/// The event loop keeps running during the wait, so the program never freezes while it quits.
class QuitController : public QObject
{
    Q_OBJECT

public:
    using SessionList = std::function<QList<TunnelSession *>()>;

    QuitController(std::function<void()> shutdownAll, SessionList sessions, std::chrono::milliseconds grace,
        QObject *parent = nullptr);

    /// Holds back the application's quit event until the children are settled.
    void interceptApplicationQuit();

    void requestQuit();
    bool isQuitting() const { return m_phase != Phase::running; }

signals:
    void quitStarted();
    /// No child is left, or the remaining ones were killed; the application quits next.
    void childrenSettled();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Phase {
        running,
        waitingForChildren,
        waitingAfterKill,
        done,
    };

    void handlePollTimeout();
    void handleAboutToQuit();
    QList<TunnelSession *> sessionsWithChild() const;
    void finish();

    std::function<void()> m_shutdownAll;
    SessionList m_sessions;
    const std::chrono::milliseconds m_grace;
    Phase m_phase = Phase::running;
    QDeadlineTimer m_deadline;
    QTimer m_pollTimer;
    bool m_quitApplication = false;
};
