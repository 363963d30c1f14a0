#pragma once

#include "gate/GateLocator.h"
#include "gate/GateSettings.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class ActionButton;
class IconTextLabel;
class SingleLineField;
class ToggleSwitch;
class TunnelSession;

/// \brief Who may open the public address and whether visits are recorded: the password switch with
/// the password (hidden unless asked, copied, or made up), and the visitor log switch. Edits go into
/// the session's gate settings and take effect at its next start. Without Caddy everything is off.
class GateCard : public QWidget
{
    Q_OBJECT

public:
    explicit GateCard(TunnelSession *session, const GateLocator &locator = GateLocator(), QWidget *parent = nullptr);

    void refresh(const TunnelSession &session);

private:
    void makePasswordRow();
    void editGate(const std::function<void(GateSettings &)> &edit);
    void setRevealed(bool revealed);
    void refreshNotes(const TunnelSession &session);

    QPointer<TunnelSession> m_session;
    bool m_available = false;
    bool m_revealed = false;
    ToggleSwitch *m_passwordSwitch = nullptr;
    QWidget *m_passwordRow = nullptr;
    SingleLineField *m_passwordField = nullptr;
    ActionButton *m_revealButton = nullptr;
    ToggleSwitch *m_visitorLogSwitch = nullptr;
    IconTextLabel *m_note = nullptr;
};
