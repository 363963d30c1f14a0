#pragma once

#include <QString>

/// Why a file at \a path cannot be saved, in Chinese, found by writing a scratch file beside it the way an
/// atomic save would; empty when that works.
QString unwritableReason(const QString &path);
