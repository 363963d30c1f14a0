#pragma once

#include <QList>
#include <QObject>

#include <chrono>
#include <functional>

class QNetworkAccessManager;

/// \brief What every session's probes share: one network manager for local services (never through
/// a proxy), one for public addresses (the user's proxy settings), and a bound on the health checks
/// in flight at once.
///
/// A network manager holds a thread and pipes of its own; one per probe exhausts the descriptors of a
/// program with hundreds of services. Lives on the GUI thread, as long as the sessions that use it.
class ProbeNetwork : public QObject
{
    Q_OBJECT

public:
    using Ticket = quint64;

    explicit ProbeNetwork(int maxChecksInFlight = 8, QObject *parent = nullptr);
    ~ProbeNetwork() override;

    /// Created on first use.
    QNetworkAccessManager *localManager();
    QNetworkAccessManager *publicManager();

    /// Runs \a check from the event loop as soon as fewer than the bound are in flight, after the
    /// checks queued before it; none is ever dropped. Either way the check holds its place until release(), which
    /// also takes a check that still waits out of the queue.
    Ticket enqueue(std::function<void()> check);
    void release(Ticket ticket);

    int inFlight() const { return int(m_running.size()); }
    int waiting() const { return int(m_waiting.size()); }

    /// How long a check that begins now should wait so that checks beginning together (all services
    /// at start-up) start \a spacing apart; a check that begins on its own starts at once.
    std::chrono::milliseconds firstCheckDelay(std::chrono::milliseconds spacing);

private:
    struct Waiting
    {
        Ticket ticket;
        std::function<void()> check;
    };

    void schedulePump();
    void pump();

    const int m_maxChecksInFlight;
    QNetworkAccessManager *m_localManager = nullptr;
    QNetworkAccessManager *m_publicManager = nullptr;
    QList<Waiting> m_waiting;
    QList<Ticket> m_running;
    Ticket m_lastTicket = 0;
    bool m_pumpScheduled = false;
    std::chrono::steady_clock::time_point m_nextFirstCheck;
};
