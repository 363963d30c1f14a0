#pragma once

#include <QString>

/// The name a service is shown by: trimmed of white space and line breaks, "未命名服务" when nothing is left.
QString displayName(const QString &profileName);

/// Shows \a text as a tooltip of \a widget without interpreting markup (tooltips detect rich text).
void showPlainToolTip(class QWidget *widget, const class QPoint &globalPos, const QString &text);
