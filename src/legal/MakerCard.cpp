#include "legal/MakerCard.h"

#include "legal/MiravoBrand.h"
#include "ui/style/Painting.h"
#include "ui/style/Theme.h"
#include "ui/widgets/LogoTile.h"
#include "ui/widgets/RoundedBox.h"
#include "ui/widgets/SymbolView.h"
#include "ui/widgets/ViewParts.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace {

/// A one-line label that shrinks its font down to \a minimumScale of its size before it would clip.
class FittingLabel : public QLabel
{
public:
    FittingLabel(const QString &text, const QFont &font, const QColor &color, qreal minimumScale)
        : m_baseFont(font)
        , m_minimumScale(minimumScale)
    {
        setText(text);
        setTextFormat(Qt::PlainText);
        setFont(font);
        ViewParts::setTextColor(this, color);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(m_baseFont);
        return { metrics.horizontalAdvance(text()), metrics.height() };
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        const int natural = QFontMetrics(m_baseFont).horizontalAdvance(text());
        QFont fitted = m_baseFont;
        if (natural > width() && natural > 0) {
            const qreal scale = qMax(m_minimumScale, qreal(width()) / natural);
            fitted.setPixelSize(qMax(1, int(m_baseFont.pixelSize() * scale)));
        }
        if (fitted != font())
            setFont(fitted);
    }

private:
    QFont m_baseFont;
    qreal m_minimumScale;
};

QWidget *makeCallToAction()
{
    auto *callToAction = new RoundedBox(8, Theme::accent);
    callToAction->setFixedHeight(30);
    auto *layout = new QHBoxLayout(callToAction);
    ViewParts::space(layout, 7, 10, 0);
    auto *message = new SymbolView(QStringLiteral("message.fill"), 9, QFont::DemiBold, 14);
    message->setColor(Qt::white);
    layout->addWidget(message);
    layout->addWidget(
        ViewParts::label(QStringLiteral("需要服务，请联系弥罗科技"), Theme::font(9.5, QFont::Bold), Qt::white));
    layout->addStretch(1);
    auto *forward = new SymbolView(QStringLiteral("arrow.right"), 9, QFont::Bold, 14);
    forward->setColor(Qt::white);
    layout->addWidget(forward);
    return callToAction;
}

QWidget *makeCard()
{
    auto *card = new RoundedBox(13, Theme::panel, Theme::withOpacity(Theme::accent, 0.28), 1.2);
    auto *stack = new QVBoxLayout(card);
    ViewParts::space(stack, 9, 12, 12);

    auto *top = new QHBoxLayout;
    ViewParts::space(top, 10, 0, 0);
    top->addWidget(new LogoTile(LogoTileKind::company, 48, 11));
    auto *texts = new QVBoxLayout;
    ViewParts::space(texts, 4, 0, 0);
    auto *nameRow = new QHBoxLayout;
    ViewParts::space(nameRow, 6, 0, 0);
    nameRow->addWidget(ViewParts::label(QStringLiteral("弥罗科技"), Theme::font(13, QFont::Bold), Theme::text));
    auto *tag = new RoundedBox(7, Theme::accentSoft);
    auto *tagLayout = new QHBoxLayout(tag);
    ViewParts::space(tagLayout, 0, 5, 2);
    tagLayout->addWidget(ViewParts::label(QStringLiteral("技术服务"), Theme::font(7.5, QFont::Bold), Theme::accent));
    nameRow->addWidget(tag);
    nameRow->addStretch(1);
    texts->addLayout(nameRow);
    texts->addWidget(
        new FittingLabel(QStringLiteral("软件开发 / 软件外包"), Theme::font(9.2, QFont::DemiBold), Theme::muted, 0.72));
    texts->addWidget(new FittingLabel(
        QStringLiteral("AI Agent 搭建 / 一人公司技术支持"), Theme::font(8.5, QFont::Medium), Theme::subtle, 0.72));
    top->addLayout(texts, 1);
    auto *arrow = new SymbolView(QStringLiteral("arrow.up.right"), 10, QFont::Bold, 26);
    arrow->setColor(Theme::accent);
    arrow->setCircleColor(Theme::accentSoft);
    top->addWidget(arrow);
    stack->addLayout(top);
    stack->addWidget(makeCallToAction());
    Painting::dropShadow(card, 13, Theme::withOpacity(Theme::accent, 0.1), 12, 5);
    return card;
}

} // namespace

MakerCard::MakerCard(QWidget *parent)
    : ButtonBase(parent)
{
    setObjectName(QStringLiteral("serviceCard"));
    setToolTip(QStringLiteral("联系弥罗科技"));
    setAccessibleName(toolTip());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 0, 12, 0);
    QWidget *card = makeCard();
    // The card is the button's face: every click lands on the button.
    card->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout->addWidget(card);
    connect(
        this, &QAbstractButton::clicked, this, [] { MiravoBrand::openWebsite(MiravoBrand::serviceContactWebsite()); });
}

QSize MakerCard::sizeHint() const
{
    return layout()->sizeHint();
}

QSize MakerCard::minimumSizeHint() const
{
    return layout()->minimumSize();
}

void MakerCard::paintEvent(QPaintEvent *)
{
    if (!hasFocus())
        return;
    QPainter painter(this);
    Painting::roundedRect(painter, rect(), 8, {}, Theme::withOpacity(Theme::accent, 0.6), 2);
}
