#pragma once

#include "legal/LegalNoticeView.h"

#include <QHash>
#include <QMessageBox>
#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <optional>

class CloudflaredNotice;
class LegalNoticeGate;
class QLabel;
class QScrollArea;
class QVBoxLayout;
class Preferences;
class ServiceActions;
class ServiceSidebarRow;
class SummaryPill;
class ActionButton;
class TunnelSession;
class TunnelStore;
class WarningBanner;

/// \brief The root of the main window: header with counters and the group actions, the service list,
/// the detail pane of the selected service and the footer. Shows the legal notice until it is accepted.
class ContentView : public QWidget
{
    Q_OBJECT

public:
    /// \a store and \a preferences must outlive the view.
    ContentView(TunnelStore *store, Preferences *preferences, QWidget *parent = nullptr);
    ~ContentView() override;

    /// The notice on screen, if any.
    LegalNoticeView *legalNotice() const;
    /// The detail pane of the selected service, or the empty detail.
    QWidget *detail() const { return m_detail; }

    /// Add, delete, start or stop, copy the address: with their shortcuts, for the menu bar.
    QList<QAction *> serviceActions() const;

    /// Opens the notice: asking for agreement while it is not accepted, for reading otherwise.
    void showLegalNotice();

signals:
    /// The user declined the notice: the program should quit.
    void quitRequested();

protected:
    void changeEvent(QEvent *event) override;

private:
    QWidget *makeHeader();
    QWidget *makeSidebar();
    QWidget *makeServiceList();
    QWidget *makeRefreshNote();
    QWidget *makeEmptyDetail();
    QWidget *makeFooter();

    void insertRow(TunnelSession *session, int index);
    void handleStoreChanged();
    void handleSessionAdded(TunnelSession *session, int index);
    void handleSessionRemoved(const QUuid &id, int index);
    void handleSelectionChanged();
    void handleRowNavigation(const QUuid &from, int key);
    void handleStartAllClicked();
    void rebuildDetail();
    /// Looks for `cloudflared` again when the last look found none that works.
    void redetectIfUnusable();

    TunnelStore *m_store;
    LegalNoticeGate *m_gate;
    ServiceActions *m_actions = nullptr;
    WarningBanner *m_saveErrorBanner = nullptr;
    WarningBanner *m_unreadableBanner = nullptr;
    CloudflaredNotice *m_cloudflaredNotice = nullptr;

    SummaryPill *m_servicesPill = nullptr;
    SummaryPill *m_runningPill = nullptr;
    ActionButton *m_startAll = nullptr;
    ActionButton *m_stopAll = nullptr;
    QScrollArea *m_listScroll = nullptr;
    QVBoxLayout *m_rowsLayout = nullptr;
    QHash<QUuid, ServiceSidebarRow *> m_rows;
    QVBoxLayout *m_detailLayout = nullptr;
    QWidget *m_detail = nullptr;
    std::optional<QUuid> m_detailID;
    QLabel *m_versionLabel = nullptr;

    int m_shownServices = -1;
    int m_shownRunning = -1;

    QPointer<QMessageBox> m_startAllConfirmation;
};
