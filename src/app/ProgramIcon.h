#pragma once

#include <QIcon>

/// The program's icon from its 512 px picture, decoded only when a pixmap is first asked for: the window
/// system of the offscreen and Wayland platforms never asks, and start-up need not wait for it.
/// Null when the picture is missing.
QIcon programIcon();
