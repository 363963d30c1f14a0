#pragma once

#include <QWidget>

enum class LogoTileKind {
    company,
    product,
};

/// \brief The logo tile: the maker's or the product's picture from the resources, or a drawn gradient
/// tile with a monogram when the picture is missing, unreadable or too small to stay sharp at 200 %.
class LogoTile : public QWidget
{
    Q_OBJECT

public:
    LogoTile(LogoTileKind variant, qreal size, qreal cornerRadius, QWidget *parent = nullptr);

    /// Resource file name of the picture of \a variant.
    static QString resourceName(LogoTileKind variant);

    /// Test seam: where the pictures are looked up (an empty text restores the resources).
    static void setPictureDirectory(const QString &directory);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    LogoTileKind m_variant;
    qreal m_size;
    qreal m_cornerRadius;
};
