#pragma once

#include "model/TunnelProfile.h"
#include "session/SessionDependencies.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class TunnelSession;

/// Writes \a content to \a path and makes it executable (a fake `cloudflared`, say).
bool writeExecutable(const QString &path, const QByteArray &content);

bool processAlive(qint64 pid);

/// The permission bits of the file at \a path (0600, say), or -1 where there is none.
int fileMode(const QString &path);

/// A public probe that answers \a outcome on the event loop instead of reaching the internet.
PublicProbe answeringPublicProbe(const ProbeOutcome &outcome);

/// The messages of \a session's activity log, oldest first.
QStringList activityMessages(const TunnelSession &session);

/// A service for 127.0.0.1:\a port.
TunnelProfile localProfile(quint16 port, OriginScheme scheme = OriginScheme::http, bool skipTLSVerification = false);

/// Short probe time-outs and debounce; no periodic or post-online check unless a test asks for one.
Timings quickTimings();

/// Every value of the settings file at \a path as it is on disk. QSettings shares what one instance
/// holds with every instance on that path in a process, so the file is read through a private copy.
QVariantMap settingsOnDisk(const QString &path);
