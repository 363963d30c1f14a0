#include "ui/DisplayName.h"

#include <QToolTip>
#include <QWidget>

QString displayName(const QString &profileName)
{
    const QString trimmed = profileName.trimmed();
    return trimmed.isEmpty() ? QStringLiteral("未命名服务") : trimmed;
}

void showPlainToolTip(QWidget *widget, const QPoint &globalPos, const QString &text)
{
    if (text.isEmpty()) {
        QToolTip::hideText();
        return;
    }
    QToolTip::showText(
        globalPos, QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text.toHtmlEscaped()), widget);
}
