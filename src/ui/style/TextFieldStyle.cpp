#include "ui/style/TextFieldStyle.h"

#include "ui/style/Painting.h"
#include "ui/style/Theme.h"

#include <QEvent>
#include <QLineEdit>
#include <QPainter>

TextFieldStyle::TextFieldStyle(QLineEdit *field)
    : QObject(field)
    , m_field(field)
{
}

void TextFieldStyle::apply(QLineEdit *field)
{
    field->setFrame(false);
    field->setFont(Theme::font(13, QFont::Medium));
    field->setFixedHeight(height);
    field->setTextMargins(12, 0, 12, 0);
    QPalette palette = field->palette();
    // The rounded rectangle is ours; the line edit must not fill over it.
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, Theme::text);
    palette.setColor(QPalette::Disabled, QPalette::Base, Qt::transparent);
    field->setPalette(palette);
    field->installEventFilter(new TextFieldStyle(field));
}

bool TextFieldStyle::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field && event->type() == QEvent::Paint) {
        QPainter painter(m_field);
        Painting::roundedRect(painter, m_field->rect(), 9, Theme::field, Theme::border);
    }
    return QObject::eventFilter(watched, event);
}
