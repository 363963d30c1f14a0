#pragma once

#include <QObject>
#include <QString>

class QProcess;

/// \brief Takes over a child whose owner goes while it still runs: SIGKILL now, reap it when it has
/// gone, without waiting, and then remove its runtime directory.
///
/// QProcess's own destructor would block until the child has exited; this one lets the event loop
/// deliver the exit instead. Reapers live under the application object, so whatever is left at
/// quit is cleaned up when the application goes.
class ChildReaper : public QObject
{
    Q_OBJECT

public:
    /// Kills \a process, which must still run, and takes it over; \a directory (may be empty) is
    /// removed once the child is gone.
    static void adopt(QProcess *process, const QString &directory = {});

    ~ChildReaper() override;

private:
    ChildReaper(QProcess *process, QString directory);

    QProcess *m_process;
    QString m_directory;
};
