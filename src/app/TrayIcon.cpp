#include "app/TrayIcon.h"

#include "app/AddressCopy.h"
#include "session/TunnelSession.h"
#include "store/TunnelStore.h"
#include "ui/DisplayName.h"

#include <QMenu>

TrayIcon::TrayIcon(const QIcon &icon, TunnelStore *store, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_menu(std::make_unique<QMenu>())
    , m_tray(icon)
{
    m_servicesEnd = m_menu->addSeparator();
    m_servicesEnd->setVisible(false); // until a service runs
    QAction *show = m_menu->addAction(QStringLiteral("显示主窗口"));
    show->setObjectName(QStringLiteral("trayShowAction"));
    connect(show, &QAction::triggered, this, &TrayIcon::showWindowRequested);
    m_menu->addSeparator();
    QAction *quit = m_menu->addAction(QStringLiteral("退出 奥文塔"));
    quit->setObjectName(QStringLiteral("trayQuitAction"));
    connect(quit, &QAction::triggered, this, &TrayIcon::quitRequested);

    m_tray.setContextMenu(m_menu.get());
    connect(&m_tray, &QSystemTrayIcon::activated, this, &TrayIcon::handleTrayActivated);
    connect(store, &TunnelStore::changed, this, &TrayIcon::handleStoreChanged);
    handleStoreChanged();
    m_tray.show();
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::hide()
{
    m_tray.hide();
}

void TrayIcon::handleTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
        emit showWindowRequested();
}

void TrayIcon::handleStoreChanged()
{
    const int running = m_store->runningCount();
    const QString tip = running == 0 ? QStringLiteral("奥文塔：没有运行中的隧道")
                                     : QStringLiteral("奥文塔：%1 个隧道运行中").arg(running);
    if (tip != m_tray.toolTip())
        m_tray.setToolTip(tip);

    QList<Entry> entries;
    for (const TunnelSession *session : m_store->sessions()) {
        if (session->status().isActive())
            entries.append({ session->id(), displayName(session->profile().name),
                session->status().is(TunnelStatus::Kind::online) && session->publicURL() });
    }
    // The store changes with every health check; the menu only when what it shows does.
    if (entries == m_entries)
        return;
    m_entries = entries;
    rebuildServiceEntries();
}

void TrayIcon::rebuildServiceEntries()
{
    const QList<QAction *> actions = m_menu->actions();
    for (QAction *action : actions) {
        if (action == m_servicesEnd)
            break;
        delete action->menu(); // and its action with it
    }
    for (const Entry &entry : std::as_const(m_entries)) {
        // "&" would mark a keyboard accelerator in a menu title.
        auto *service = new QMenu(QString(entry.name).replace(u'&', QStringLiteral("&&")), m_menu.get());
        QAction *copy = service->addAction(QStringLiteral("复制链接"));
        copy->setObjectName(QStringLiteral("trayCopyAction"));
        copy->setEnabled(entry.hasAddress);
        connect(copy, &QAction::triggered, this, [this, id = entry.id] { copyAddress(id); });
        m_menu->insertMenu(m_servicesEnd, service);
    }
    m_servicesEnd->setVisible(!m_entries.isEmpty());
}

void TrayIcon::copyAddress(const QUuid &id) const
{
    for (const TunnelSession *session : m_store->sessions()) {
        if (session->id() == id)
            copyPublicAddress(session);
    }
}
