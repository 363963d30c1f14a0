#include "session/OriginProbe.h"

#include "session/InsecureTrustDelegate.h"
#include "session/ProbeNetwork.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>
#include <QUrl>

OriginProbe::OriginProbe(ProbeNetwork &network, QObject *parent)
    : QObject(parent)
    , m_network(network)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &OriginProbe::handleDeadlineTimeout);
}

OriginProbe::~OriginProbe()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        // The reply belongs to the shared manager, which outlives this probe.
        m_reply->deleteLater();
    }
}

void OriginProbe::start(const Request &request)
{
    const QUrl url(request.url, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        QTimer::singleShot(0, this, [this] { finish({ false, std::nullopt, QStringLiteral("地址无效") }); });
        return;
    }
    QNetworkAccessManager *manager
        = request.route == Route::direct ? m_network.localManager() : m_network.publicManager();
    QNetworkRequest networkRequest(url);
    networkRequest.setTransferTimeout(static_cast<int>(request.timeout.count()));
    // A connection kept for reuse holds a descriptor (a refused one too) for minutes: with a port per
    // service, a thousand services would use up the process's descriptors.
    networkRequest.setRawHeader("Connection", "close");
    networkRequest.setAttribute(QNetworkRequest::ConnectionCacheExpiryTimeoutSecondsAttribute, 0);
    networkRequest.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    networkRequest.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // cloudflared hands the first answer to the visitor as it is; a probe that followed a redirect
    // would judge a page the visitor never gets.
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    m_allowInvalidCertificate = request.allowInvalidCertificate;
    m_reply = manager->head(networkRequest);
    if (request.allowInvalidCertificate)
        new InsecureTrustDelegate(m_reply);
    connect(m_reply, &QNetworkReply::sslErrors, this, &OriginProbe::handleReplySslErrors);
    connect(m_reply, &QNetworkReply::requestSent, this, [this] { m_requestSent = true; });
    connect(m_reply, &QNetworkReply::finished, this, &OriginProbe::handleReplyFinished);
    m_deadline.start(request.timeout + request.grace);
}

void OriginProbe::handleReplyFinished()
{
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = m_reply->error();
    ProbeOutcome outcome;
    // Any HTTP status means the service answered; Qt counts 404 as an error, we do not. A failed
    // handshake never counts, whatever came before it.
    if (error != QNetworkReply::SslHandshakeFailedError && (status.isValid() || error == QNetworkReply::NoError)) {
        outcome.reachable = true;
        if (status.isValid())
            outcome.statusCode = status.toInt();
        outcome.location = QString::fromUtf8(m_reply->rawHeader("Location"));
        finish(outcome);
        return;
    }
    outcome.message = m_reply->errorString();
    const bool timedOut = error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError;
    if (m_certificateRejected)
        outcome.failure = ProbeOutcome::Failure::untrustedCertificate;
    else if (timedOut && m_requestSent)
        outcome.failure = ProbeOutcome::Failure::silent;
    else
        outcome.failure = ProbeOutcome::Failure::transport;
    finish(outcome);
}

void OriginProbe::handleReplySslErrors(const QList<QSslError> &errors)
{
    if (!m_allowInvalidCertificate && !errors.isEmpty())
        m_certificateRejected = true;
}

void OriginProbe::handleDeadlineTimeout()
{
    if (m_reply)
        m_reply->abort(); // finishes the reply with OperationCanceledError
}

void OriginProbe::finish(const ProbeOutcome &outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    m_deadline.stop();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    emit finished(outcome);
}
