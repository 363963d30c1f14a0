#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QScrollArea>
#include <QTimer>
#include <QUuid>

class ActivityCard;
class ConfigurationCard;
class DetailHeader;
class GateCard;
class HealthRow;
class PublicLinkCard;
class QMessageBox;
class TunnelSession;
class VisitorLogCard;

/// \brief The right-hand pane for one service: header, health tiles, configuration, public link, access
/// control, visitors and activity, each a card that refreshes itself from the session. Starting and deleting ask first.
///
/// Session changes are coalesced into at most one refresh per frame, which sets texts and visibility
/// in place; the activity list follows at a slower pace.
class TunnelDetailView : public QScrollArea
{
    Q_OBJECT

public:
    explicit TunnelDetailView(TunnelSession *session, QWidget *parent = nullptr);
    ~TunnelDetailView() override;

    TunnelSession *session() const { return m_session; }

    /// The delete confirmation's title for a service named \a profileName.
    static QString deleteTitle(const QString &profileName);

    bool isCopied() const;
    bool showAdvanced() const;
    /// How many times the pane has redrawn itself from the session.
    int refreshCount() const { return m_refreshCount; }
    /// Redraws from the session at once; session changes do this at most once per frame by themselves.
    void refresh();

    // What the pane's buttons do, for the keyboard and the menu.
    /// Asks before deleting, as the delete button does.
    void askToDelete();
    /// An idle or failed service asks before starting, as the start button does; a running one stops.
    /// Nothing while it is stopping.
    void startOrStop();
    void copyPublicAddress();

signals:
    /// The user confirmed deleting this service. Emitted from the event loop, never from inside the alert.
    void deleteConfirmed(const QUuid &id);

protected:
    bool event(QEvent *event) override;

private:
    void setTabOrder();
    void scheduleRefresh();
    void refreshState();
    void refreshActivity();
    QMessageBox *makeAlert(const QString &title, const QString &message);
    void handleStartClicked();

    QPointer<TunnelSession> m_session;
    QTimer m_refreshTimer;
    QTimer m_activityTimer;
    QElapsedTimer m_activityClock;
    int m_refreshCount = 0;
    QPointer<QMessageBox> m_deleteAlert;
    QPointer<QMessageBox> m_startAlert;

    QWidget *m_pendingContent = nullptr; // built, not yet in the scroll area
    DetailHeader *m_header = nullptr;
    HealthRow *m_health = nullptr;
    ConfigurationCard *m_configuration = nullptr;
    PublicLinkCard *m_publicLink = nullptr;
    GateCard *m_gate = nullptr;
    VisitorLogCard *m_visitors = nullptr;
    ActivityCard *m_activity = nullptr;
};
