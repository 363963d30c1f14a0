#pragma once

#include <QByteArray>
#include <QString>

/// Writes \a content to \a path and makes it executable (a fake `cloudflared`, say).
bool writeExecutable(const QString &path, const QByteArray &content);
