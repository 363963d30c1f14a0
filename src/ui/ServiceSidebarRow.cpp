#include "ui/ServiceSidebarRow.h"

#include "session/TunnelSession.h"
#include "ui/DisplayName.h"
#include "ui/StatusColor.h"
#include "ui/style/Painting.h"
#include "ui/style/RoundedShadow.h"
#include "ui/style/Theme.h"

#include <QFontMetricsF>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>

namespace {
constexpr qreal padding = 11;
constexpr qreal circle = 31;
constexpr qreal spacing = 10;
constexpr qreal dot = 7;
constexpr int rowHeight = 64;
constexpr qreal radius = 11;

QFont nameFont()
{
    return Theme::font(12, QFont::DemiBold);
}
QFont addressFont()
{
    return Theme::font(9);
}
QFont labelFont()
{
    return Theme::font(8, QFont::Medium);
}
} // namespace

ServiceSidebarRow::ServiceSidebarRow(TunnelSession *session, QWidget *parent)
    : ButtonBase(parent)
    , m_session(session)
{
    setMinimumHeight(rowHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
    m_shadow = Painting::dropShadow(this, radius, Theme::withOpacity(Qt::black, 0.035), 8, 3);
    m_shadow->setShadowShown(false);
    connect(session, &TunnelSession::changed, this, &ServiceSidebarRow::handleSessionChanged);
    handleSessionChanged();
}

void ServiceSidebarRow::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    m_shadow->setShadowShown(selected);
    update();
}

QColor ServiceSidebarRow::rowColor() const
{
    if (!m_session)
        return Theme::subtle;
    return statusColor(
        m_session->status(), m_session->overallIsHealthy(), m_session->localHealth().is(HealthState::Kind::healthy));
}

QString ServiceSidebarRow::symbol() const
{
    return m_session && m_session->status().isActive() ? QStringLiteral("network") : QStringLiteral("server.rack");
}

QString ServiceSidebarRow::name() const
{
    return m_session ? displayName(m_session->profile().name) : QString();
}

QString ServiceSidebarRow::address() const
{
    if (!m_session)
        return {};
    // As typed, but on one line: a stored line break would push the port onto a hidden second line.
    const TunnelProfile &profile = m_session->profile();
    QString text = profile.host + u':' + profile.portText;
    for (QChar &c : text) {
        if (QStringView(u"\n\r\v\f\u2028\u2029\u0085").contains(c))
            c = u' ';
    }
    return text;
}

void ServiceSidebarRow::handleSessionChanged()
{
    if (!m_session)
        return;
    // A tunnel writing its log changes the session many times a second without changing this row.
    const QString tip = QStringLiteral("切换到") + name();
    const QString description = address() + u' ' + m_session->overallLabel();
    const QRgb color = rowColor().rgba();
    const bool active = m_session->status().isActive();
    if (tip == toolTip() && description == accessibleDescription() && color == m_shownColor && active == m_shownActive)
        return;
    if (toolTip() != tip) {
        setToolTip(tip);
        setAccessibleName(name());
    }
    if (accessibleDescription() != description)
        setAccessibleDescription(description);
    m_shownColor = color;
    m_shownActive = active;
    update();
}

QSize ServiceSidebarRow::sizeHint() const
{
    return { 250, rowHeight };
}

QSize ServiceSidebarRow::minimumSizeHint() const
{
    return { 120, rowHeight };
}

void ServiceSidebarRow::enterEvent(QEnterEvent *event)
{
    m_hovering = true;
    update();
    ButtonBase::enterEvent(event);
}

void ServiceSidebarRow::leaveEvent(QEvent *event)
{
    m_hovering = false;
    update();
    ButtonBase::leaveEvent(event);
}

void ServiceSidebarRow::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (event->modifiers() == Qt::NoModifier
        && (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Home || key == Qt::Key_End)) {
        emit navigationRequested(key);
        return;
    }
    ButtonBase::keyPressEvent(event);
}

void ServiceSidebarRow::focusInEvent(QFocusEvent *event)
{
    m_focusFromMouse = event->reason() == Qt::MouseFocusReason;
    ButtonBase::focusInEvent(event);
}

bool ServiceSidebarRow::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        showPlainToolTip(this, static_cast<QHelpEvent *>(event)->globalPos(), toolTip());
        return true;
    }
    return ButtonBase::event(event);
}

void ServiceSidebarRow::paintEvent(QPaintEvent *)
{
    if (!m_session)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = rect();
    if (m_selected)
        Painting::roundedRect(painter, area, radius, Theme::accentSoft, Theme::withOpacity(Theme::accent, 0.18));
    else if (m_hovering)
        Painting::roundedRect(painter, area, radius, Theme::withOpacity(Theme::panel, 0.72), Theme::border);
    if (hasFocus() && !m_focusFromMouse)
        Painting::focusRing(painter, area, radius);

    const QColor color = rowColor();
    const qreal midY = area.height() / 2;

    // Leading symbol on its tinted circle.
    const QRectF circleRect(padding, midY - circle / 2, circle, circle);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::withOpacity(color, 0.12));
    painter.drawEllipse(circleRect);
    Painting::symbol(painter, circleRect, symbol(), 12, color, QFont::Medium);

    // Trailing dot over the summary label, right-aligned.
    const QString label = m_session->overallLabel();
    const QFontMetricsF labelMetrics(labelFont());
    const qreal trailingWidth = qMax(dot, labelMetrics.horizontalAdvance(label));
    const qreal trailingHeight = dot + 4 + labelMetrics.height();
    const qreal right = area.width() - padding;
    const qreal trailingTop = midY - trailingHeight / 2;
    painter.setBrush(color);
    painter.drawEllipse(QRectF(right - dot, trailingTop, dot, dot));
    painter.setFont(labelFont());
    painter.setPen(color);
    painter.drawText(QRectF(right - trailingWidth, trailingTop + dot + 4, trailingWidth, labelMetrics.height()),
        Qt::AlignRight | Qt::AlignVCenter, label);

    // Name and address between them, each on one line.
    const qreal textLeft = circleRect.right() + spacing;
    const qreal textWidth = qMax<qreal>(0, right - trailingWidth - spacing - textLeft);
    const QFontMetricsF nameMetrics(nameFont());
    const QFontMetricsF addressMetrics(addressFont());
    const qreal textHeight = nameMetrics.height() + 4 + addressMetrics.height();
    const qreal textTop = midY - textHeight / 2;
    painter.setFont(nameFont());
    painter.setPen(Theme::text);
    painter.drawText(QRectF(textLeft, textTop, textWidth, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
        nameMetrics.elidedText(name(), Qt::ElideRight, textWidth));
    painter.setFont(addressFont());
    painter.setPen(Theme::subtle);
    painter.drawText(QRectF(textLeft, textTop + nameMetrics.height() + 4, textWidth, addressMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter, addressMetrics.elidedText(address(), Qt::ElideMiddle, textWidth));
}
