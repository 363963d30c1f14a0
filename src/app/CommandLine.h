#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

/// \brief The program's arguments: a start of the window (optionally hidden), or a command that
/// prints something and ends without a display.
namespace CommandLine {

enum class Action {
    runProgram,
    help,
    version,
    list,
    url,
    start,
    stop,
};

/// Exit statuses of the commands.
enum ExitCode {
    ok = 0,
    failed = 1, ///< no such service, or it failed or did not come online in time
    usage = 2,
    notRunning = 3,
};

struct Invocation
{
    Action action = Action::runProgram;
    QString name;
    bool all = false;
    bool json = false;
    bool hidden = false;
    std::optional<int> waitSeconds;
    /// Why the arguments are refused, in Chinese; empty when they are sound.
    QString usageError;
};

/// \a arguments without the program's own path. Single-dash options and their values are left to Qt.
Invocation parse(const QStringList &arguments);

QString helpText();

/// Writes \a text in UTF-8, whatever the locale.
void print(FILE *stream, const QString &text);

/// Runs a command that is not runProgram, without a display; returns the exit status.
int run(const Invocation &invocation, int argc, char **argv);

} // namespace CommandLine
