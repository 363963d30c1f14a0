#include "session/CloudflaredVersionQuery.h"

#include "base/Logging.h"
#include "session/ChildReaper.h"
#include "session/CloudflaredProcess.h"

#include <QStringDecoder>

namespace {

const QString unavailable = QStringLiteral("不可用");

} // namespace

CloudflaredVersionQuery::CloudflaredVersionQuery(QObject *parent)
    : QObject(parent)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &CloudflaredVersionQuery::handleDeadlineTimeout);
}

CloudflaredVersionQuery::~CloudflaredVersionQuery()
{
    if (m_process && m_process->state() != QProcess::NotRunning)
        ChildReaper::adopt(m_process);
}

void CloudflaredVersionQuery::start(const CloudflaredLocator &locator, std::chrono::milliseconds timeout)
{
    const QString executable = locator.locate();
    if (executable.isEmpty()) {
        QTimer::singleShot(0, this, [this] { finish(QStringLiteral("未找到")); });
        return;
    }
    m_process = new QProcess(this);
    m_process->setProgram(executable);
    m_process->setArguments({ QStringLiteral("--version") });
    m_process->setStandardInputFile(QProcess::nullDevice());
    // Unread, a full error pipe would stall the child.
    m_process->setStandardErrorFile(QProcess::nullDevice());
    CloudflaredProcess::confineChildren(*m_process);
    connect(m_process, &QProcess::finished, this, &CloudflaredVersionQuery::handleProcessFinished);
    // Queued: QProcess may report a failed start from inside start().
    connect(m_process, &QProcess::errorOccurred, this, &CloudflaredVersionQuery::handleProcessErrorOccurred,
        Qt::QueuedConnection);
    m_deadline.start(timeout);
    m_process->start();
}

QString CloudflaredVersionQuery::parseVersion(const QByteArray &output)
{
    QStringDecoder decoder(QStringConverter::Utf8);
    QString text = decoder.decode(output);
    if (decoder.hasError())
        return {};
    text.remove(QStringLiteral("cloudflared version "));
    return text.section(u' ', 0, 0).trimmed();
}

void CloudflaredVersionQuery::handleProcessFinished()
{
    finish(parseVersion(m_process->readAllStandardOutput()));
}

void CloudflaredVersionQuery::handleProcessErrorOccurred(QProcess::ProcessError error)
{
    if (error == QProcess::FailedToStart)
        finish(unavailable);
}

void CloudflaredVersionQuery::handleDeadlineTimeout()
{
    qCWarning(lcSession) << "cloudflared --version did not answer in time";
    if (m_process->state() != QProcess::NotRunning) {
        ChildReaper::adopt(m_process);
        m_process = nullptr;
    }
    finish(unavailable);
}

void CloudflaredVersionQuery::finish(const QString &version)
{
    if (m_finished)
        return;
    m_finished = true;
    m_deadline.stop();
    qCInfo(lcSession).noquote() << "cloudflared version:" << version;
    emit finished(version);
}
