#pragma once

#include <QList>
#include <QObject>
#include <QSystemTrayIcon>
#include <QUuid>

#include <memory>

class QAction;
class QMenu;
class TunnelStore;

/// \brief The product tile in the desktop's system tray, where there is one: its tool-tip counts the
/// running tunnels, a click shows the window, the menu copies the link of each running service and
/// offers the window and quitting.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    /// \a store must outlive the icon.
    TrayIcon(const QIcon &icon, TunnelStore *store, QObject *parent = nullptr);
    ~TrayIcon() override;

    void hide();
    QString toolTip() const { return m_tray.toolTip(); }
    QMenu *menu() const { return m_menu.get(); }

signals:
    void showWindowRequested();
    void quitRequested();

private:
    /// A running service as its menu entry shows it.
    struct Entry
    {
        QUuid id;
        QString name;
        bool hasAddress = false;
        bool operator==(const Entry &) const = default;
    };

    void handleTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void handleStoreChanged();
    void rebuildServiceEntries();
    void copyAddress(const QUuid &id) const;

    TunnelStore *const m_store;
    std::unique_ptr<QMenu> m_menu;
    QAction *m_servicesEnd = nullptr; ///< the separator below the services
    QList<Entry> m_entries;
    QSystemTrayIcon m_tray;
};
