#include "session/ChildReaper.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

ChildReaper::ChildReaper(QProcess *process, QString directory)
    : QObject(QCoreApplication::instance())
    , m_process(process)
    , m_directory(std::move(directory))
{
    m_process->disconnect();
    m_process->setParent(this);
    connect(m_process, &QProcess::finished, this, &QObject::deleteLater);
    // Should the child never have started after all, there is nothing left to wait for.
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            deleteLater();
    });
}

ChildReaper::~ChildReaper()
{
    // Only reached at quit with the child still unreaped: it has had SIGKILL, so this wait is short.
    delete m_process;
    if (!m_directory.isEmpty())
        QDir(m_directory).removeRecursively();
}

void ChildReaper::adopt(QProcess *process, const QString &directory)
{
    auto *reaper = new ChildReaper(process, directory);
    if (process->state() == QProcess::NotRunning) {
        reaper->deleteLater();
        return;
    }
    process->kill();
}
