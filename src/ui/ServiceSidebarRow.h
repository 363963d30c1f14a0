#pragma once

#include "model/SessionState.h"

#include "ui/widgets/ButtonBase.h"
#include <QPointer>

#include "session/TunnelSession.h"

class RoundedShadow;

/// \brief One service in the sidebar list: symbol, name, address and summary in the row colour.
/// Clicking it emits clicked(); the list decides what selection means.
class ServiceSidebarRow : public ButtonBase
{
    Q_OBJECT

public:
    explicit ServiceSidebarRow(TunnelSession *session, QWidget *parent = nullptr);

    TunnelSession *session() const { return m_session; }

    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    /// Up, Down, Home or End was pressed on the row: the list should select another.
    void navigationRequested(int key);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    bool event(QEvent *event) override;

private:
    void handleSessionChanged();
    QColor rowColor() const;
    /// "network" while the tunnel is active, else "server.rack".
    QString symbol() const;
    QString name() const;
    QString address() const;

    QPointer<TunnelSession> m_session;
    bool m_selected = false;
    bool m_hovering = false;
    /// The focus came from a click: the row is where arrow keys act, but shows no focus ring.
    bool m_focusFromMouse = false;
    RoundedShadow *m_shadow = nullptr;
    // What the row last drew besides its texts, to skip repaints when a change leaves it alone.
    QRgb m_shownColor = 0;
    bool m_shownActive = false;
};
