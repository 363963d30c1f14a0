#pragma once

#include <QList>
#include <QObject>

#include <functional>

class QAction;
class TunnelDetailView;
class TunnelStore;

/// \brief The keyboard's way to the services, also listed in the "服务" menu: add one (Ctrl+N), delete
/// the selected one (Delete), start or stop it (Ctrl+Return), copy its public address (Ctrl+Shift+C).
/// Each goes through the selected service's pane, so starting and deleting ask as their buttons do.
class ServiceActions : public QObject
{
    Q_OBJECT

public:
    /// \a pane gives the pane of the selected service, or nullptr.
    ServiceActions(TunnelStore *store, std::function<TunnelDetailView *()> pane, QObject *parent = nullptr);

    /// In menu order.
    QList<QAction *> actions() const { return { m_add, m_delete, m_startStop, m_copyAddress }; }

    /// Enables and words the actions for the selected service as it is now.
    void refresh();

private:
    QAction *makeAction(const QString &name, const QList<QKeySequence> &shortcuts, void (TunnelDetailView::*act)());

    TunnelStore *m_store;
    std::function<TunnelDetailView *()> m_pane;
    QAction *m_add;
    QAction *m_delete;
    QAction *m_startStop;
    QAction *m_copyAddress;
};
