#include "app/ProgramIcon.h"

#include "base/Resources.h"

#include <QIconEngine>
#include <QPainter>

namespace {

class PictureIconEngine : public QIconEngine
{
public:
    explicit PictureIconEngine(QString path)
        : m_path(std::move(path))
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        decoded().paint(painter, rect, Qt::AlignCenter, mode, state);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return decoded().pixmap(size, mode, state);
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        return pictureSize.scaled(size, Qt::KeepAspectRatio).boundedTo(pictureSize);
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return { pictureSize }; }

    QIconEngine *clone() const override { return new PictureIconEngine(m_path); }

    QString key() const override { return QStringLiteral("PictureIconEngine"); }

private:
    static constexpr QSize pictureSize { 512, 512 };

    const QIcon &decoded()
    {
        if (m_icon.isNull())
            m_icon = QIcon(m_path);
        return m_icon;
    }

    QString m_path;
    QIcon m_icon;
};

} // namespace

QIcon programIcon()
{
    const QString path = resourcePath(QStringLiteral("orvanta.png"));
    return path.isEmpty() ? QIcon() : QIcon(new PictureIconEngine(path));
}
