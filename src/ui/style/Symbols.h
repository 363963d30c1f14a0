#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

/// \brief The icon set: every symbol name the views use, mapped to a ligature of the Material Icons
/// font, which shapes the ligature text into its icon.
namespace Symbols {

/// The ligature for \a name, or an empty text for a name missing from the table.
QString ligature(const QString &name);
/// Names asked for that the table lacks (each is drawn as its bare text); empty in a sound build.
QStringList unknownNames();
/// Every name of the table.
QStringList names();

/// The icon font at \a size (device-independent pixels). Weight has no effect on the single-weight
/// font; it is kept so callers state the design's weight in one place.
QFont font(qreal size, QFont::Weight weight = QFont::Normal);

QString fontFamily();

} // namespace Symbols
