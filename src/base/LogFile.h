#pragma once

#include <QFile>
#include <QMutex>
#include <QString>
#include <QtGlobal>

/// \brief The program's log: a bounded file under the user's state directory, rotated when full, so a user
/// can attach it to a bug report. Installed as the message handler by the program only.
class LogFile
{
public:
    static inline const QString fileName = QStringLiteral("orvanta.log");
    static constexpr qint64 defaultLimit = qint64(1024) * 1024;
    static constexpr int defaultKeep = 3;
    /// Info and above from every category, plus each child's raw output; QT_LOGGING_RULES still wins.
    static inline const QString defaultRules = QStringLiteral("*.debug=false\norvanta.child.debug=true");

    /// `$XDG_STATE_HOME/orvanta`, by default `~/.local/state/orvanta`.
    static QString defaultDirectory();

    /// Writes to \a directory/orvanta.log; a file would pass \a limit bytes is renamed to orvanta.log.1
    /// (and so on up to \a keep) before the line is written.
    explicit LogFile(QString directory, qint64 limit = defaultLimit, int keep = defaultKeep);
    ~LogFile();
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    QString path() const;
    /// Safe from any thread.
    void write(QtMsgType type, const QMessageLogContext &context, const QString &message);

    /// Sends every message to this file as well as to the handler before, and sets the default rules.
    void install();

private:
    bool openForAppending();
    void rotate();

    const QString m_directory;
    const qint64 m_limit;
    const int m_keep;
    QMutex m_mutex;
    QFile m_file;
    QtMessageHandler m_previous = nullptr;
    bool m_installed = false;
};
