#pragma once

#include <QBitArray>
#include <QWidget>

/// \brief A QR code of a text (error correction M), drawn as filled rectangles on whole device
/// pixels inside a quiet zone of four modules: as sharp at any size and scale as the screen allows.
class QrCodeView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int quietModules = 4;

    explicit QrCodeView(QWidget *parent = nullptr);

    const QString &text() const { return m_text; }
    /// Encodes \a text; a text too long for any QR code shows nothing.
    void setText(const QString &text);

    /// Modules per side without the quiet zone; 0 when there is no code.
    int moduleCount() const { return m_count; }
    bool isDark(int x, int y) const { return m_modules.testBit(y * m_count + x); }

    /// Where the modules (without the quiet zone) are drawn, in the widget's coordinates.
    QRectF codeArea() const;
    /// The code with its quiet zone, \a modulePixels pixels per module.
    QImage toImage(int modulePixels) const;

    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return width; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    /// Draws the code with its top-left module at \a origin, modules \a module wide.
    void paintModules(QPainter &painter, QPointF origin, qreal module) const;

    QString m_text;
    int m_count = 0;
    QBitArray m_modules; ///< row by row, set where dark
};
