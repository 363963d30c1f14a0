#pragma once

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QObject>
#include <QString>

/// \brief Keeps one running program per user. The first start holds a lock and listens on a local
/// socket; a later start asks it to show its window and then ends.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Role {
        primary,    ///< this process runs the program
        handedOver, ///< the running instance was asked to show itself
        unanswered, ///< another instance holds the lock but does not accept the request
    };
    Q_ENUM(Role)

    explicit SingleInstance(QString directory, QObject *parent = nullptr);
    ~SingleInstance() override;

    /// The user's runtime directory (XDG_RUNTIME_DIR).
    static QString defaultDirectory();

    /// Blocks for a few seconds at most, before the event loop runs.
    Role claim();

    QString socketPath() const;

signals:
    /// Another start of the program asked for the window.
    void activationRequested();

private:
    bool tryLock();
    void listen();
    bool requestActivation();
    void handleServerNewConnection();
    void handleRequest(QLocalSocket *socket);

    const QString m_directory;
    QLockFile m_lock;
    QLocalServer m_server;
};
