#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

/// \brief A fake `cloudflared`: a shell script written into \a directory and made the only entry of
/// TunnelSession's search paths while this object lives.
///
/// Every run records itself under recordDirectory(): its arguments one per line ("argv.N"), its
/// environment exactly as received ("environ.N", NUL-separated), its working directory ("cwd.N")
/// and its process id ("pid.N"), N counting runs from 1. The script's behaviour is the shell body
/// given to install(); the line helpers below have the shape of cloudflared's real log lines.
/// Bodies that wait should `exec sleep` so that the waiting process is the child itself.
class FakeCloudflared
{
public:
    explicit FakeCloudflared(const QString &directory);
    ~FakeCloudflared();
    FakeCloudflared(const FakeCloudflared &) = delete;
    FakeCloudflared &operator=(const FakeCloudflared &) = delete;

    bool install(const QByteArray &body);
    QString path() const { return m_directory + QStringLiteral("/cloudflared"); }
    QString recordDirectory() const { return m_directory + QStringLiteral("/record"); }

    int runs() const;
    /// Of run \a run (1-based; 0 = the latest).
    QStringList arguments(int run = 0) const;
    QByteArray environment(int run = 0) const;
    QString workingDirectory(int run = 0) const;
    qint64 processId(int run = 0) const;

    // Log lines of cloudflared's shape, each ending in a line feed.
    static QByteArray requestLine();
    static QByteArray urlLine(const QByteArray &label = "four-random-words-here");
    static QByteArray registeredLine(int connIndex = 0);
    static QByteArray infoLine();
    static QByteArray originErrorLine();
    static QByteArray warningLine();

    /// Shell that prints \a text (which may hold several lines) on standard error, as cloudflared does.
    static QByteArray printToStandardError(const QByteArray &text);
    /// Shell that prints \a text on standard output.
    static QByteArray printToStandardOutput(const QByteArray &text);
    /// A body that requests, gets its address and registers, then waits (up to \a seconds).
    static QByteArray onlineBody(int seconds = 30);

private:
    QByteArray record(const char *name, int run) const;

    QString m_directory;
};
