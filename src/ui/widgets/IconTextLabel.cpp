#include "ui/widgets/IconTextLabel.h"

#include "ui/style/Theme.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/SymbolView.h"
#include "ui/widgets/WrappingLabel.h"

#include <QFontMetricsF>
#include <QHBoxLayout>

IconTextLabel::IconTextLabel(const QString &symbolName, const QString &text, qreal size, QFont::Weight weight,
    const QColor &color, Lines lines, QWidget *parent)
    : QWidget(parent)
    , m_color(color)
{
    const QFont font = Theme::font(size, weight);
    const int lineHeight = qCeil(QFontMetricsF(font).height());
    m_symbol = new SymbolView(symbolName, size, weight, lineHeight, this);
    m_symbol->setColor(color);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(qRound(size * 0.5));
    if (lines == Lines::single) {
        m_line = new ElidedLabel(Qt::ElideRight, this);
        m_line->setFont(font);
        m_line->setColor(color);
        m_line->setText(text);
        layout->addWidget(m_symbol, 0, Qt::AlignVCenter);
        layout->addWidget(m_line, 1);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    } else {
        m_wrapping = new WrappingLabel(this);
        m_wrapping->setFont(font);
        m_wrapping->setColor(color);
        m_wrapping->setText(text);
        layout->addWidget(m_symbol, 0, Qt::AlignTop);
        layout->addWidget(m_wrapping, 1);
    }
    setAccessibleName(text);
}

QString IconTextLabel::text() const
{
    return m_line ? m_line->text() : m_wrapping->text();
}

void IconTextLabel::setText(const QString &text)
{
    if (text == this->text())
        return;
    if (m_line)
        m_line->setText(text);
    else
        m_wrapping->setText(text);
    setAccessibleName(text);
}

void IconTextLabel::setWordLimit(int characters)
{
    if (m_wrapping)
        m_wrapping->setWordLimit(characters);
}

QString IconTextLabel::symbol() const
{
    return m_symbol->symbol();
}

void IconTextLabel::setSymbol(const QString &symbolName)
{
    m_symbol->setSymbol(symbolName);
}

void IconTextLabel::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    m_symbol->setColor(color);
    if (m_line)
        m_line->setColor(color);
    else
        m_wrapping->setColor(color);
}
