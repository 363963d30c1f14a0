#pragma once

#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "session/TunnelSession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <functional>
#include <memory>

using Kind = TunnelStatus::Kind;

/// One service with its own fake cloudflared and local server; shuts its child down at the end.
struct Rig
{
    explicit Rig(Timings timings = {}, OriginScheme scheme = OriginScheme::http)
        : cloudflared(dir.path())
    {
        server.listenHttp();
        TunnelProfile profile { QUuid::createUuid(), QStringLiteral("demo"), TunnelProvider::cloudflare, scheme,
            QStringLiteral("127.0.0.1"), QString::number(server.port()), false };
        // The public address lives on the internet; its probe answers here instead.
        session = std::make_unique<TunnelSession>(profile, nullptr,
            SessionDependencies { timings, cloudflared.locator(), answeringPublicProbe({ true, 200, {} }) });
    }

    ~Rig()
    {
        session->shutdown();
        // Children that ignore SIGTERM are killed after a short grace.
        QDeadlineTimer deadline(1500);
        while (session->hasChild() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (session->hasChild()) {
            session->killChild();
            waitFor([this] { return !session->hasChild(); }, 10000);
        }
    }

    /// Brings the session into \a kind the way a user would meet it.
    bool reach(Kind kind)
    {
        switch (kind) {
        case Kind::idle:
            return true;
        case Kind::preparing:
            server.setSilent(true); // the first probe never gets an answer
            break;
        case Kind::connecting:
            cloudflared.install(
                FakeCloudflared::printToStandardError(FakeCloudflared::requestLine()) + "exec sleep 30\n");
            break;
        case Kind::online:
        case Kind::stopping:
            cloudflared.install(FakeCloudflared::printToStandardError(FakeCloudflared::requestLine()
                                    + FakeCloudflared::urlLine() + FakeCloudflared::registeredLine())
                + "trap '' TERM\nexec sleep 30\n");
            break;
        case Kind::failed:
            session->setProfile([&] {
                TunnelProfile p = session->profile();
                p.portText = QString::number(LocalHttpServer::unusedPort());
                return p;
            }());
            break;
        }
        session->start();
        const Kind wait = kind == Kind::stopping ? Kind::online : kind;
        if (!waitFor([&] { return session->status().is(wait); }))
            return false;
        if (kind == Kind::stopping) {
            session->stop();
            return session->status().is(Kind::stopping);
        }
        return true;
    }

    static bool waitFor(const std::function<bool()> &condition, int timeoutMs = 20000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!condition() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        return condition();
    }

    QTemporaryDir dir;
    FakeCloudflared cloudflared;
    LocalHttpServer server;
    std::unique_ptr<TunnelSession> session;
};
