#include "ui/style/DeferredIcon.h"

#include <QIconEngine>

namespace {

class DeferredIconEngine : public QIconEngine
{
public:
    DeferredIconEngine(std::function<QIcon()> make, QList<QSize> sizes)
        : m_make(std::move(make))
        , m_sizes(std::move(sizes))
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        made().paint(painter, rect, Qt::AlignCenter, mode, state);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return made().pixmap(size, mode, state);
    }

    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        if (m_sizes.isEmpty())
            return made().actualSize(size, mode, state);
        return m_sizes.constLast().scaled(size, Qt::KeepAspectRatio).boundedTo(m_sizes.constLast());
    }

    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return m_sizes.isEmpty() ? made().availableSizes(mode, state) : m_sizes;
    }

    bool isNull() override { return false; }

    QIconEngine *clone() const override { return new DeferredIconEngine(*this); }

    QString key() const override { return QStringLiteral("DeferredIconEngine"); }

private:
    const QIcon &made()
    {
        if (m_make)
            m_icon = std::exchange(m_make, {})();
        return m_icon;
    }

    std::function<QIcon()> m_make;
    QList<QSize> m_sizes;
    QIcon m_icon;
};

} // namespace

QIcon deferredIcon(std::function<QIcon()> make, QList<QSize> sizes)
{
    return QIcon(new DeferredIconEngine(std::move(make), std::move(sizes)));
}
