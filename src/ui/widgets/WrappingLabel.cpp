#include "ui/widgets/WrappingLabel.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

namespace {

// Han, kana, hangul and full-width forms break anywhere; the runs that grow long are everything else.
bool joinsWord(QChar c)
{
    return !c.isSpace() && c.unicode() < 0x2E80;
}

QString withLongWordsShortened(const QString &text, int limit)
{
    QString result;
    result.reserve(text.size());
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && joinsWord(text.at(end)))
            ++end;
        if (end == start) {
            result += text.at(start++);
            continue;
        }
        const qsizetype length = end - start;
        if (length > limit) {
            const qsizetype head = (limit - 1) / 2;
            const qsizetype tail = limit - 1 - head;
            result += text.mid(start, head) + u'…' + text.mid(end - tail, tail);
        } else {
            result += text.mid(start, length);
        }
        start = end;
    }
    return result;
}

} // namespace

WrappingLabel::WrappingLabel(QWidget *parent)
    : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void WrappingLabel::setText(const QString &text)
{
    if (m_text == text)
        return;
    m_text = text;
    setAccessibleName(text);
    textChanged();
}

void WrappingLabel::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

void WrappingLabel::setMaximumLines(int lines)
{
    m_maxLines = lines;
    updateGeometry();
    update();
}

void WrappingLabel::setWordLimit(int characters)
{
    m_wordLimit = characters;
    textChanged();
}

QString WrappingLabel::shownText() const
{
    return m_wordLimit > 0 ? withLongWordsShortened(m_text, m_wordLimit) : m_text;
}

void WrappingLabel::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    update();
}

int WrappingLabel::layOut(QTextLayout &layout, qreal width) const
{
    QTextOption option(m_alignment);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setText(shownText());
    layout.setFont(font());
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    int count = 0;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(qMax<qreal>(1, width));
        line.setPosition(QPointF(0, y));
        y += QFontMetricsF(font()).lineSpacing();
        ++count;
    }
    layout.endLayout();
    return count;
}

int WrappingLabel::lineCount(int width) const
{
    if (m_text.isEmpty())
        return 0;
    if (width != m_measuredWidth) {
        QTextLayout layout;
        m_measuredLines = layOut(layout, width);
        m_measuredWidth = width;
    }
    return m_measuredLines;
}

void WrappingLabel::textChanged()
{
    m_measuredWidth = -1;
    updateGeometry();
    update();
}

int WrappingLabel::heightForWidth(int width) const
{
    int lines = qMax(1, lineCount(width));
    if (m_maxLines > 0)
        lines = qMin(lines, m_maxLines);
    return qCeil(lines * QFontMetricsF(font()).lineSpacing());
}

QSize WrappingLabel::sizeHint() const
{
    // Prefer one line up to a moderate width; a layout gives more room and heightForWidth follows.
    const int natural = qCeil(QFontMetricsF(font()).horizontalAdvance(shownText())) + 1;
    const int width = qMin(natural, 320);
    return { width, heightForWidth(width) };
}

QSize WrappingLabel::minimumSizeHint() const
{
    const int width = qCeil(QFontMetricsF(font()).averageCharWidth() * 4);
    return { width, qCeil(QFontMetricsF(font()).lineSpacing()) };
}

void WrappingLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(m_color.isValid() ? m_color : palette().color(QPalette::WindowText));
    painter.setFont(font());
    QTextLayout layout;
    const int count = layOut(layout, width());
    const int shown = m_maxLines > 0 ? qMin(count, m_maxLines) : count;
    for (int i = 0; i < shown; ++i) {
        const QTextLine line = layout.lineAt(i);
        if (i == shown - 1 && shown < count) {
            // The last allowed line takes the rest of the text, shortened to fit.
            const QString rest = layout.text().mid(line.textStart());
            const QString elided = QFontMetricsF(font()).elidedText(rest, Qt::ElideRight, width());
            painter.drawText(
                QRectF(0, line.y(), width(), line.height()), int(m_alignment) | Qt::TextSingleLine, elided);
        } else {
            line.draw(&painter, QPointF(0, 0));
        }
    }
}

void WrappingLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        textChanged();
    QWidget::changeEvent(event);
}
