#include "app/CommandLine.h"

#include "app/ControlClient.h"
#include "app/SingleInstance.h"
#include "session/CloudflaredVersionQuery.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLoggingCategory>

#include <cstdio>

namespace CommandLine {

namespace {
constexpr int maxWaitSeconds = 24 * 60 * 60;
constexpr std::chrono::seconds versionTimeout { 5 };

Invocation refused(const QString &why)
{
    Invocation invocation;
    invocation.usageError = why;
    return invocation;
}

std::optional<Action> subcommand(const QString &word)
{
    if (word == u"list")
        return Action::list;
    if (word == u"url")
        return Action::url;
    if (word == u"start")
        return Action::start;
    if (word == u"stop")
        return Action::stop;
    if (word == u"help" || word == u"--help" || word == u"-h")
        return Action::help;
    if (word == u"--version")
        return Action::version;
    return std::nullopt;
}

Invocation parseSubcommand(Action action, const QStringList &rest)
{
    Invocation invocation;
    invocation.action = action;
    const QString command = rest.isEmpty() ? QString() : rest.constFirst();
    for (qsizetype i = 1; i < rest.size(); ++i) {
        const QString &argument = rest.at(i);
        if (argument == u"--json") {
            invocation.json = true;
        } else if (argument == u"--help" || argument == u"-h") {
            invocation.action = Action::help;
        } else if (argument == u"--all" && (action == Action::start || action == Action::stop)) {
            invocation.all = true;
        } else if (action == Action::url && (argument == u"--wait" || argument.startsWith(u"--wait="))) {
            QString value = argument.mid(7);
            if (argument == u"--wait") {
                if (++i == rest.size())
                    return refused(QStringLiteral("--wait 需要一个秒数"));
                value = rest.at(i);
            }
            bool number = false;
            const int seconds = value.toInt(&number);
            if (!number || seconds < 0 || seconds > maxWaitSeconds)
                return refused(QStringLiteral("--wait 的秒数无效：%1").arg(value));
            invocation.waitSeconds = seconds;
        } else if (argument.startsWith(u'-') && argument.size() > 1) {
            return refused(QStringLiteral("%1 不认识选项 %2").arg(command, argument));
        } else if (action == Action::list || !invocation.name.isNull()) {
            return refused(QStringLiteral("%1 多了参数 %2").arg(command, argument));
        } else {
            invocation.name = argument;
        }
    }
    if (invocation.action == Action::help || action == Action::list || action == Action::version)
        return invocation;
    if (invocation.all && !invocation.name.isNull())
        return refused(QStringLiteral("%1 要么给服务名称，要么给 --all，不能两者都给").arg(command));
    if (!invocation.all && invocation.name.isEmpty())
        return refused(QStringLiteral("%1 需要服务名称%2")
                           .arg(command, action == Action::url ? QString() : QStringLiteral("或 --all")));
    return invocation;
}

int printVersion(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString cloudflared;
    CloudflaredVersionQuery query;
    QEventLoop loop;
    QObject::connect(&query, &CloudflaredVersionQuery::finished, &loop, [&](const QString &version) {
        cloudflared = version;
        loop.quit();
    });
    query.start(CloudflaredLocator(), versionTimeout);
    loop.exec();
    print(stdout, QStringLiteral("orvanta " ORVANTA_VERSION "\ncloudflared %1\n").arg(cloudflared));
    return ExitCode::ok;
}
} // namespace

void print(FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
}

Invocation parse(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return {};
    if (const std::optional<Action> action = subcommand(arguments.constFirst()))
        return parseSubcommand(*action, arguments);
    Invocation invocation;
    for (const QString &argument : arguments) {
        if (argument == u"--hidden")
            invocation.hidden = true;
        else if (argument == u"--help" || argument == u"--version")
            return parseSubcommand(*subcommand(argument), { argument });
        else if (argument.startsWith(u"--"))
            return refused(QStringLiteral("不认识选项 %1").arg(argument));
    }
    // A bare first word is a mistyped command; later ones are values of Qt's own options.
    if (!arguments.constFirst().startsWith(u'-'))
        return refused(QStringLiteral("不认识命令 %1").arg(arguments.constFirst()));
    return invocation;
}

QString helpText()
{
    return QStringLiteral("用法 Usage:\n"
                          "  orvanta [--hidden]              启动奥文塔；已在运行时把窗口带到前面\n"
                          "                                  --hidden：启动但不显示窗口（登录时自动启动用）\n"
                          "  orvanta list [--json]           列出每个服务：名称、状态、本地地址、公网地址、失败原因\n"
                          "  orvanta url 名称 [--wait 秒数] [--json]\n"
                          "                                  只输出公网地址；--wait 最多等这么多秒直到服务上线\n"
                          "  orvanta start 名称|--all [--json]\n"
                          "                                  启动服务。从命令行启动不会再弹出公开确认：\n"
                          "                                  执行这条命令本身就是确认，服务会被公开到互联网\n"
                          "  orvanta stop 名称|--all [--json]  停止服务\n"
                          "  orvanta --help                  显示本说明\n"
                          "  orvanta --version               显示奥文塔和 cloudflared 的版本\n"
                          "\n"
                          "list、url、start、stop 与正在运行的奥文塔通信。名称先按全名匹配，否则按唯一前缀匹配；\n"
                          "找不到或不唯一时列出候选名称。--json 以一行 JSON 输出结果。\n"
                          "\n"
                          "退出码 Exit codes:\n"
                          "  0  成功 ok\n"
                          "  1  没有该服务，或它失败、未在限时内上线 no such service, or it failed\n"
                          "  2  用法错误 usage error\n"
                          "  3  奥文塔没有在运行 the program is not running\n");
}

int run(const Invocation &invocation, int argc, char **argv)
{
    if (!invocation.usageError.isEmpty()) {
        print(stderr, QStringLiteral("orvanta：%1\n运行 orvanta --help 查看用法。\n").arg(invocation.usageError));
        return ExitCode::usage;
    }
    // The answer is the output; the program's own progress lines would only garble it.
    QLoggingCategory::setFilterRules(QStringLiteral("orvanta.*.info=false\norvanta.*.debug=false"));
    switch (invocation.action) {
    case Action::help:
        print(stdout, helpText());
        return ExitCode::ok;
    case Action::version:
        return printVersion(argc, argv);
    case Action::runProgram:
        return ExitCode::usage;
    case Action::list:
    case Action::url:
    case Action::start:
    case Action::stop:
        break;
    }
    QCoreApplication app(argc, argv);
    ControlClient client(SingleInstance::defaultDirectory() + SingleInstance::socketName);
    return client.run(invocation);
}

} // namespace CommandLine
