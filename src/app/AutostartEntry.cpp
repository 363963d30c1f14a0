#include "app/AutostartEntry.h"

#include "base/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

QString AutostartEntry::path()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/orvanta.desktop");
}

bool AutostartEntry::isEnabled()
{
    return QFileInfo(path()).isFile();
}

QString AutostartEntry::execLine(const QString &executable)
{
    // Field codes start with '%'; a path holding reserved characters goes in double quotes with
    // '"', '`', '$' and '\' escaped, and the key's own escaping doubles every backslash again.
    QString quoted = executable;
    quoted.replace(u'%', u"%%"_qs);
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    const bool needsQuotes = std::any_of(quoted.cbegin(), quoted.cend(), [](QChar c) { return reserved.contains(c); });
    if (needsQuotes) {
        QString escaped;
        for (const QChar c : quoted) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                escaped += u'\\';
            escaped += c;
        }
        quoted = u'"' + escaped + u'"';
    }
    quoted.replace(u'\\', u"\\\\"_qs);
    return quoted + QStringLiteral(" --hidden");
}

bool AutostartEntry::setEnabled(bool enabled, const QString &executable)
{
    const QString file = path();
    if (!enabled) {
        if (!QFile::exists(file) || QFile::remove(file))
            return true;
        qCWarning(lcApp, "Cannot remove the autostart entry %ls", qUtf16Printable(file));
        return false;
    }
    QSaveFile entry(file);
    const QByteArray text = "[Desktop Entry]\n"
                            "Type=Application\n"
                            "Name=奥文塔\n"
                            "Name[zh_CN]=奥文塔\n"
                            "Comment=登录时在后台启动奥文塔\n"
                            "Icon=orvanta\n"
                            "Exec="
        + execLine(executable).toUtf8()
        + "\n"
          "Terminal=false\n"
          "X-GNOME-Autostart-enabled=true\n";
    if (QDir().mkpath(QFileInfo(file).path()) && entry.open(QIODevice::WriteOnly) && entry.write(text) == text.size()
        && entry.commit())
        return true;
    qCWarning(lcApp, "Cannot write the autostart entry %ls: %ls", qUtf16Printable(file),
        qUtf16Printable(entry.errorString()));
    return false;
}
