#pragma once

#include "gate/GateLocator.h"
#include "model/Timings.h"
#include "session/CloudflaredLocator.h"
#include "session/OriginProbe.h"
#include "session/ProbeNetwork.h"
#include "session/RunPolicy.h"

#include <QObject>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

/// Performs the probe of a public address: HEAD \a url within \a timeout, then calls \a done once
/// with the outcome, on the GUI thread, at once or later. Work still pending when \a context is
/// deleted must end quietly (tie it to \a context).
using PublicProbe = std::function<void(const QUrl &url, std::chrono::milliseconds timeout, QObject *context,
    std::function<void(const ProbeOutcome &)> done)>;

/// \brief What a TunnelSession takes from its surroundings: its durations, where `cloudflared` is,
/// how the public address is probed (empty: a real HEAD request through the user's proxy), the
/// network its probes share and how it runs `cloudflared`. Copies share that network and that policy,
/// so every session made from one set of dependencies (all of a store's) draws on one pair of network
/// managers and one bound on checks, and what one of them learns about the network holds for all.
struct SessionDependencies
{
    Timings timings;
    CloudflaredLocator locator;
    PublicProbe publicProbe;
    std::shared_ptr<ProbeNetwork> network = std::make_shared<ProbeNetwork>();
    GateLocator gateLocator = GateLocator(); ///< where `caddy` is, for services behind a password gate
    std::shared_ptr<RunPolicy> policy = std::make_shared<RunPolicy>();
};
