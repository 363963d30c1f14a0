#pragma once

#include <QByteArray>
#include <QString>

/// \brief Everything one run of a gate needs, and the configuration its Caddy child reads.
///
/// The gate answers on 127.0.0.1 only. With a password, a visitor first gets a login page (401, no
/// WWW-Authenticate header, so no browser prompt); the page sends the password to authPath, where
/// Caddy checks it against the bcrypt hash and answers with a cookie holding this run's token.
/// Requests carrying that cookie, or every request when there is no password, go to the service.
struct GateConfiguration
{
    static inline const QString authPath = QStringLiteral("/__gate/auth");
    static inline const QString cookieName = QStringLiteral("orvanta_gate");
    /// The user name the login page sends along with the password.
    static inline const QString userName = QStringLiteral("visitor");

    quint16 listenPort = 0;
    QString originURL; ///< "http://host:port" or "https://host:port", as validated for the tunnel
    QString hostHeader; ///< sent to the service in place of the visitor's
    bool skipTLSVerification = false;
    QByteArray passwordHash; ///< empty: no password, every request passes
    QByteArray token; ///< the cookie value of this run
    QString runtimeDirectory;

    /// Caddy's JSON configuration: admin endpoint off, nothing persisted or written outside the
    /// runtime directory, no automatic HTTPS, access log to standard output and Caddy's own log
    /// to standard error. Empty if the origin URL is not one.
    QByteArray toJson() const;

    /// "host:port" as Caddy dials it ("[::1]:8080" for an IPv6 address), or empty.
    static QString dialAddress(const QString &originURL);
};
