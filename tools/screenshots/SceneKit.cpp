#include "SceneKit.h"

#include "FakeCloudflared.h"
#include "LocalHttpServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

std::vector<Scene> &scenes()
{
    static std::vector<Scene> list;
    return list;
}

SceneKit::SceneKit() = default;

SceneKit::~SceneKit()
{
    for (auto &session : m_sessions)
        session->shutdown();
    waitUntil([this] {
        return std::none_of(m_sessions.begin(), m_sessions.end(), [](const auto &s) { return s->hasChild(); });
    }, 10000);
    for (auto &session : m_sessions) {
        if (session->hasChild())
            session->killChild();
    }
    m_sessions.clear();
}

void SceneKit::installCloudflared(const QByteArray &body)
{
    if (!m_cloudflared)
        m_cloudflared = std::make_unique<FakeCloudflared>(m_dir.path());
    m_cloudflared->install(body);
}

quint16 SceneKit::healthyPort()
{
    auto server = std::make_unique<LocalHttpServer>();
    server->listenHttp();
    const quint16 port = server->port();
    m_servers.push_back(std::move(server));
    return port;
}

quint16 SceneKit::silentPort()
{
    auto server = std::make_unique<LocalHttpServer>();
    server->setSilent(true);
    server->listenHttp();
    const quint16 port = server->port();
    m_servers.push_back(std::move(server));
    return port;
}

TunnelSession *SceneKit::makeSession(const QString &name, quint16 port, OriginScheme scheme, Timings timings)
{
    TunnelProfile profile{QUuid::createUuid(), name, TunnelProvider::cloudflare, scheme, QStringLiteral("127.0.0.1"),
                          QString::number(port), false};
    m_sessions.push_back(std::make_unique<TunnelSession>(profile, nullptr, dependencies(timings)));
    return m_sessions.back().get();
}

void SceneKit::answerPublicProbes(bool reachable, const QString &message)
{
    const ProbeOutcome outcome{reachable, reachable ? std::optional<int>(200) : std::nullopt,
                               reachable ? QString() : message};
    m_publicProbe = [outcome](const QUrl &, std::chrono::milliseconds, QObject *context,
                        std::function<void(const ProbeOutcome &)> done) {
        QMetaObject::invokeMethod(context, [done, outcome] { done(outcome); }, Qt::QueuedConnection);
    };
}

SessionDependencies SceneKit::dependencies(Timings timings) const
{
    return { timings, CloudflaredLocator({ m_dir.filePath(QStringLiteral("cloudflared")) }), m_publicProbe };
}

bool SceneKit::waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void SceneKit::settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
