#pragma once

#include "session/TunnelSession.h"

#include <QPointer>
#include <QScrollArea>
#include <QTimer>

#include <QElapsedTimer>
#include <QList>
#include <functional>

class ActivityRow;
class CircleSymbolButton;
class DisclosureButton;
class FactRow;
class HealthCard;
class IconTextLabel;
class QLabel;
class QLineEdit;
class QMessageBox;
class QVBoxLayout;
class SegmentedPicker;
class SessionStatusBadge;
class SymbolView;
class TextButton;
class ActionButton;
class ToggleSwitch;
class UrlText;
class WrappingLabel;

/// \brief The right-hand pane for one service: name, status, health, configuration, public link and
/// activity. Edits go straight into the session's profile; starting and deleting ask first.
///
/// Session changes are coalesced into at most one refresh per frame, which sets texts and visibility
/// in place; the activity list follows at a slower pace and reuses its rows.
class TunnelDetailView : public QScrollArea
{
    Q_OBJECT

public:
    explicit TunnelDetailView(TunnelSession *session, QWidget *parent = nullptr);
    ~TunnelDetailView() override;

    TunnelSession *session() const { return m_session; }

    static QString startTitle(const TunnelStatus &status);
    static QString startSymbol(const TunnelStatus &status);
    static QString localHealthDetail(const TunnelSession &session);
    static QString publicHealthDetail(const TunnelSession &session);
    static QString deleteTitle(const QString &profileName);

    bool isCopied() const { return m_copied; }
    bool showAdvanced() const { return m_showAdvanced; }
    /// How many times the pane has redrawn itself from the session.
    int refreshCount() const { return m_refreshCount; }
    /// Redraws from the session at once; session changes do this at most once per frame by themselves.
    void refresh();

signals:
    /// The user confirmed deleting this service. Emitted from the event loop, never from inside the alert.
    void deleteConfirmed(const QUuid &id);

private:
    QWidget *buildHeader();
    QWidget *buildHealthRow();
    QWidget *buildConfigurationCard();
    QWidget *buildPublicLinkCard();
    QWidget *buildActivityCard();
    QLineEdit *labelledField(QVBoxLayout *column, const QString &label, const QString &placeholder,
        const QString &objectName, void (TunnelDetailView::*handleEdited)(const QString &), QWidget *parent);
    void setTabOrder();

    void scheduleRefresh();
    void refreshState();
    void refreshConfiguration(const TunnelSession &session);
    void refreshPublicLink(const TunnelSession &session);
    void refreshActivity(const TunnelSession &session);
    void refreshCopyButton();

    void editProfile(const std::function<void(TunnelProfile &)> &edit);
    void handleNameEdited(const QString &text);
    void handleSchemePicked(int index);
    void handleHostEdited(const QString &text);
    void handlePortEdited(const QString &text);
    void handleSkipTLSToggled(bool checked);
    void handleDisclosureToggled(bool expanded);
    void handleStartClicked();
    void handleStopClicked();
    void handleDeleteClicked();
    void handleCopyClicked();
    void handleOpenClicked();
    void handleClearClicked();

    QMessageBox *makeAlert(const QString &title, const QString &message);

    QPointer<TunnelSession> m_session;
    QTimer m_refreshTimer;
    QTimer m_activityTimer;
    QElapsedTimer m_activityClock;
    int m_refreshCount = 0;

    // View-local state.
    bool m_copied = false;
    bool m_showAdvanced = false;
    QPointer<QMessageBox> m_deleteAlert;
    QPointer<QMessageBox> m_startAlert;

    // Header
    QLineEdit *m_nameField = nullptr;
    SessionStatusBadge *m_badge = nullptr;
    CircleSymbolButton *m_deleteButton = nullptr;
    // Health
    HealthCard *m_localCard = nullptr;
    HealthCard *m_publicCard = nullptr;
    QLabel *m_lastChecked = nullptr;
    // Configuration
    SegmentedPicker *m_schemePicker = nullptr;
    QLineEdit *m_hostField = nullptr;
    QLineEdit *m_portField = nullptr;
    QWidget *m_disclosure = nullptr;
    DisclosureButton *m_disclosureButton = nullptr;
    QWidget *m_disclosureContent = nullptr;
    ToggleSwitch *m_skipTLSSwitch = nullptr;
    IconTextLabel *m_failureLabel = nullptr;
    ActionButton *m_startButton = nullptr;
    ActionButton *m_stopButton = nullptr;
    // Public link
    QWidget *m_linkBlock = nullptr;
    UrlText *m_urlText = nullptr;
    ActionButton *m_copyButton = nullptr;
    ActionButton *m_openButton = nullptr;
    QWidget *m_emptyLink = nullptr;
    SymbolView *m_emptyLinkSymbol = nullptr;
    QLabel *m_emptyLinkTitle = nullptr;
    FactRow *m_providerFact = nullptr;
    FactRow *m_originFact = nullptr;
    FactRow *m_connectedFact = nullptr;
    // Activity
    TextButton *m_clearButton = nullptr;
    QWidget *m_emptyActivity = nullptr;
    QScrollArea *m_activityScroll = nullptr;
    QVBoxLayout *m_activityLayout = nullptr;
    QList<ActivityRow *> m_activityRows; // top down; the first m_shownActivity are visible
    qsizetype m_shownActivity = -1;
};
