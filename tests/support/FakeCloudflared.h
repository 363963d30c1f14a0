#pragma once

#include "session/CloudflaredLocator.h"

#include <QByteArray>
#include <QString>

/// \brief A fake `cloudflared`: a shell script written into \a directory; locator() finds only it.
///
/// Every run records under recordDirectory() its arguments one per line ("argv"), its environment as
/// received ("environ", NUL-separated), its working directory ("cwd") and its process id ("pid"), each
/// file suffixed with the run's number N (from 1; the shell variables $rec and $n hold both). Bodies that
/// wait should `exec sleep` so that the waiting process is the child itself.
class FakeCloudflared
{
public:
    explicit FakeCloudflared(const QString &directory);
    FakeCloudflared(const FakeCloudflared &) = delete;
    FakeCloudflared &operator=(const FakeCloudflared &) = delete;

    bool install(const QByteArray &body);
    QString path() const { return m_directory + QStringLiteral("/cloudflared"); }
    CloudflaredLocator locator() const { return CloudflaredLocator({ path() }); }
    QString recordDirectory() const { return m_directory + QStringLiteral("/record"); }

    int runs() const;
    /// What run \a run (1-based; 0 = the latest) recorded as \a name, without its last line feed.
    QByteArray record(const char *name, int run = 0) const;
    QString workingDirectory(int run = 0) const { return QString::fromUtf8(record("cwd", run)); }
    qint64 processId(int run = 0) const { return record("pid", run).toLongLong(); }

    // Log lines of cloudflared's shape, each ending in a line feed.
    static QByteArray requestLine();
    static QByteArray urlLine(const QByteArray &label = "four-random-words-here");
    static QByteArray registeredLine(int connIndex = 0);
    static QByteArray originErrorLine();
    static QByteArray warningLine();
    /// Printed by every start on a common Linux set-up (cloudflared issues 1334 and 1109).
    static QByteArray routineNotices();

    /// Shell that prints \a text (which may hold several lines) on standard error, as cloudflared does.
    static QByteArray printToStandardError(const QByteArray &text);
    /// Shell that prints, on standard error, an address line whose label names the run ("run-N").
    static QByteArray printRunURL();
    /// A body that requests, gets its address and registers, then waits (up to \a seconds).
    static QByteArray onlineBody(int seconds = 30);

    /// Shell that waits until the test calls release(\a name).
    static QByteArray waitFor(const QByteArray &name);
    bool release(const QByteArray &name) const;

private:
    QString m_directory;
};
