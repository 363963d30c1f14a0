#include "app/AddressCopy.h"

#include "session/TunnelSession.h"

#include <QClipboard>
#include <QGuiApplication>

bool copyPublicAddress(const TunnelSession *session)
{
    // An address that is not current any more, or one Qt cannot parse, is not worth copying.
    if (!session || !session->status().is(TunnelStatus::Kind::online) || !session->publicURL()
        || !session->publicURL()->isValid())
        return false;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(session->publicURL()->toString());
    return true;
}
