#pragma once

#include "session/TunnelSession.h"

#include <QSize>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <vector>

class FakeCloudflared;
class LocalHttpServer;
class QWidget;

/// \brief What a scene needs to bring real sessions into a state: a private directory, fake
/// `cloudflared` scripts, local HTTP servers and bounded waits. Everything it made is shut down
/// and removed when the scene is done.
class SceneKit
{
public:
    SceneKit();
    ~SceneKit();
    SceneKit(const SceneKit &) = delete;
    SceneKit &operator=(const SceneKit &) = delete;

    /// Installs \a body as the `cloudflared` that sessions started from now on run.
    void installCloudflared(const QByteArray &body);
    /// Port of a local HTTP server that answers every request with 200.
    quint16 healthyPort();
    /// Port of a local server that accepts connections and never answers.
    quint16 silentPort();

    /// A session for 127.0.0.1:\a port, named \a name, owned by the kit.
    TunnelSession *makeSession(const QString &name, quint16 port, OriginScheme scheme = OriginScheme::http,
                               Timings timings = {});
    /// Public probes of every session made from now on answer \a reachable (with \a message when
    /// not) at once.
    void answerPublicProbes(bool reachable, const QString &message = {});
    /// What sessions made from now on get: the kit's `cloudflared` and public probes.
    SessionDependencies dependencies(Timings timings = {}) const;

    /// Runs the event loop until \a condition holds or \a timeoutMs pass; false on time-out.
    static bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 15000);
    /// Runs the event loop for \a ms.
    static void settle(int ms);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<FakeCloudflared> m_cloudflared;
    std::vector<std::unique_ptr<LocalHttpServer>> m_servers;
    std::vector<std::unique_ptr<TunnelSession>> m_sessions;
    PublicProbe m_publicProbe;
};

/// \brief One picture: a name (the file name without ".png"), the size to show it at (an empty
/// height: as tall as its content wants) and the function that builds it.
struct Scene
{
    QString name;
    QSize size;
    std::function<QWidget *(SceneKit &kit)> build;
};

/// Every registered scene, in registration order within a file.
std::vector<Scene> &scenes();

/// Registers a scene from a static object, so a new file of scenes needs no edit elsewhere.
struct SceneRegistrar
{
    explicit SceneRegistrar(Scene scene) { scenes().push_back(std::move(scene)); }
};
