#include "ui/WarningBanner.h"

#include "ui/style/Theme.h"
#include "ui/widgets/CircleSymbolButton.h"
#include "ui/widgets/SymbolView.h"
#include "ui/widgets/ViewParts.h"

#include <QHBoxLayout>
#include <QLabel>

WarningBanner::WarningBanner(const QString &name, bool closable, QWidget *parent)
    : QWidget(parent)
    , m_reason(ViewParts::label(QString(), Theme::font(10, QFont::Medium), Theme::danger, this))
{
    setObjectName(name + QStringLiteral("Banner"));
    // The tint laid over the window's background, as one opaque colour.
    const QColor tint = Theme::withOpacity(Theme::danger, 0.1);
    const QColor &under = Theme::background;
    const qreal a = tint.alphaF();
    ViewParts::fillBackground(this,
        QColor::fromRgbF(float(tint.redF() * a + under.redF() * (1 - a)),
            float(tint.greenF() * a + under.greenF() * (1 - a)), float(tint.blueF() * a + under.blueF() * (1 - a))));
    auto *layout = ViewParts::row(8, this);
    layout->setContentsMargins(24, 9, 24, 9);
    auto *icon = new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), 11, QFont::DemiBold, 16, this);
    icon->setColor(Theme::danger);
    layout->addWidget(icon, 0, Qt::AlignTop);
    m_reason->setObjectName(name + QStringLiteral("Reason"));
    m_reason->setWordWrap(true);
    m_reason->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_reason, 1);
    if (closable) {
        auto *close = new CircleSymbolButton(QStringLiteral("xmark"), 10, QFont::Medium, Theme::danger,
            Theme::withOpacity(Theme::danger, 0.08), 20, 20, QStringLiteral("关闭"), this);
        close->setObjectName(name + QStringLiteral("Close"));
        connect(close, &QAbstractButton::clicked, this, [this] {
            hide();
            emit closed();
        });
        layout->addWidget(close, 0, Qt::AlignTop);
    }
    setVisible(false);
}

void WarningBanner::setReason(const QString &reason)
{
    if (m_reason->text() != reason) {
        m_reason->setText(reason);
        setAccessibleDescription(reason);
    }
    setVisible(!reason.isEmpty());
}
