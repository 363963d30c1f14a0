#include "ui/ServiceActions.h"

#include "session/TunnelSession.h"
#include "store/TunnelStore.h"
#include "ui/TunnelDetailView.h"

#include <QAction>

ServiceActions::ServiceActions(TunnelStore *store, std::function<TunnelDetailView *()> pane, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_pane(std::move(pane))
{
    m_add = new QAction(QStringLiteral("添加代理服务"), this);
    m_add->setObjectName(QStringLiteral("addServiceAction"));
    m_add->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(m_add, &QAction::triggered, m_store, [store] { store->addProfile(); });
    // A text field takes Delete for itself first (Qt lets it override the shortcut), so the key only
    // reaches this action when no text is being edited.
    m_delete = makeAction(
        QStringLiteral("deleteServiceAction"), { QKeySequence(Qt::Key_Delete) }, &TunnelDetailView::askToDelete);
    m_startStop = makeAction(QStringLiteral("startStopServiceAction"),
        { QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::ControlModifier | Qt::KeypadModifier | Qt::Key_Enter) },
        &TunnelDetailView::startOrStop);
    m_copyAddress = makeAction(QStringLiteral("copyAddressAction"), { QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C) },
        &TunnelDetailView::copyPublicAddress);
    m_delete->setText(QStringLiteral("删除此服务…"));
    m_copyAddress->setText(QStringLiteral("复制公网地址"));
    refresh();
}

QAction *ServiceActions::makeAction(
    const QString &name, const QList<QKeySequence> &shortcuts, void (TunnelDetailView::*act)())
{
    auto *action = new QAction(this);
    action->setObjectName(name);
    action->setShortcuts(shortcuts);
    connect(action, &QAction::triggered, this, [this, act] {
        if (TunnelDetailView *pane = m_pane())
            (pane->*act)();
    });
    return action;
}

void ServiceActions::refresh()
{
    const TunnelSession *session = m_store->selectedSession();
    const TunnelStatus status = session ? session->status() : TunnelStatus {};
    m_delete->setEnabled(session);
    m_startStop->setEnabled(session && !status.is(TunnelStatus::Kind::stopping));
    m_startStop->setText(session && status.isActive() ? QStringLiteral("停止此服务") : QStringLiteral("启动此服务…"));
    m_copyAddress->setEnabled(session && session->publicURL() && session->publicURL()->isValid());
}
