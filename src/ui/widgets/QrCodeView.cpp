#include "ui/widgets/QrCodeView.h"

#include "ui/style/Theme.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include <qrencode.h>

QrCodeView::QrCodeView(QWidget *parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void QrCodeView::setText(const QString &text)
{
    if (text == m_text && m_count > 0)
        return;
    m_text = text;
    m_count = 0;
    m_modules.clear();
    const QByteArray bytes = text.toUtf8();
    // Version 0: the smallest that holds the text; 8-bit mode keeps every byte of the address as it is.
    if (QRcode *code = QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_M)) {
        m_count = code->width;
        m_modules.resize(qsizetype(m_count) * m_count);
        for (int i = 0; i < m_count * m_count; ++i)
            m_modules.setBit(i, code->data[i] & 1);
        QRcode_free(code);
    }
    update();
}

QRectF QrCodeView::codeArea() const
{
    if (m_count == 0)
        return {};
    // Whole device pixels per module, so no edge falls between two pixels.
    const qreal ratio = devicePixelRatioF();
    const int total = m_count + 2 * quietModules;
    const int side = int(std::floor(std::min(width(), height()) * ratio));
    const int module = std::max(1, side / total);
    const int left = int(std::floor((width() * ratio - module * total) / 2)) + module * quietModules;
    const int top = int(std::floor((height() * ratio - module * total) / 2)) + module * quietModules;
    return { left / ratio, top / ratio, module * m_count / ratio, module * m_count / ratio };
}

QImage QrCodeView::toImage(int modulePixels) const
{
    const int side = (m_count + 2 * quietModules) * modulePixels;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Theme::panel);
    QPainter painter(&image);
    paintModules(painter, QPointF(quietModules, quietModules) * modulePixels, modulePixels);
    return image;
}

QSize QrCodeView::sizeHint() const
{
    return { 320, 320 };
}

void QrCodeView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Theme::panel);
    const QRectF area = codeArea();
    if (!area.isEmpty())
        paintModules(painter, area.topLeft(), area.width() / m_count);
}

void QrCodeView::paintModules(QPainter &painter, QPointF origin, qreal module) const
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::text);
    // One rectangle per run of dark modules in a row: no seams between neighbours.
    for (int y = 0; y < m_count; ++y) {
        for (int x = 0; x < m_count;) {
            if (!isDark(x, y)) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < m_count && isDark(x, y))
                ++x;
            painter.drawRect(
                QRectF(origin.x() + start * module, origin.y() + y * module, (x - start) * module, module));
        }
    }
}
