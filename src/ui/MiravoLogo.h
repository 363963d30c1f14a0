#pragma once

#include <QWidget>

enum class MiravoLogoVariant {
    company,
    product,
};

/// \brief The logo tile: the maker's or the product's picture from the resources, or a drawn gradient
/// tile with a monogram when the picture is missing or unreadable.
class MiravoLogo : public QWidget
{
    Q_OBJECT

public:
    MiravoLogo(MiravoLogoVariant variant, qreal size, qreal cornerRadius, QWidget *parent = nullptr);

    MiravoLogoVariant variant() const { return m_variant; }
    qreal logoSize() const { return m_size; }
    qreal cornerRadius() const { return m_cornerRadius; }

    /// Resource file name of the picture of \a variant.
    static QString resourceName(MiravoLogoVariant variant);
    static QString monogram(MiravoLogoVariant variant);

    /// Test seam: where the pictures are looked up (an empty text restores the resources).
    static void setPictureDirectory(const QString &directory);

    /// The monogram's font size: 0.46 of the side.
    qreal monogramSize() const { return 0.46 * m_size; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    MiravoLogoVariant m_variant;
    qreal m_size;
    qreal m_cornerRadius;
};
