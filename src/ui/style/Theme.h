#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QApplication;

/// \brief The one light look of the program: fifteen fixed colours and the fonts standing in for the
/// system font. Widgets ask for colours by name here; no colour literals elsewhere.
namespace Theme {

inline const QColor background = QColor::fromRgbF(0.973f, 0.969f, 0.953f);
inline const QColor sidebar = QColor::fromRgbF(0.953f, 0.965f, 0.988f);
inline const QColor panel = QColor::fromRgbF(1.0f, 1.0f, 1.0f);
inline const QColor field = QColor::fromRgbF(0.961f, 0.969f, 0.98f);
inline const QColor accent = QColor::fromRgbF(0.078f, 0.357f, 0.918f);
inline const QColor accentStrong = QColor::fromRgbF(0.051f, 0.275f, 0.741f);
inline const QColor accentSoft = QColor::fromRgbF(0.929f, 0.953f, 1.0f);
inline const QColor text = QColor::fromRgbF(0.071f, 0.09f, 0.129f);
inline const QColor muted = QColor::fromRgbF(0.408f, 0.443f, 0.506f);
inline const QColor subtle = QColor::fromRgbF(0.569f, 0.6f, 0.651f);
inline const QColor border = QColor::fromRgbF(0.875f, 0.89f, 0.91f);
inline const QColor success = QColor::fromRgbF(0.086f, 0.451f, 0.353f);
inline const QColor warning = QColor::fromRgbF(0.87f, 0.56f, 0.1f);
inline const QColor danger = QColor::fromRgbF(0.82f, 0.22f, 0.205f);
inline const QColor info = QColor::fromRgbF(0.231f, 0.404f, 0.729f);

/// \a color with its alpha set to \a opacity (0…1).
QColor withOpacity(QColor color, qreal opacity);

/// The system font at \a size points (device-independent pixels).
QFont font(qreal size, QFont::Weight weight = QFont::Normal);
/// The rounded design: the same family, as the CJK face has no rounded cut.
QFont roundedFont(qreal size, QFont::Weight weight = QFont::Bold);
/// The monospaced design: the same family, whose figures are tabular.
QFont monospacedFont(qreal size, QFont::Weight weight = QFont::Normal);

QString fontFamily();

/// Fixed light palette, whatever the desktop's theme.
QPalette palette();

/// Fusion, the light palette, the fonts: call once after creating the application.
void install(QApplication &app);

} // namespace Theme
