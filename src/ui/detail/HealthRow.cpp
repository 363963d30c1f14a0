#include "ui/detail/HealthRow.h"

#include "session/TunnelSession.h"
#include "ui/HealthCard.h"
#include "ui/TimeFormat.h"
#include "ui/detail/DetailParts.h"
#include "ui/style/CardBackground.h"
#include "ui/style/Theme.h"
#include "ui/widgets/ViewParts.h"

#include <QHBoxLayout>
#include <QLabel>

namespace {

QString localHealthDetail(const TunnelSession &session)
{
    if (session.localHealth().is(HealthState::Kind::unhealthy))
        return session.localHealth().message;
    if (!session.activeOrigin().isEmpty())
        return session.activeOrigin();
    return session.profile().host + u':' + session.profile().portText;
}

QString publicHealthDetail(const TunnelSession &session)
{
    if (session.publicHealth().is(HealthState::Kind::unhealthy))
        return session.publicHealth().message;
    if (session.publicURL() && !session.publicURL()->host().isEmpty())
        return session.publicURL()->host();
    return QStringLiteral("隧道未启动");
}

} // namespace

HealthRow::HealthRow(QWidget *parent)
    : QWidget(parent)
    , m_localCard(new HealthCard(QStringLiteral("本地服务"), QStringLiteral("desktopcomputer"), this))
    , m_publicCard(new HealthCard(QStringLiteral("公网入口"), QStringLiteral("globe.asia.australia.fill"), this))
{
    auto *layout = ViewParts::row(12, this);
    m_localCard->setObjectName(QStringLiteral("localHealthCard"));
    m_publicCard->setObjectName(QStringLiteral("publicHealthCard"));

    auto *lastCheck = new QWidget(this);
    applyCardBackground(lastCheck, 12);
    lastCheck->setMinimumHeight(72);
    auto *lastCheckLayout = ViewParts::column(7, lastCheck);
    lastCheckLayout->setContentsMargins(15, 0, 15, 0);
    lastCheckLayout->addStretch(1);
    lastCheckLayout->addWidget(
        DetailParts::label(QStringLiteral("最近检测"), 9, QFont::Medium, Theme::subtle, lastCheck));
    m_lastChecked = DetailParts::label(QString(), 12, QFont::DemiBold, Theme::text, lastCheck);
    m_lastChecked->setFont(Theme::monospacedFont(12, QFont::DemiBold));
    m_lastChecked->setObjectName(QStringLiteral("lastChecked"));
    lastCheckLayout->addWidget(m_lastChecked);
    lastCheckLayout->addStretch(1);

    // Three equal shares, whatever their texts.
    for (QWidget *tile : { static_cast<QWidget *>(m_localCard), static_cast<QWidget *>(m_publicCard), lastCheck }) {
        tile->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        tile->setMinimumWidth(120);
        layout->addWidget(tile, 1);
    }
}

void HealthRow::refresh(const TunnelSession &session)
{
    m_localCard->setState(session.localHealth());
    m_localCard->setDetail(localHealthDetail(session));
    m_publicCard->setState(session.publicHealth());
    m_publicCard->setDetail(publicHealthDetail(session));
    const QString lastChecked
        = session.lastCheckedAt() ? timeOfDay(*session.lastCheckedAt()) : QStringLiteral("等待首次检测");
    if (m_lastChecked->text() != lastChecked)
        m_lastChecked->setText(lastChecked);
}
