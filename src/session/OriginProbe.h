#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

/// \brief What one HEAD request found out.
struct ProbeOutcome
{
    bool reachable = false;           ///< any HTTP response, whatever its status
    std::optional<int> statusCode;    ///< absent when not reachable
    QString message;                  ///< empty when reachable; otherwise why not

    bool operator==(const ProbeOutcome &) const = default;
};

/// \brief One HTTP HEAD request with a time-out, on a network manager of its own (no cookies,
/// cache or connections shared with any other probe).
///
/// finished() is sent exactly once, never from inside start(). Deleting the probe cancels it
/// quietly. The exchange is aborted at the time-out plus the grace time whatever happens.
class OriginProbe : public QObject
{
    Q_OBJECT

public:
    enum class Route {
        direct,      ///< straight to the address, as cloudflared reaches a local origin
        systemProxy, ///< the application's proxy settings
    };

    struct Request
    {
        QString url;
        bool allowInvalidCertificate = false;
        std::chrono::milliseconds timeout{4000};
        std::chrono::milliseconds grace{2000};
        Route route = Route::direct;
    };

    explicit OriginProbe(QObject *parent = nullptr);
    ~OriginProbe() override;

    void start(const Request &request);

signals:
    void finished(const ProbeOutcome &outcome);

private:
    void handleReplyFinished();
    void handleDeadlineTimeout();
    void finish(const ProbeOutcome &outcome);

    QNetworkAccessManager *m_manager = nullptr;
    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline;
    bool m_finished = false;
};
