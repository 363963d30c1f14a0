#pragma once

#include <QList>
#include <QObject>
#include <QSocketNotifier>

#include <memory>

/// \brief Turns SIGTERM, SIGINT and SIGHUP (logout, Ctrl+C in a terminal) into a signal on the
/// event loop, so they take the same orderly quit path as the menu. One instance per process.
class UnixSignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit UnixSignalWatcher(QObject *parent = nullptr);
    ~UnixSignalWatcher() override;

signals:
    void signalReceived(int signalNumber);

private:
    void handleNotifierActivated();

    std::unique_ptr<QSocketNotifier> m_notifier;
    QList<int> m_signals;
};
