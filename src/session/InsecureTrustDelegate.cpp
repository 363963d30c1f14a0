#include "session/InsecureTrustDelegate.h"

#include <QNetworkReply>

InsecureTrustDelegate::InsecureTrustDelegate(QNetworkReply *reply)
    : QObject(reply)
    , m_reply(reply)
{
    connect(reply, &QNetworkReply::sslErrors, this, &InsecureTrustDelegate::handleReplySslErrors);
}

void InsecureTrustDelegate::handleReplySslErrors()
{
    m_reply->ignoreSslErrors();
}
