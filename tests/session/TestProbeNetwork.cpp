#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "session/ProbeNetwork.h"
#include "session/TunnelSession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QtTest>

#include <sys/resource.h>

using namespace std::chrono_literals;

namespace {

int openDescriptors()
{
    return int(QDir(u"/proc/self/fd"_qs).entryList(QDir::Files | QDir::System).size());
}

/// \a count sessions for \a port that begin monitoring together, each check reported to \a checked.
std::vector<std::unique_ptr<TunnelSession>> monitoringSessions(
    int count, quint16 port, const SessionDependencies &dependencies, const std::function<void()> &checked)
{
    std::vector<std::unique_ptr<TunnelSession>> sessions;
    for (int i = 0; i < count; ++i) {
        sessions.push_back(std::make_unique<TunnelSession>(localProfile(port), nullptr, dependencies));
        QObject::connect(sessions.back().get(), &TunnelSession::healthChecked, checked);
        sessions.back()->beginMonitoring();
    }
    return sessions;
}

} // namespace

class TestProbeNetwork : public QObject
{
    Q_OBJECT

private slots:
    void queue_data()
    {
        QTest::addColumn<int>("bound");
        QTest::addColumn<int>("checks");
        QTest::addColumn<QList<int>>("withdrawn"); // released while still waiting
        QTest::addColumn<QList<int>>("order");
        QTest::newRow("more than the bound, in order, none dropped")
            << 2 << 7 << QList<int> {} << QList<int> { 0, 1, 2, 3, 4, 5, 6 };
        QTest::newRow("withdrawn checks never run") << 1 << 5 << QList<int> { 1, 3 } << QList<int> { 0, 2, 4 };
    }

    void queue()
    {
        QFETCH(int, bound);
        QFETCH(int, checks);
        QFETCH(QList<int>, withdrawn);
        QFETCH(QList<int>, order);
        ProbeNetwork network(bound);
        QList<int> ran;
        int mostInFlight = 0;
        QList<ProbeNetwork::Ticket> tickets;
        for (int i = 0; i < checks; ++i) {
            tickets << network.enqueue([&, i] {
                ran << i;
                mostInFlight = std::max(mostInFlight, network.inFlight());
                // Each check ends a moment later, from the event loop.
                QTimer::singleShot(1ms, &network, [&network, &tickets, i] { network.release(tickets.at(i)); });
            });
        }
        for (const int i : withdrawn)
            network.release(tickets.at(i));
        QTRY_COMPARE_WITH_TIMEOUT(ran.size(), order.size(), 5000);
        QTRY_COMPARE(network.inFlight(), 0);
        QCOMPARE(ran, order);
        QCOMPARE(network.waiting(), 0);
        QCOMPARE(mostInFlight, std::min(bound, int(order.size())));
    }

    void firstChecksSpreadOut()
    {
        // Sessions beginning together check one after the other, however quickly each check ends.
        Timings timings = quickTimings();
        timings.firstCheckSpacing = 40ms;
        const SessionDependencies dependencies { timings, CloudflaredLocator(QStringList()), {} };
        int checked = 0;
        QElapsedTimer clock;
        clock.start();
        const auto sessions
            = monitoringSessions(3, LocalHttpServer::unusedPort(), dependencies, [&checked] { ++checked; });
        QTRY_COMPARE(checked, 3);
        QVERIFY2(clock.elapsed() >= 80, qPrintable(QString::number(clock.elapsed())));
    }

    // Many services checking together under a low descriptor limit: no descriptor runs out, no check
    // is lost, and the local services never see more connections at once than the bound.
    void manyServicesStayWithinTheDescriptorLimit()
    {
        constexpr int services = 150;
        constexpr int bound = 8;
        LocalHttpServer server;
        server.setAnswerDelay(50ms);
        QVERIFY(server.listenHttp());

        rlimit original {};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &original) == 0);
        const int before = openDescriptors();
        rlimit lowered = original;
        lowered.rlim_cur = rlim_t(before + 120);
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &lowered) == 0);
        const auto restore = qScopeGuard([&original] { ::setrlimit(RLIMIT_NOFILE, &original); });

        Timings timings = quickTimings();
        timings.firstCheckSpacing = 0ms; // all at once: only the bound holds them back
        SessionDependencies dependencies { timings, CloudflaredLocator(QStringList()), {} };
        dependencies.network = std::make_shared<ProbeNetwork>(bound);
        int checked = 0;
        int mostDescriptors = before;
        const auto sessions = monitoringSessions(services, server.port(), dependencies, [&] {
            ++checked;
            mostDescriptors = std::max(mostDescriptors, openDescriptors());
        });
        QTRY_COMPARE_WITH_TIMEOUT(checked, services, 60000);
        for (const auto &session : sessions)
            QCOMPARE(session->localHealth(), HealthState::healthy());
        QVERIFY2(server.mostConnectionsAtOnce() <= bound, qPrintable(QString::number(server.mostConnectionsAtOnce())));
        // Two ends per connection, plus the two managers' own.
        QVERIFY2(mostDescriptors - before <= 2 * bound + 24, qPrintable(QString::number(mostDescriptors - before)));
    }

    // A service per port, none answering: a refused connection must not stay cached per port, or a
    // thousand services hold a thousand descriptors for minutes.
    void refusedPortsHoldNoDescriptors()
    {
        constexpr int services = 100;
        const int before = openDescriptors();
        Timings timings = quickTimings();
        timings.firstCheckSpacing = 0ms;
        SessionDependencies dependencies { timings, CloudflaredLocator(QStringList()), {} };
        dependencies.network = std::make_shared<ProbeNetwork>(8);
        int checked = 0;
        std::vector<std::unique_ptr<TunnelSession>> sessions;
        for (int i = 0; i < services; ++i) {
            auto unanswered = monitoringSessions(1, LocalHttpServer::unusedPort(), dependencies, [&] { ++checked; });
            sessions.push_back(std::move(unanswered.front()));
        }
        QTRY_COMPARE_WITH_TIMEOUT(checked, services, 60000);
        QVERIFY2(openDescriptors() - before <= 24, qPrintable(QString::number(openDescriptors() - before)));
    }
};

QTEST_GUILESS_MAIN(TestProbeNetwork)
#include "TestProbeNetwork.moc"
