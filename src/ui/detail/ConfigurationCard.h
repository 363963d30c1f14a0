#pragma once

#include <QPointer>
#include <QWidget>

class ActionButton;
class DisclosureButton;
class IconTextLabel;
class QVBoxLayout;
class SegmentedPicker;
class SingleLineField;
class ToggleSwitch;
class TunnelSession;
struct TunnelProfile;

/// \brief The connection form: provider, local protocol, host and port, the HTTPS options and the
/// start and stop buttons. Edits go straight into the session's profile; starting asks the pane first.
class ConfigurationCard : public QWidget
{
    Q_OBJECT

public:
    explicit ConfigurationCard(TunnelSession *session, QWidget *parent = nullptr);

    void refresh(const TunnelSession &session);
    /// Whether the HTTPS options are unfolded.
    bool showAdvanced() const { return m_showAdvanced; }

signals:
    /// The start button was pressed with a host and port that pass validation.
    void startClicked();

private:
    QWidget *makeProviderTile();
    SingleLineField *labelledField(QVBoxLayout *column, const QString &label, const QString &placeholder,
        const QString &objectName, void (ConfigurationCard::*handleEdited)(const QString &));
    void makeDisclosure();
    void handleSchemePicked(int index);
    void handleHostEdited(const QString &text);
    void handlePortEdited(const QString &text);
    void handleStartButtonClicked();
    /// Shows why the host or port cannot be used and returns that field, or hides the message.
    SingleLineField *showInputProblem(const TunnelProfile &profile);

    QPointer<TunnelSession> m_session;
    bool m_showAdvanced = false;
    SegmentedPicker *m_schemePicker = nullptr;
    SingleLineField *m_hostField = nullptr;
    SingleLineField *m_portField = nullptr;
    IconTextLabel *m_inputProblem = nullptr;
    QWidget *m_disclosure = nullptr;
    DisclosureButton *m_disclosureButton = nullptr;
    QWidget *m_disclosureContent = nullptr;
    ToggleSwitch *m_skipTLSSwitch = nullptr;
    IconTextLabel *m_failureLabel = nullptr;
    ActionButton *m_startButton = nullptr;
    ActionButton *m_stopButton = nullptr;
};
