#pragma once

#include <QColor>

/// \brief Everything a button look fixes: its font size, padding, height, corners and colours.
struct ButtonLook
{
    qreal fontSize = 12;
    qreal horizontalPadding = 17;
    int height = 39;
    qreal cornerRadius = 10;
    QColor labelColor;
    QColor fill;
    QColor pressedFill;
    QColor outline; ///< invalid: none
};

/// \brief The look of the main action: white label on `accent`.
struct PrimaryButtonStyle
{
    bool compact = false;

    ButtonLook look() const;
};

/// \brief The look of every other action: dark label on white, outlined.
struct SecondaryButtonStyle
{
    bool compact = false;

    ButtonLook look() const;
};
