#include "ui/style/TidewellTextFieldStyle.h"

#include "ui/style/Painting.h"
#include "ui/style/TidewellTheme.h"

#include <QEvent>
#include <QLineEdit>
#include <QPainter>

TidewellTextFieldStyle::TidewellTextFieldStyle(QLineEdit *field)
    : QObject(field)
    , m_field(field)
{
}

void TidewellTextFieldStyle::apply(QLineEdit *field)
{
    field->setFrame(false);
    field->setFont(TidewellTheme::font(13, QFont::Medium));
    field->setFixedHeight(height);
    field->setTextMargins(12, 0, 12, 0);
    QPalette palette = field->palette();
    // The rounded rectangle is ours; the line edit must not fill over it.
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, TidewellTheme::text);
    palette.setColor(QPalette::Disabled, QPalette::Base, Qt::transparent);
    field->setPalette(palette);
    field->installEventFilter(new TidewellTextFieldStyle(field));
}

bool TidewellTextFieldStyle::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field && event->type() == QEvent::Paint) {
        QPainter painter(m_field);
        Painting::roundedRect(painter, m_field->rect(), 9, TidewellTheme::field, TidewellTheme::border);
    }
    return QObject::eventFilter(watched, event);
}
