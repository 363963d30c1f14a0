#pragma once

#include <QWidget>

class ElidedLabel;
class SymbolView;
class WrappingLabel;

/// \brief A symbol followed by plain text in one font and colour; the text stays on one line
/// (elided) or wraps over as many lines as it needs.
class IconTextLabel : public QWidget
{
    Q_OBJECT

public:
    enum class Lines {
        single,
        wrapping,
    };

    IconTextLabel(const QString &symbolName, const QString &text, qreal size, QFont::Weight weight, const QColor &color,
        Lines lines = Lines::single, QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);
    /// For wrapping text: shortens longer words in the middle, see WrappingLabel::setWordLimit().
    void setWordLimit(int characters);
    QString symbol() const;
    void setSymbol(const QString &symbolName);
    QColor color() const { return m_color; }
    void setColor(const QColor &color);

private:
    QColor m_color;
    SymbolView *m_symbol = nullptr;
    ElidedLabel *m_line = nullptr;
    WrappingLabel *m_wrapping = nullptr;
};
