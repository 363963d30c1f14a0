#pragma once

#include <QWidget>

class QTextLayout;

/// \brief Plain text over as many lines as it needs (or at most maxLines, the last one elided).
/// Breaks between words and, where a word is longer than a line, inside it, so no text widens the window.
class WrappingLabel : public QWidget
{
    Q_OBJECT

public:
    explicit WrappingLabel(QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);

    QColor color() const { return m_color; }
    void setColor(const QColor &color);

    /// 0: no limit.
    void setMaximumLines(int lines);
    /// Words (runs of Latin script, digits and punctuation without a blank, such as a host name or an
    /// address) longer than \a characters are shown shortened in the middle; 0: no limit. text() and the
    /// accessible name keep them whole.
    void setWordLimit(int characters);
    /// The text as laid out.
    QString shownText() const;
    void setAlignment(Qt::Alignment alignment);

    /// Lines the text takes at \a width, before the limit.
    int lineCount(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    /// Lays the text out at \a width into \a layout; returns the line count.
    int layOut(QTextLayout &layout, qreal width) const;
    /// Forgets the line count measured last, after a change to what is laid out.
    void textChanged();

    QString m_text;
    QColor m_color;
    int m_maxLines = 0;
    int m_wordLimit = 0;
    Qt::Alignment m_alignment = Qt::AlignLeft;
    // Layouts ask the height for one width many times over; shaping the text each time was the
    // larger part of laying out the detail pane.
    mutable int m_measuredWidth = -1;
    mutable int m_measuredLines = 0;
};
