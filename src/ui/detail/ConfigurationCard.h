#pragma once

#include <QPointer>
#include <QWidget>

class ActionButton;
class DisclosureButton;
class IconTextLabel;
class QLineEdit;
class QVBoxLayout;
class SegmentedPicker;
class ToggleSwitch;
class TunnelSession;

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
    void startClicked();

private:
    QWidget *makeProviderTile();
    QLineEdit *labelledField(QVBoxLayout *column, const QString &label, const QString &placeholder,
        const QString &objectName, void (ConfigurationCard::*handleEdited)(const QString &));
    void makeDisclosure();
    void handleSchemePicked(int index);
    void handleHostEdited(const QString &text);
    void handlePortEdited(const QString &text);

    QPointer<TunnelSession> m_session;
    bool m_showAdvanced = false;
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
};
