#include "store/Preferences.h"

#include <QSettings>

Preferences::Preferences(QSettings *settings)
    : m_settings(settings)
{
}

qint64 Preferences::legalAcknowledgementVersion() const
{
    bool ok = false;
    const qint64 version = m_settings->value(legalAcknowledgementKey).toLongLong(&ok);
    return ok ? version : 0;
}

void Preferences::setLegalAcknowledgementVersion(qint64 version)
{
    m_settings->setValue(legalAcknowledgementKey, version);
    m_settings->sync();
}
