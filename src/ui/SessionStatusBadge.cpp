#include "ui/SessionStatusBadge.h"

#include "session/TunnelSession.h"
#include "ui/StatusColor.h"
#include "ui/style/Painting.h"
#include "ui/style/Theme.h"

#include <QFontMetricsF>
#include <QPainter>

namespace {
constexpr qreal padding = 12;
constexpr qreal dot = 7;
constexpr qreal gap = 7;
constexpr int badgeHeight = 31;
} // namespace

SessionStatusBadge::SessionStatusBadge(TunnelSession *session, QWidget *parent)
    : QWidget(parent)
    , m_session(session)
{
    setFont(Theme::font(10, QFont::DemiBold));
    setFixedHeight(badgeHeight);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(session, &TunnelSession::changed, this, &SessionStatusBadge::handleSessionChanged);
    handleSessionChanged();
}

QColor SessionStatusBadge::color() const
{
    return m_session ? statusColor(m_session->status(), m_session->overallIsHealthy(), false) : Theme::subtle;
}

void SessionStatusBadge::handleSessionChanged()
{
    const QString label = m_session ? m_session->overallLabel() : QString();
    if (label != m_shownLabel) {
        m_shownLabel = label;
        setAccessibleName(label);
        updateGeometry();
    }
    update();
}

QSize SessionStatusBadge::sizeHint() const
{
    const qreal width = padding + dot + gap + QFontMetricsF(font()).horizontalAdvance(m_shownLabel) + padding;
    return { qCeil(width), badgeHeight };
}

void SessionStatusBadge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor c = color();
    Painting::roundedRect(painter, rect(), height() / 2.0, Theme::withOpacity(c, 0.09), Theme::withOpacity(c, 0.18));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(c);
    painter.drawEllipse(QRectF(padding, (height() - dot) / 2, dot, dot));
    painter.setPen(c);
    painter.setFont(font());
    painter.drawText(QRectF(padding + dot + gap, 0, width(), height()), Qt::AlignVCenter | Qt::AlignLeft, m_shownLabel);
}
