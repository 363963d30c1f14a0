#include "ui/style/ButtonStyle.h"

#include "ui/style/Theme.h"

ButtonLook PrimaryButtonStyle::look() const
{
    ButtonLook l;
    l.fontSize = compact ? 10 : 12;
    l.horizontalPadding = compact ? 12 : 17;
    l.height = compact ? 32 : 39;
    l.cornerRadius = compact ? 8 : 10;
    l.labelColor = Qt::white;
    l.fill = Theme::accent;
    l.pressedFill = Theme::withOpacity(Theme::accent, 0.82);
    return l;
}

ButtonLook SecondaryButtonStyle::look() const
{
    ButtonLook l;
    l.fontSize = compact ? 10 : 12;
    l.horizontalPadding = compact ? 11 : 15;
    l.height = compact ? 32 : 39;
    l.cornerRadius = compact ? 8 : 10;
    l.labelColor = Theme::text;
    l.fill = Theme::panel;
    l.pressedFill = Theme::sidebar;
    l.outline = Theme::border;
    return l;
}
