#include "base/LogFile.h"

#include <QDateTime>
#include <QDir>
#include <QLoggingCategory>

#include <atomic>

namespace {
std::atomic<LogFile *> s_installed { nullptr };

const char *levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "DEBUG";
    case QtInfoMsg:
        return "INFO";
    case QtWarningMsg:
        return "WARNING";
    case QtCriticalMsg:
        return "CRITICAL";
    case QtFatalMsg:
        return "FATAL";
    }
    return "?";
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // A warning raised while writing (a file that cannot be opened) must not come back here.
    thread_local bool writing = false;
    LogFile *file = s_installed.load();
    if (!file || writing)
        return;
    writing = true;
    file->write(type, context, message);
    writing = false;
}
} // namespace

QString LogFile::defaultDirectory()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // XDG directories must be absolute; a relative one is ignored.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/orvanta");
}

LogFile::LogFile(QString directory, qint64 limit, int keep)
    : m_directory(std::move(directory))
    , m_limit(limit)
    , m_keep(std::max(keep, 0))
    , m_file(m_directory + u'/' + fileName)
{
}

LogFile::~LogFile()
{
    if (!m_installed)
        return;
    LogFile *self = this;
    if (s_installed.compare_exchange_strong(self, nullptr))
        qInstallMessageHandler(m_previous);
}

QString LogFile::path() const
{
    return m_file.fileName();
}

void LogFile::install()
{
    QLoggingCategory::setFilterRules(defaultRules);
    s_installed.store(this);
    m_previous = qInstallMessageHandler(handleMessage);
    m_installed = true;
}

void LogFile::write(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8() + ' ' + levelName(type)
        + ' ' + (context.category ? context.category : "default") + ": " + message.toUtf8() + '\n';
    {
        const QMutexLocker lock(&m_mutex);
        if (m_file.isOpen() || openForAppending()) {
            if (m_file.size() > 0 && m_file.size() + line.size() > m_limit) {
                rotate();
                openForAppending();
            }
            if (m_file.isOpen()) {
                m_file.write(line);
                m_file.flush();
            }
        }
    }
    // Children's raw lines belong in the file only; the terminal keeps what it showed before.
    if (m_installed && m_previous && type != QtDebugMsg)
        m_previous(type, context, message);
}

bool LogFile::openForAppending()
{
    if (!QDir().mkpath(m_directory))
        return false;
    QFile::setPermissions(m_directory, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Append);
}

void LogFile::rotate()
{
    m_file.close();
    const QString base = m_file.fileName();
    const auto numbered = [&base](int n) { return base + u'.' + QString::number(n); };
    QFile::remove(numbered(m_keep));
    for (int n = m_keep - 1; n >= 1; --n)
        QFile::rename(numbered(n), numbered(n + 1));
    if (m_keep > 0)
        QFile::rename(base, numbered(1));
    else
        QFile::remove(base);
}
