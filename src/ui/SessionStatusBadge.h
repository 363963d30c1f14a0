#pragma once

#include "model/SessionState.h"

#include <QPointer>
#include <QWidget>

#include "session/TunnelSession.h"

/// \brief The status capsule of the detail pane: a dot and the session's summary label in one colour.
class SessionStatusBadge : public QWidget
{
    Q_OBJECT

public:
    explicit SessionStatusBadge(TunnelSession *session, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void handleSessionChanged();
    QColor color() const;

    QPointer<TunnelSession> m_session;
    QString m_shownLabel;
};
