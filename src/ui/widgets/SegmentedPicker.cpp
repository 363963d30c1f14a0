#include "ui/widgets/SegmentedPicker.h"

#include "ui/style/Painting.h"
#include "ui/style/Theme.h"
#include "ui/widgets/ButtonBase.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QEvent>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>

namespace {

constexpr int pickerHeight = 32;
constexpr qreal trackRadius = 9;

class Segment : public ButtonBase
{
public:
    Segment(const QString &text, QWidget *parent)
        : ButtonBase(parent)
    {
        setText(text);
        setAccessibleName(text);
        setCheckable(true);
        setFont(Theme::font(11, QFont::Medium));
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

    QSize sizeHint() const override
    {
        return { qCeil(QFontMetricsF(font()).horizontalAdvance(text())) + 24, pickerHeight - 4 };
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(isEnabled() ? 1.0 : 0.55);
        if (isChecked())
            Painting::roundedRect(
                painter, rect(), trackRadius - 2, Theme::panel, Theme::withOpacity(Theme::border, 0.9));
        if (hasFocus())
            Painting::focusRing(painter, rect(), trackRadius - 2);
        painter.setFont(font());
        painter.setPen(isChecked() ? Theme::text : Theme::muted);
        painter.drawText(
            rect(), Qt::AlignCenter, QFontMetricsF(font()).elidedText(text(), Qt::ElideRight, width() - 4));
    }
};

} // namespace

SegmentedPicker::SegmentedPicker(const QStringList &labels, QWidget *parent)
    : QWidget(parent)
    , m_group(new QButtonGroup(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    for (int i = 0; i < labels.size(); ++i) {
        auto *segment = new Segment(labels.at(i), this);
        m_group->addButton(segment, i);
        layout->addWidget(segment, 1);
    }
    m_group->setExclusive(true);
    setFixedHeight(pickerHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_group, &QButtonGroup::idClicked, this, &SegmentedPicker::currentIndexChanged);
}

int SegmentedPicker::currentIndex() const
{
    return m_group->checkedId();
}

void SegmentedPicker::setCurrentIndex(int index)
{
    if (QAbstractButton *button = m_group->button(index); button && !button->isChecked())
        button->setChecked(true);
}

QAbstractButton *SegmentedPicker::segment(int index) const
{
    return m_group->button(index);
}

int SegmentedPicker::count() const
{
    return int(m_group->buttons().size());
}

void SegmentedPicker::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setOpacity(isEnabled() ? 1.0 : 0.55);
    Painting::roundedRect(painter, rect(), trackRadius, Theme::field, Theme::border);
}

void SegmentedPicker::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange)
        update();
    QWidget::changeEvent(event);
}
