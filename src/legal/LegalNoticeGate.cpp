#include "legal/LegalNoticeGate.h"

#include "legal/LegalNoticeView.h"
#include "store/Preferences.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

LegalNoticeGate::LegalNoticeGate(QWidget *host, Preferences *preferences)
    : QObject(host)
    , m_host(host)
    , m_preferences(preferences)
{
    host->installEventFilter(this);
}

bool LegalNoticeGate::isAccepted() const
{
    return m_preferences->legalAcknowledgementVersion() >= LegalNoticeView::currentVersion;
}

bool LegalNoticeGate::eventFilter(QObject *watched, QEvent *event)
{
    // Once the window itself is up, so the notice sits over it.
    if (watched == m_host && event->type() == QEvent::Show && !isAccepted())
        QTimer::singleShot(0, this, [this] {
            if (!isAccepted() && m_host->isVisible())
                showNotice();
        });
    return QObject::eventFilter(watched, event);
}

void LegalNoticeGate::showNotice()
{
    if (m_notice) {
        m_notice->raise();
        m_notice->activateWindow();
        return;
    }
    auto *notice = new LegalNoticeView(!isAccepted(), m_host);
    notice->setAttribute(Qt::WA_DeleteOnClose);
    connect(notice, &LegalNoticeView::agreed, this, &LegalNoticeGate::handleAgreed);
    connect(notice, &LegalNoticeView::declined, this, &LegalNoticeGate::declined);
    m_notice = notice;
    notice->open();
}

void LegalNoticeGate::handleAgreed()
{
    if (isAccepted())
        return; // never lower a newer acknowledgement
    m_preferences->setLegalAcknowledgementVersion(LegalNoticeView::currentVersion);
}
