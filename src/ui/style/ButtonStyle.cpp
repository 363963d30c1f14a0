#include "ui/style/ButtonStyle.h"

#include "ui/style/TidewellTheme.h"

ButtonLook PrimaryButtonStyle::look() const
{
    ButtonLook l;
    l.fontSize = compact ? 10 : 12;
    l.horizontalPadding = compact ? 12 : 17;
    l.height = compact ? 32 : 39;
    l.cornerRadius = compact ? 8 : 10;
    l.labelColor = Qt::white;
    l.fill = TidewellTheme::accent;
    l.pressedFill = TidewellTheme::withOpacity(TidewellTheme::accent, 0.82);
    return l;
}

ButtonLook SecondaryButtonStyle::look() const
{
    ButtonLook l;
    l.fontSize = compact ? 10 : 12;
    l.horizontalPadding = compact ? 11 : 15;
    l.height = compact ? 32 : 39;
    l.cornerRadius = compact ? 8 : 10;
    l.labelColor = TidewellTheme::text;
    l.fill = TidewellTheme::panel;
    l.pressedFill = TidewellTheme::sidebar;
    l.outline = TidewellTheme::border;
    return l;
}
