#include "app/ControlClient.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QThread>

#include <cstdio>

using namespace CommandLine;

namespace {
constexpr int connectTimeoutMs = 2000;
constexpr int answerTimeoutMs = 10000;
constexpr unsigned long pollIntervalMs = 250;
constexpr qint64 maxAnswerBytes = 4 * 1024 * 1024;

QString field(const QJsonObject &service, const char *name)
{
    const QString text = service.value(QLatin1String(name)).toString();
    return text.isEmpty() ? QStringLiteral("-") : text;
}

QString commandName(Action action)
{
    switch (action) {
    case Action::url:
        return QStringLiteral("url");
    case Action::start:
        return QStringLiteral("start");
    case Action::stop:
        return QStringLiteral("stop");
    default:
        return QStringLiteral("list");
    }
}
} // namespace

ControlClient::ControlClient(QString socketPath)
    : m_socketPath(std::move(socketPath))
{
}

int ControlClient::run(const Invocation &invocation)
{
    m_json = invocation.json;
    QJsonObject request { { u"command"_qs, commandName(invocation.action) } };
    if (invocation.all)
        request.insert(u"all"_qs, true);
    else if (invocation.action != Action::list)
        request.insert(u"name"_qs, invocation.name);
    if (invocation.action == Action::url)
        return waitForAddress(invocation, request);
    const auto answer = exchange(request);
    if (const Failure *failure = std::get_if<Failure>(&answer))
        return fail(*failure);
    return report(std::get<QJsonObject>(answer));
}

int ControlClient::waitForAddress(const Invocation &invocation, const QJsonObject &request)
{
    const QDeadlineTimer deadline(std::chrono::seconds(invocation.waitSeconds.value_or(0)));
    while (true) {
        const auto reply = exchange(request);
        if (const Failure *failure = std::get_if<Failure>(&reply))
            return fail(*failure);
        QJsonObject answer = std::get<QJsonObject>(reply);
        if (!answer.value(u"ok"_qs).toBool())
            return report(answer);
        const QJsonObject service = answer.value(u"services"_qs).toArray().at(0).toObject();
        const QString status = service.value(u"status"_qs).toString();
        const QString name = service.value(u"name"_qs).toString();
        const QString address = service.value(u"public"_qs).toString();
        if (status == u"online" && !address.isEmpty()) {
            answer.insert(u"url"_qs, address);
            if (m_json)
                return report(answer);
            print(stdout, address + u'\n');
            return ExitCode::ok;
        }
        if (status == u"failed") {
            return fail(u"failed"_qs,
                QStringLiteral("服务“%1”启动失败：%2").arg(name, service.value(u"failure"_qs).toString()),
                ExitCode::failed);
        }
        // Only a service on its way can still come online.
        const bool underway = status == u"preparing" || status == u"connecting";
        if (!underway || !invocation.waitSeconds || deadline.hasExpired()) {
            return fail(underway ? u"timeout"_qs : u"notOnline"_qs,
                QStringLiteral("服务“%1”没有上线（%2）").arg(name, service.value(u"statusText"_qs).toString()),
                ExitCode::failed);
        }
        QThread::msleep(qMin<qint64>(pollIntervalMs, qMax<qint64>(1, deadline.remainingTime())));
    }
}

std::variant<QJsonObject, ControlClient::Failure> ControlClient::exchange(const QJsonObject &request) const
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(connectTimeoutMs)) {
        // Refused or missing: nobody listens. A socket that does not accept in time belongs to a stuck program.
        return socket.error() == QLocalSocket::SocketTimeoutError ? Failure::noAnswer : Failure::notRunning;
    }
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    const QDeadlineTimer deadline(answerTimeoutMs);
    while (!socket.canReadLine() && socket.bytesAvailable() < maxAnswerBytes && !deadline.hasExpired()) {
        if (!socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
    }
    if (!socket.canReadLine())
        return Failure::noAnswer;
    const QJsonDocument answer = QJsonDocument::fromJson(socket.readLine());
    if (!answer.isObject())
        return Failure::noAnswer;
    return answer.object();
}

int ControlClient::fail(Failure failure) const
{
    return failure == Failure::notRunning
        ? fail(u"notRunning"_qs, QStringLiteral("奥文塔没有在运行"), ExitCode::notRunning)
        : fail(u"noAnswer"_qs, QStringLiteral("奥文塔已在运行，但没有响应；请稍后再试"), ExitCode::failed);
}

int ControlClient::fail(const QString &error, const QString &message, int exitCode) const
{
    if (m_json) {
        const QJsonObject answer { { u"ok"_qs, false }, { u"error"_qs, error }, { u"message"_qs, message } };
        print(stdout, QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact)) + u'\n');
    } else {
        print(stderr, QStringLiteral("orvanta：%1\n").arg(message));
    }
    return exitCode;
}

int ControlClient::report(const QJsonObject &answer) const
{
    const bool ok = answer.value(u"ok"_qs).toBool();
    if (m_json)
        print(stdout, QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact)) + u'\n');
    else if (ok)
        printServices(answer);
    if (ok)
        return ExitCode::ok;
    if (!m_json) {
        QString text = QStringLiteral("orvanta：%1\n").arg(answer.value(u"message"_qs).toString());
        const QJsonArray candidates = answer.value(u"candidates"_qs).toArray();
        if (!candidates.isEmpty())
            text += QStringLiteral("可选的服务：\n");
        for (const QJsonValue &candidate : candidates)
            text += u"  "_qs + candidate.toString() + u'\n';
        print(stderr, text);
    }
    return ExitCode::failed;
}

void ControlClient::printServices(const QJsonObject &answer) const
{
    // One service per line, its fields separated by tabs, "-" for an empty one: easy to cut.
    for (const QJsonValue &value : answer.value(u"services"_qs).toArray()) {
        const QJsonObject service = value.toObject();
        print(stdout,
            QStringList { field(service, "name"), field(service, "statusText"), field(service, "local"),
                field(service, "public"), field(service, "failure") }
                    .join(u'\t')
                + u'\n');
    }
}
