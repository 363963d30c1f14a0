#pragma once

#include <QAbstractButton>

/// \brief A borderless text button ("清空", footer links): coloured text, nothing behind it.
class TextButton : public QAbstractButton
{
    Q_OBJECT

public:
    TextButton(const QString &text, qreal size, QFont::Weight weight, const QColor &color, QWidget *parent = nullptr);

    QColor color() const { return m_color; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
};

/// \brief A borderless icon-only button: a symbol on a filled circle. Its tooltip is its accessible name.
class CircleSymbolButton : public QAbstractButton
{
    Q_OBJECT

public:
    CircleSymbolButton(const QString &symbolName, qreal symbolSize, QFont::Weight weight, const QColor &color,
                       const QColor &circle, int circleSide, int frameSide, const QString &toolTip,
                       QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    qreal m_symbolSize;
    QFont::Weight m_weight;
    QColor m_color;
    QColor m_circle;
    int m_circleSide;
    int m_frameSide;
};

/// \brief A switch: a rounded track with a knob, tinted `accent` when on, and its label to the right.
class ToggleSwitch : public QAbstractButton
{
    Q_OBJECT

public:
    ToggleSwitch(const QString &text, qreal size, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

/// \brief The title of a disclosure group: a chevron that points down while expanded, and a text.
class DisclosureButton : public QAbstractButton
{
    Q_OBJECT

public:
    DisclosureButton(const QString &text, qreal size, QFont::Weight weight, const QColor &color,
                     QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
};

/// \brief A one-point line in `border`, horizontal or vertical.
class Divider : public QWidget
{
    Q_OBJECT

public:
    explicit Divider(Qt::Orientation orientation = Qt::Horizontal, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
