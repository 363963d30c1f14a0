#pragma once

#include <QString>

/// \brief The application's resource directory: share/orvanta beside the executable's bin/,
/// which holds both in the build tree and when installed.
QString resourceDirectory();

/// Full path of a resource file, or an empty text when it does not exist.
QString resourcePath(const QString &fileName);
