#pragma once

#include <QGlyphRun>
#include <QRawFont>
#include <QString>
#include <QStringList>

/// \brief The icon set: every symbol name the views use, mapped to a character of the Material Icons
/// font, which is read from the program's own copy.
namespace Symbols {

/// The icon font's character for \a name, or 0 for a name missing from the table.
char16_t codePoint(const QString &name);
/// Names asked for that the table lacks (each is drawn as nothing); empty in a sound build.
QStringList unknownNames();
/// Every name of the table.
QStringList names();

/// The icon font at \a size (device-independent pixels); invalid when the font file is missing.
QRawFont font(qreal size);
/// The one glyph of \a name at \a size, its baseline origin at (0, 0); empty when there is none.
QGlyphRun glyph(const QString &name, qreal size);
/// How far \a glyph advances.
qreal advance(const QGlyphRun &glyph);

} // namespace Symbols
