#pragma once

#include <QIcon>
#include <QList>
#include <QSize>

#include <functional>

/// An icon made by \a make only when something first draws it or asks its sizes: decoding pictures
/// (and loading every image plugin to find a reader) need not hold up the start for icons that may
/// never be seen. \a sizes, when given, answers for the sizes without making the icon.
QIcon deferredIcon(std::function<QIcon()> make, QList<QSize> sizes = {});
