#include "ui/widgets/UrlText.h"

#include <QFontMetricsF>
#include <QScrollBar>
#include <QTextLayout>

UrlText::UrlText(int maximumLines, QWidget *parent)
    : QPlainTextEdit(parent)
    , m_maximumLines(maximumLines)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTabChangesFocus(true);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    document()->setDocumentMargin(0);
    viewport()->setAutoFillBackground(false);
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::transparent);
    setPalette(p);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void UrlText::setText(const QString &text)
{
    if (toPlainText() == text)
        return;
    setPlainText(text);
    setAccessibleName(text);
    updateGeometry();
}

int UrlText::lineCount(int width) const
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QTextLayout layout(toPlainText(), font());
    layout.setTextOption(option);
    layout.beginLayout();
    int count = 0;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(qMax(1, width - 2));
        ++count;
    }
    layout.endLayout();
    return qMax(1, count);
}

int UrlText::heightForWidth(int width) const
{
    const int lines = qMin(lineCount(width), m_maximumLines);
    return qCeil(lines * QFontMetricsF(font()).lineSpacing()) + 2;
}

QSize UrlText::sizeHint() const
{
    const int width = 240;
    return {width, heightForWidth(width)};
}

QSize UrlText::minimumSizeHint() const
{
    return {40, heightForWidth(40) > 0 ? qCeil(QFontMetricsF(font()).lineSpacing()) + 2 : 0};
}

void UrlText::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    // Nothing to scroll to: the view always shows the text from its first line.
    verticalScrollBar()->setValue(0);
    if (height() != heightForWidth(width()))
        updateGeometry();
}
