#pragma once

#include <QObject>

class QNetworkReply;

/// \brief Accepts any server certificate (self-signed, expired, wrong name) for one reply.
///
/// Only certificate errors are overridden; HTTP and client-certificate authentication keep Qt's
/// default handling. Lives as long as the reply it watches.
class InsecureTrustDelegate : public QObject
{
    Q_OBJECT

public:
    explicit InsecureTrustDelegate(QNetworkReply *reply);

private:
    void handleReplySslErrors();

    QNetworkReply *m_reply;
};
