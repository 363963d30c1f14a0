#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>
#include <utility>

class ProbeNetwork;
class QNetworkReply;
class QSslError;

/// \brief What one HEAD request found out from the first answer; redirects are not followed.
struct ProbeOutcome
{
    /// Why nothing usable came back.
    enum class Failure {
        none,
        transport, ///< refused, closed, TLS handshake failed, unknown host and the like
        silent, ///< the request went out, but no answer came before the time-out
        untrustedCertificate, ///< TLS stopped at the server's certificate (self-signed, unknown issuer, expired…)
    };

    ProbeOutcome() = default;
    ProbeOutcome(bool reachable, std::optional<int> statusCode, QString message, Failure failure = Failure::none,
        QString location = {})
        : reachable(reachable)
        , statusCode(statusCode)
        , message(std::move(message))
        , failure(failure)
        , location(std::move(location))
    {
    }

    bool reachable = false; ///< any HTTP response, whatever its status
    std::optional<int> statusCode; ///< absent when not reachable
    QString message; ///< empty when reachable; otherwise why not
    Failure failure = Failure::none;
    QString location; ///< the Location header of the answer, as sent

    bool operator==(const ProbeOutcome &) const = default;
};

/// \brief One HTTP HEAD request with a time-out, on the shared network manager of its route. No
/// cookies, cache or connections carry over to any other probe: the connection closes with the answer.
///
/// finished() is sent exactly once, never from inside start(). Deleting the probe cancels it
/// quietly. The exchange is aborted at the time-out plus the grace time whatever happens.
class OriginProbe : public QObject
{
    Q_OBJECT

public:
    enum class Route {
        direct, ///< straight to the address, as cloudflared reaches a local origin
        systemProxy, ///< the application's proxy settings
    };

    struct Request
    {
        QString url;
        bool allowInvalidCertificate = false;
        std::chrono::milliseconds timeout { 4000 };
        std::chrono::milliseconds grace { 2000 };
        Route route = Route::direct;
    };

    explicit OriginProbe(ProbeNetwork &network, QObject *parent = nullptr);
    ~OriginProbe() override;

    void start(const Request &request);

signals:
    void finished(const ProbeOutcome &outcome);

private:
    void handleReplyFinished();
    void handleReplySslErrors(const QList<QSslError> &errors);
    void handleDeadlineTimeout();
    void finish(const ProbeOutcome &outcome);

    ProbeNetwork &m_network;
    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline;
    bool m_allowInvalidCertificate = false;
    bool m_certificateRejected = false;
    bool m_requestSent = false;
    bool m_finished = false;
};
