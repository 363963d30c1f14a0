#include "store/SettingsValues.h"

namespace {

bool isNumber(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

} // namespace

std::optional<QString> settingsText(const QVariant &value)
{
    if (value.typeId() == QMetaType::QString || isNumber(value))
        return value.toString();
    return std::nullopt;
}

std::optional<bool> settingsBool(const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (isNumber(value))
        return value.toDouble() != 0;
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    // An INI file gives every plain value back as text.
    const QString text = value.toString().trimmed();
    if (text.compare(u"true", Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(u"false", Qt::CaseInsensitive) == 0)
        return false;
    bool isInteger = false;
    const qlonglong number = text.toLongLong(&isInteger);
    if (isInteger)
        return number != 0;
    return std::nullopt;
}

bool settingsValueIsEmpty(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return true;
    case QMetaType::QString:
        return value.toString().isEmpty();
    case QMetaType::QByteArray:
        return value.toByteArray().isEmpty();
    case QMetaType::QStringList:
    case QMetaType::QVariantList:
        return value.toList().isEmpty();
    default:
        return false;
    }
}
