// What a password gate costs a service, on loopback: the time from asking for a gate until it listens,
// request latency (p50, p99) and throughput with 1 and 16 keep-alive connections carrying the cookie,
// straight to the service and through the gate, and the gate's resident memory.

#include "GateTestOrigin.h"
#include "base/Resources.h"
#include "gate/GateConfiguration.h"
#include "gate/GatedOrigin.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

const QString password = QStringLiteral("bench password");

// The service runs on a thread of its own, so the client's loop does not serve it as well.
struct OriginThread
{
    QThread thread;
    GateTestOrigin *origin = new GateTestOrigin;
    quint16 port = 0;

    OriginThread()
    {
        origin->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, origin, &QObject::deleteLater);
        thread.start();
        QMetaObject::invokeMethod(
            origin, [this] { port = origin->listen() ? origin->port() : 0; }, Qt::BlockingQueuedConnection);
    }
    ~OriginThread()
    {
        thread.quit();
        thread.wait();
    }
};

OriginThread &service()
{
    static OriginThread instance;
    return instance;
}

template <typename Predicate> bool spinUntil(Predicate done, int milliseconds = 15000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

std::unique_ptr<GatedOrigin> readyGate(qint64 *nanoseconds = nullptr)
{
    auto gate
        = std::make_unique<GatedOrigin>(Timings(), GateLocator({ resourceDirectory() + QStringLiteral("/caddy") }));
    bool ready = false;
    QObject::connect(gate.get(), &GatedOrigin::ready, gate.get(), [&ready] { ready = true; });
    QElapsedTimer timer;
    timer.start();
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(service().port);
    if (!gate->start({ true, true, password }, origin, QStringLiteral("127.0.0.1"), false).isEmpty()
        || !spinUntil([&ready] { return ready; }))
        return nullptr;
    if (nanoseconds)
        *nanoseconds = timer.nsecsElapsed();
    return gate;
}

double gateResidentMegabytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

// One keep-alive connection that sends the next request as soon as the last answer is complete.
class Client
{
public:
    Client(quint16 port, QByteArray request, std::vector<qint64> &latencies)
        : m_request(std::move(request))
        , m_latencies(latencies)
    {
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] { handleReadyRead(); });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }

    void begin(int requests)
    {
        m_left = requests;
        send();
    }
    bool done() const { return m_left == 0 && m_expected < 0; }
    bool failed() const { return m_failed; }

private:
    void send()
    {
        m_buffer.clear();
        m_expected = -1;
        m_timer.start();
        m_socket.write(m_request);
    }

    void handleReadyRead()
    {
        m_buffer += m_socket.readAll();
        if (m_expected < 0) {
            const qsizetype end = m_buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            if (!m_buffer.startsWith("HTTP/1.1 200"))
                m_failed = true;
            const QByteArray headers = m_buffer.left(end).toLower();
            const qsizetype at = headers.indexOf("content-length:");
            const qsizetype length
                = at < 0 ? 0 : headers.mid(at + 15, headers.indexOf('\r', at) - at - 15).trimmed().toLongLong();
            m_expected = end + 4 + length;
        }
        if (m_buffer.size() < m_expected)
            return;
        m_latencies.push_back(m_timer.nsecsElapsed());
        m_expected = -1;
        if (--m_left > 0)
            send();
    }

    QTcpSocket m_socket;
    QByteArray m_request;
    std::vector<qint64> &m_latencies;
    QByteArray m_buffer;
    QElapsedTimer m_timer;
    qsizetype m_expected = -1;
    int m_left = 0;
    bool m_failed = false;
};

void BM_GateStartup(benchmark::State &state)
{
    // The first start also hashes the password; later ones reuse the hash, as a restart does.
    std::vector<double> milliseconds;
    for (auto _ : state) {
        qint64 nanoseconds = 0;
        auto gate = readyGate(&nanoseconds);
        if (!gate) {
            state.SkipWithError("the gate did not come up (is caddy bundled?)");
            return;
        }
        state.SetIterationTime(double(nanoseconds) / 1e9);
        milliseconds.push_back(double(nanoseconds) / 1e6);
        state.counters["gate_rss_idle_MB"] = gateResidentMegabytes(gate->processId());
        state.PauseTiming();
        gate.reset();
        state.ResumeTiming();
    }
    state.counters["first_start_ms"] = milliseconds.front();
}
BENCHMARK(BM_GateStartup)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

// Argument 0: 0 straight to the service, 1 through the gate; argument 1: connections.
void BM_Requests(benchmark::State &state)
{
    const bool gated = state.range(0) == 1;
    const int connections = int(state.range(1));
    constexpr int perConnection = 2000;
    std::unique_ptr<GatedOrigin> gate;
    quint16 port = service().port;
    QByteArray cookie;
    if (gated) {
        gate = readyGate();
        if (!gate) {
            state.SkipWithError("the gate did not come up (is caddy bundled?)");
            return;
        }
        port = quint16(QUrl(gate->url()).port());
        // Log in once, as a visitor's browser does.
        const QByteArray login = "POST " + GateConfiguration::authPath.toUtf8()
            + " HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nAuthorization: Basic "
            + (GateConfiguration::userName + u':' + password).toUtf8().toBase64() + "\r\n\r\n";
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        spinUntil([&socket] { return socket.state() == QAbstractSocket::ConnectedState; });
        socket.write(login);
        QByteArray answer;
        spinUntil([&] { return (answer += socket.readAll()).contains("\r\n\r\n"); });
        const qsizetype at = answer.indexOf("orvanta_gate=");
        cookie = answer.mid(at, answer.indexOf(';', at) - at);
    }
    const QByteArray request = "GET /bench HTTP/1.1\r\nHost: x\r\nCookie: " + cookie + "\r\n\r\n";

    std::vector<qint64> latencies;
    for (auto _ : state) {
        latencies.clear();
        latencies.reserve(size_t(connections) * perConnection);
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < connections; ++i)
            clients.push_back(std::make_unique<Client>(port, request, latencies));
        QElapsedTimer timer;
        timer.start();
        for (auto &client : clients)
            client->begin(perConnection);
        const bool finished = spinUntil(
            [&] {
                return std::all_of(clients.begin(), clients.end(), [](const auto &client) { return client->done(); });
            },
            120000);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        if (!finished || std::any_of(clients.begin(), clients.end(), [](const auto &c) { return c->failed(); })) {
            state.SkipWithError("requests did not all succeed");
            return;
        }
        state.SetIterationTime(seconds);
        std::sort(latencies.begin(), latencies.end());
        state.counters["p50_us"] = double(latencies[latencies.size() / 2]) / 1e3;
        state.counters["p99_us"] = double(latencies[latencies.size() * 99 / 100]) / 1e3;
        state.counters["requests_per_s"] = double(latencies.size()) / seconds;
        if (gate)
            state.counters["gate_rss_MB"] = gateResidentMegabytes(gate->processId());
    }
}
BENCHMARK(BM_Requests)
    ->ArgsProduct({ { 0, 1 }, { 1, 16 } })
    ->ArgNames({ "gated", "connections" })
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
