#include "app/TrayIcon.h"

#include <QMenu>

TrayIcon::TrayIcon(const QIcon &icon, QObject *parent)
    : QObject(parent)
    , m_menu(std::make_unique<QMenu>())
    , m_tray(icon)
{
    QAction *show = m_menu->addAction(QStringLiteral("显示主窗口"));
    show->setObjectName(QStringLiteral("trayShowAction"));
    connect(show, &QAction::triggered, this, &TrayIcon::showWindowRequested);
    m_menu->addSeparator();
    QAction *quit = m_menu->addAction(QStringLiteral("退出 奥文塔"));
    quit->setObjectName(QStringLiteral("trayQuitAction"));
    connect(quit, &QAction::triggered, this, &TrayIcon::quitRequested);

    m_tray.setToolTip(QStringLiteral("奥文塔"));
    m_tray.setContextMenu(m_menu.get());
    connect(&m_tray, &QSystemTrayIcon::activated, this, &TrayIcon::handleTrayActivated);
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
