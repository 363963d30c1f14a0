#include "app/QuitController.h"

#include "base/Logging.h"
#include "session/TunnelSession.h"

#include <QCoreApplication>
#include <QEvent>

namespace {
constexpr std::chrono::milliseconds pollInterval { 25 };
// After SIGKILL the exit still has to be handled, which removes the child's runtime directory.
constexpr std::chrono::milliseconds settleAfterKill { 1000 };
} // namespace

QuitController::QuitController(
    std::function<void()> shutdownAll, SessionList sessions, std::chrono::milliseconds grace, QObject *parent)
    : QObject(parent)
    , m_shutdownAll(std::move(shutdownAll))
    , m_sessions(std::move(sessions))
    , m_grace(grace)
{
    m_pollTimer.setInterval(pollInterval);
    connect(&m_pollTimer, &QTimer::timeout, this, &QuitController::handlePollTimeout);
}

void QuitController::interceptApplicationQuit()
{
    m_quitApplication = true;
    qApp->installEventFilter(this);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &QuitController::handleAboutToQuit);
}

bool QuitController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == qApp && event->type() == QEvent::Quit && m_phase != Phase::done) {
        requestQuit();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void QuitController::requestQuit()
{
    if (m_phase != Phase::running)
        return;
    m_phase = Phase::waitingForChildren;
    emit quitStarted();
    m_shutdownAll();
    m_deadline = QDeadlineTimer(m_grace);
    m_pollTimer.start();
    handlePollTimeout();
}

QList<TunnelSession *> QuitController::sessionsWithChild() const
{
    QList<TunnelSession *> result;
    for (TunnelSession *session : m_sessions()) {
        if (session->hasChild())
            result.append(session);
    }
    return result;
}

void QuitController::handlePollTimeout()
{
    const QList<TunnelSession *> remaining = sessionsWithChild();
    if (remaining.isEmpty()) {
        finish();
        return;
    }
    if (!m_deadline.hasExpired())
        return;
    if (m_phase == Phase::waitingForChildren) {
        qCWarning(lcApp) << remaining.size() << "tunnels did not end in time and are killed";
        for (TunnelSession *session : remaining)
            session->killChild();
        m_phase = Phase::waitingAfterKill;
        m_deadline = QDeadlineTimer(settleAfterKill);
        return;
    }
    finish();
}

void QuitController::finish()
{
    if (m_phase == Phase::done)
        return;
    m_phase = Phase::done;
    m_pollTimer.stop();
    emit childrenSettled();
    if (m_quitApplication)
        QCoreApplication::quit();
}

void QuitController::handleAboutToQuit()
{
    // Reached without the graceful path only when the loop was ended directly (exit()): the wait
    // is no longer possible, so ask and then insist at once.
    if (m_phase == Phase::done)
        return;
    m_phase = Phase::done;
    m_pollTimer.stop();
    m_shutdownAll();
    for (TunnelSession *session : sessionsWithChild())
        session->killChild();
}
