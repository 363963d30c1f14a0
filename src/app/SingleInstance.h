#pragma once

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

/// \brief Keeps one running program per user. The first start holds a lock and listens on a local
/// socket; a later start asks it to show its window and then ends. The command line asks it
/// questions over the same socket, one JSON line each. An instance that is quitting answers a later
/// start with "quitting", and that start waits for the lock instead.
///
/// Only connections of this user are served, and each gets a bounded line and a bounded time.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Role {
        primary, ///< this process runs the program
        handedOver, ///< the running instance was asked to show itself
        unanswered, ///< another instance holds the lock but does not accept the request
    };
    Q_ENUM(Role)

    /// Answers one request line (without its line feed) with one line.
    using RequestHandler = std::function<QByteArray(const QByteArray &request)>;

    static inline const QString socketName = QStringLiteral("/orvanta.socket");
    static constexpr qint64 maxRequestBytes = 4096;

    explicit SingleInstance(QString directory, QObject *parent = nullptr);
    ~SingleInstance() override;

    /// The user's runtime directory (XDG_RUNTIME_DIR).
    static QString defaultDirectory();

    /// Blocks for a few seconds at most (longer while another instance quits: see setQuitWait()),
    /// before the event loop runs.
    Role claim();
    /// How long claim() waits for an instance that is quitting to let go of the lock.
    void setQuitWait(std::chrono::milliseconds wait) { m_quitWait = wait; }

    /// From now on later starts are told this instance is quitting, and requests are not answered.
    void stopAcceptingHandovers() { m_quitting = true; }

    QString socketPath() const;

    /// Requests other than the plain activation go to \a handler; without one they are refused.
    void setRequestHandler(RequestHandler handler) { m_requestHandler = std::move(handler); }
    /// How long a connection may take to send its request line before it is closed.
    void setRequestTimeout(std::chrono::milliseconds timeout) { m_requestTimeout = timeout; }

    /// Whether the peer of the local socket \a descriptor runs as \a uid.
    static bool isPeerUser(qintptr descriptor, uint uid);

signals:
    /// Another start of the program asked for the window.
    void activationRequested();

private:
    bool tryLock();
    void listen();
    enum class Answer {
        none, ///< not connected, or the request could not be sent
        handedOver,
        quitting,
    };
    Answer requestActivation();
    Role waitForQuittingInstance();
    void handleServerNewConnection();
    void handleRequest(QLocalSocket *socket);

    const QString m_directory;
    QLockFile m_lock;
    QLocalServer m_server;
    RequestHandler m_requestHandler;
    std::chrono::milliseconds m_requestTimeout { 5000 };
    std::chrono::milliseconds m_quitWait { 4000 };
    bool m_quitting = false;
};
