#include "session/OriginProbe.h"

#include "session/InsecureTrustDelegate.h"
#include "session/ProbeNetwork.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
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
    // A kept-alive connection per service would hold a descriptor each between checks.
    networkRequest.setRawHeader("Connection", "close");
    networkRequest.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    networkRequest.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    m_reply = manager->head(networkRequest);
    if (request.allowInvalidCertificate)
        new InsecureTrustDelegate(m_reply);
    connect(m_reply, &QNetworkReply::finished, this, &OriginProbe::handleReplyFinished);
    m_deadline.start(request.timeout + request.grace);
}

void OriginProbe::handleReplyFinished()
{
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    ProbeOutcome outcome;
    // Any HTTP status means the service answered; Qt counts 404 as an error, we do not.
    if (status.isValid()) {
        outcome.reachable = true;
        outcome.statusCode = status.toInt();
    } else if (m_reply->error() == QNetworkReply::NoError) {
        outcome.reachable = true;
    } else {
        outcome.message = m_reply->errorString();
    }
    finish(outcome);
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
