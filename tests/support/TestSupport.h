#pragma once

#include "session/TunnelSession.h"

#include <QByteArray>
#include <QString>

/// Writes \a content to \a path and makes it executable (a fake `cloudflared`, say).
bool writeExecutable(const QString &path, const QByteArray &content);

bool processAlive(qint64 pid);

/// Public probes answer \a outcome at once, on the event loop, instead of reaching the internet.
void answerPublicProbes(const ProbeOutcome &outcome);
