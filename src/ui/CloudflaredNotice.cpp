#include "ui/CloudflaredNotice.h"

#include "ui/TimeFormat.h"
#include "ui/style/ActionButton.h"
#include "ui/style/Theme.h"
#include "ui/widgets/Divider.h"
#include "ui/widgets/SymbolView.h"
#include "ui/widgets/ViewParts.h"

#include <QGridLayout>
#include <QLabel>

#include <utility>

namespace {

// Names and addresses only: a user should see where the software comes from, not paste a command.
const std::pair<const char16_t *, const char16_t *> s_sources[] = {
    { u"Debian / Ubuntu", u"Cloudflare 的 APT 软件源（pkg.cloudflare.com）中的 cloudflared 软件包" },
    { u"Fedora", u"Cloudflare 的 RPM 软件源（pkg.cloudflare.com）中的 cloudflared 软件包" },
    { u"Arch Linux", u"官方软件仓库中的 cloudflared 软件包" },
    { u"任何发行版",
        u"cloudflared 的发布页 github.com/cloudflare/cloudflared/releases 上的 .deb、.rpm "
        u"安装包或可直接运行的程序文件" },
};

/// A wrapping text, made selectable when first shown (listed in \a selectable).
QLabel *textLabel(const QString &text, const QFont &font, const QColor &color, QList<QLabel *> &selectable)
{
    QLabel *label = ViewParts::label(text, font, color);
    selectable.append(label);
    label->setWordWrap(true);
    return label;
}

} // namespace

CloudflaredNotice::CloudflaredNotice(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("cloudflaredNotice"));
    ViewParts::fillBackground(this, Theme::accentSoft);
    auto *outer = ViewParts::column(0, this);
    auto *layout = ViewParts::row(10);
    layout->setContentsMargins(24, 12, 24, 12);
    outer->addLayout(layout);
    outer->addWidget(new Divider(Qt::Horizontal, this));
    auto *icon = new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), 13, QFont::DemiBold, 18, this);
    icon->setColor(Theme::warning);
    layout->addWidget(icon, 0, Qt::AlignTop);

    auto *texts = ViewParts::column(6);
    texts->addWidget(textLabel(
        QStringLiteral("隧道需要 cloudflared"), Theme::font(12, QFont::Bold), Theme::text, m_selectableTexts));
    texts->addWidget(textLabel(QStringLiteral("奥文塔通过 Cloudflare 的 cloudflared 程序建立临时隧道，但本机没有找到它"
                                              "（已查找随附的副本、PATH 中的目录、/usr/local/bin 和 /usr/bin）。"
                                              "安装后点“重新检测”即可使用，无需重启奥文塔。"),
        Theme::font(10), Theme::muted, m_selectableTexts));
    auto *sources = new QGridLayout;
    sources->setContentsMargins(0, 2, 0, 0);
    sources->setHorizontalSpacing(12);
    sources->setVerticalSpacing(4);
    int row = 0;
    for (const auto &[system, where] : s_sources) {
        sources->addWidget(
            textLabel(QString::fromUtf16(system), Theme::font(10, QFont::DemiBold), Theme::text, m_selectableTexts),
            row, 0, Qt::AlignTop);
        sources->addWidget(
            textLabel(QString::fromUtf16(where), Theme::font(10), Theme::text, m_selectableTexts), row, 1);
        ++row;
    }
    sources->setColumnStretch(1, 1);
    texts->addLayout(sources);
    layout->addLayout(texts, 1);

    auto *action = ViewParts::column(6);
    m_redetect = new ActionButton(PrimaryButtonStyle { true }, this);
    m_redetect->setObjectName(QStringLiteral("redetectButton"));
    m_redetect->setSymbol(QStringLiteral("arrow.triangle.2.circlepath"));
    m_redetect->setText(QStringLiteral("重新检测"));
    connect(m_redetect, &QAbstractButton::clicked, this, &CloudflaredNotice::redetectRequested);
    action->addWidget(m_redetect, 0, Qt::AlignRight);
    m_outcome = ViewParts::label(QString(), Theme::font(9), Theme::subtle, this);
    m_outcome->setObjectName(QStringLiteral("redetectOutcome"));
    action->addWidget(m_outcome, 0, Qt::AlignRight);
    action->addStretch(1);
    layout->addLayout(action);
    setVisible(false);
}

void CloudflaredNotice::showEvent(QShowEvent *event)
{
    // Selectable text costs a text document per label: made when a reader can first see them.
    for (QLabel *label : std::exchange(m_selectableTexts, {}))
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QWidget::showEvent(event);
}

QString CloudflaredNotice::notFound()
{
    return QStringLiteral("未找到");
}

void CloudflaredNotice::setState(const QString &version, bool detecting)
{
    const bool missing = version == notFound();
    // A look that ends still empty-handed must say so, or the button seems to do nothing.
    if (m_wasDetecting && !detecting && missing && m_wasMissing)
        m_outcome->setText(QStringLiteral("仍未找到（%1 检测）").arg(timeOfDay(QDateTime::currentDateTime())));
    m_wasDetecting = detecting;
    m_wasMissing = missing;
    m_redetect->setEnabled(!detecting);
    m_redetect->setOpacity(detecting ? 0.45 : 1.0);
    setVisible(missing);
}
