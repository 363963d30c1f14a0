#pragma once

#include "app/CommandLine.h"

#include <QJsonObject>
#include <QString>

#include <variant>

/// \brief The command line's side of the running program's socket: sends one request per
/// connection, prints the answer as plain lines or JSON and turns it into an exit status.
///
/// Every wait is bounded, so a program that hangs cannot hang a script that asks it.
class ControlClient
{
public:
    explicit ControlClient(QString socketPath);

    int run(const CommandLine::Invocation &invocation);

private:
    enum class Failure {
        notRunning,
        noAnswer,
    };

    /// The answer, or why there is none.
    std::variant<QJsonObject, Failure> exchange(const QJsonObject &request) const;
    int waitForAddress(const CommandLine::Invocation &invocation, const QJsonObject &request);
    int fail(Failure failure) const;
    int fail(const QString &error, const QString &message, int exitCode) const;
    int report(const QJsonObject &answer) const;
    void printServices(const QJsonObject &answer) const;

    const QString m_socketPath;
    bool m_json = false;
};
