#include "ui/HealthCard.h"

#include "ui/style/CardBackground.h"
#include "ui/style/Theme.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/SymbolView.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

HealthCard::HealthCard(const QString &title, const QString &icon, QWidget *parent)
    : QWidget(parent)
    , m_symbol(new SymbolView(icon, 13, QFont::Medium, 37, this))
    , m_title(new ElidedLabel(Qt::ElideRight, this))
    , m_state(new ElidedLabel(Qt::ElideRight, this))
    , m_detail(new ElidedLabel(Qt::ElideMiddle, this))
{
    applyCardBackground(this, 12);
    setMinimumHeight(72);
    m_title->setFont(Theme::font(11, QFont::DemiBold));
    m_title->setColor(Theme::text);
    m_title->setText(title);
    m_state->setObjectName(QStringLiteral("healthState"));
    m_detail->setObjectName(QStringLiteral("healthDetail"));
    m_state->setFont(Theme::font(8, QFont::DemiBold));
    m_detail->setFont(Theme::font(8));
    m_detail->setColor(Theme::subtle);

    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    titleRow->addWidget(m_title);
    titleRow->addWidget(m_state);
    titleRow->addStretch(1);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addLayout(titleRow);
    texts->addWidget(m_detail);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(13, 0, 13, 0);
    layout->setSpacing(11);
    layout->addWidget(m_symbol, 0, Qt::AlignVCenter);
    layout->addLayout(texts, 1);
    setState(HealthState::unknown());
}

QString HealthCard::stateLabel(const HealthState &state)
{
    switch (state.kind) {
    case HealthState::Kind::unknown:
        return QStringLiteral("等待检测");
    case HealthState::Kind::checking:
        return QStringLiteral("检测中");
    case HealthState::Kind::healthy:
        return QStringLiteral("正常");
    case HealthState::Kind::inactive:
        return QStringLiteral("未启动");
    case HealthState::Kind::unhealthy:
        return QStringLiteral("异常");
    }
    return {};
}

QColor HealthCard::stateColor(const HealthState &state)
{
    switch (state.kind) {
    case HealthState::Kind::checking:
        return Theme::warning;
    case HealthState::Kind::healthy:
        return Theme::success;
    case HealthState::Kind::unhealthy:
        return Theme::danger;
    case HealthState::Kind::unknown:
    case HealthState::Kind::inactive:
        break;
    }
    return Theme::subtle;
}

void HealthCard::setState(const HealthState &state)
{
    const QColor color = stateColor(state);
    m_symbol->setColor(color);
    m_symbol->setCircleColor(Theme::withOpacity(color, 0.11));
    m_state->setColor(color);
    m_state->setText(stateLabel(state));
    setAccessibleName(m_title->text() + u' ' + m_state->text());
}

void HealthCard::setDetail(const QString &detail)
{
    if (m_detail->text() != detail) {
        m_detail->setText(detail);
        setAccessibleDescription(detail);
    }
}
