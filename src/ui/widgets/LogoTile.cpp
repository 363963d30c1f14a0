#include "ui/widgets/LogoTile.h"

#include "base/Resources.h"
#include "ui/style/Painting.h"
#include "ui/style/Theme.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

QString s_pictureDirectory;

QString picturePath(const QString &fileName)
{
    if (s_pictureDirectory.isEmpty())
        return resourcePath(fileName);
    const QString path = s_pictureDirectory + u'/' + fileName;
    return QFileInfo::exists(path) ? path : QString();
}

/// Decoded pictures by path and modification time, so a replaced file is read again.
QImage cachedImage(const QString &path)
{
    static QHash<QString, std::pair<QDateTime, QImage>> cache;
    const QDateTime modified = QFileInfo(path).lastModified();
    auto it = cache.find(path);
    if (it == cache.end() || it->first != modified)
        it = cache.insert(path, { modified, QImage(path) });
    return it->second;
}

} // namespace

LogoTile::LogoTile(LogoTileKind variant, qreal size, qreal cornerRadius, QWidget *parent)
    : QWidget(parent)
    , m_variant(variant)
    , m_size(size)
    , m_cornerRadius(cornerRadius)
{
    setFixedSize(qRound(size), qRound(size));
    Painting::dropShadow(this, cornerRadius, Theme::withOpacity(Theme::accent, 0.16), 8, 3);
}

QString LogoTile::resourceName(LogoTileKind variant)
{
    return variant == LogoTileKind::product ? QStringLiteral("OrvantaProductLogo.png")
                                            : QStringLiteral("MiravoLogo.jpg");
}

void LogoTile::setPictureDirectory(const QString &directory)
{
    s_pictureDirectory = directory;
}

void LogoTile::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const QRectF tile(0, 0, m_size, m_size);
    QPainterPath clip;
    clip.addRoundedRect(tile, m_cornerRadius, m_cornerRadius);
    painter.setClipPath(clip);

    const QString path = picturePath(resourceName(m_variant));
    const QImage image = path.isEmpty() ? QImage() : cachedImage(path);
    // A picture with fewer pixels than the tile shows on a 200 % screen would be blown up and blurred;
    // the drawn tile is sharp at any scale.
    const qreal needed = m_size * qMax<qreal>(2, devicePixelRatioF());
    if (!image.isNull() && image.width() >= needed && image.height() >= needed) {
        // Fill the square and crop the overflow; never letter-box.
        const QSizeF scaled = QSizeF(image.size()).scaled(tile.size(), Qt::KeepAspectRatioByExpanding);
        const QRectF target(
            (m_size - scaled.width()) / 2, (m_size - scaled.height()) / 2, scaled.width(), scaled.height());
        painter.drawImage(target, image);
    } else {
        QLinearGradient gradient(tile.topLeft(), tile.bottomRight());
        gradient.setColorAt(0, Theme::accent);
        gradient.setColorAt(1, Theme::accentStrong);
        painter.fillRect(tile, gradient);
        QFont font = Theme::roundedFont(0, QFont::Bold);
        font.setPointSizeF(0.46 * m_size * 72.0 / logicalDpiY());
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(
            tile, Qt::AlignCenter, m_variant == LogoTileKind::product ? QStringLiteral("奥") : QStringLiteral("弥"));
    }

    painter.setClipping(false);
    painter.setPen(QPen(Theme::withOpacity(Qt::white, 0.5), 0.7));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(tile.adjusted(0.35, 0.35, -0.35, -0.35), m_cornerRadius, m_cornerRadius);
}
