#pragma once

#include "model/TunnelProfile.h"

#include <QFont>
#include <QString>

#include <functional>

class QLabel;
class QWidget;
class TunnelSession;

/// \brief What the cards of the detail pane build and edit alike.
namespace DetailParts {

/// A plain-text label in the theme's font.
QLabel *label(const QString &text, qreal size, QFont::Weight weight, const QColor &color, QWidget *parent);
/// A card's title: symbol and text on one line.
QWidget *cardTitle(const QString &title, const QString &symbolName, QWidget *parent);
/// The small label above a form field.
QLabel *fieldLabel(const QString &text, QWidget *parent);

/// Applies \a edit to a copy of the session's profile and hands the copy back; a gone session is left alone.
void editProfile(TunnelSession *session, const std::function<void(TunnelProfile &)> &edit);

} // namespace DetailParts
