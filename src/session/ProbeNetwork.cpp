#include "session/ProbeNetwork.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>

#include <algorithm>

ProbeNetwork::ProbeNetwork(int maxChecksInFlight, QObject *parent)
    : QObject(parent)
    , m_maxChecksInFlight(std::max(1, maxChecksInFlight))
{
}

ProbeNetwork::~ProbeNetwork() = default;

QNetworkAccessManager *ProbeNetwork::localManager()
{
    if (!m_localManager) {
        m_localManager = new QNetworkAccessManager(this);
        // cloudflared reaches a local origin directly; so must the probe that stands for it.
        m_localManager->setProxy(QNetworkProxy::NoProxy);
    }
    return m_localManager;
}

QNetworkAccessManager *ProbeNetwork::publicManager()
{
    if (!m_publicManager)
        m_publicManager = new QNetworkAccessManager(this);
    return m_publicManager;
}

ProbeNetwork::Ticket ProbeNetwork::enqueue(std::function<void()> check)
{
    const Ticket ticket = ++m_lastTicket;
    m_waiting.append({ ticket, std::move(check) });
    schedulePump();
    return ticket;
}

void ProbeNetwork::release(Ticket ticket)
{
    if (m_running.removeOne(ticket)) {
        schedulePump();
        return;
    }
    m_waiting.removeIf([ticket](const Waiting &waiting) { return waiting.ticket == ticket; });
}

void ProbeNetwork::schedulePump()
{
    // Queued: the caller holds its ticket before its check runs, and a check that ends while it
    // starts does not start the next one inside itself (a queue of checks that fail at once would
    // nest as deep as it is long).
    if (m_pumpScheduled || m_waiting.isEmpty())
        return;
    m_pumpScheduled = true;
    QMetaObject::invokeMethod(this, &ProbeNetwork::pump, Qt::QueuedConnection);
}

void ProbeNetwork::pump()
{
    m_pumpScheduled = false;
    while (!m_waiting.isEmpty() && m_running.size() < m_maxChecksInFlight) {
        Waiting next = m_waiting.takeFirst();
        m_running.append(next.ticket);
        next.check();
    }
}

std::chrono::milliseconds ProbeNetwork::firstCheckDelay(std::chrono::milliseconds spacing)
{
    const auto now = std::chrono::steady_clock::now();
    m_nextFirstCheck = std::max(m_nextFirstCheck, now);
    const auto delay = std::chrono::ceil<std::chrono::milliseconds>(m_nextFirstCheck - now);
    m_nextFirstCheck += spacing;
    return delay;
}
