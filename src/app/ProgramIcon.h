#pragma once

#include <QIcon>

/// The program's icon, from its 512 px picture, decoded when first drawn: the offscreen and Wayland
/// platforms never draw a window's icon. Null when the picture is missing.
QIcon programIcon();
