#pragma once

#include "session/CloudflaredLocator.h"

#include <QObject>
#include <QProcess>
#include <QTimer>

#include <chrono>

/// \brief Asks `cloudflared --version` without blocking: finished() brings the version, "未找到"
/// when there is no `cloudflared`, or "不可用" when it cannot be started or does not answer in time
/// (it is then killed).
///
/// finished() is sent exactly once, never from inside start(). Deleting the query kills a child
/// still running without waiting for it.
class CloudflaredVersionQuery : public QObject
{
    Q_OBJECT

public:
    explicit CloudflaredVersionQuery(QObject *parent = nullptr);
    ~CloudflaredVersionQuery() override;

    void start(const CloudflaredLocator &locator, std::chrono::milliseconds timeout);

    /// The version in `cloudflared --version` output: the first word after "cloudflared version ".
    /// Output that is not UTF-8 gives an empty text.
    static QString parseVersion(const QByteArray &output);

signals:
    void finished(const QString &version);

private:
    void handleProcessFinished();
    void handleProcessErrorOccurred(QProcess::ProcessError error);
    void handleDeadlineTimeout();
    void finish(const QString &version);

    QProcess *m_process = nullptr;
    QTimer m_deadline;
    bool m_finished = false;
};
