#pragma once

#include <QVariant>

#include <optional>

// Stored preferences are read without trusting them: a hand-edited or damaged file may hold any type
// under any key, and each reader below answers "absent" rather than guess.

/// A text value; numbers are written out in decimal, every other type is absent.
std::optional<QString> settingsText(const QVariant &value);

/// A boolean; numbers, "true"/"false" (any letter case) and integer texts are accepted, every other value is absent.
std::optional<bool> settingsBool(const QVariant &value);

/// Absent, null, or an empty text, byte array or list.
bool settingsValueIsEmpty(const QVariant &value);
