#include "session/OutputInterpreter.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

const QString baseDomain = QStringLiteral("trycloudflare.com");

const QRegularExpression &publicUrlPattern()
{
    // A tunnel address is a bare host: an address that goes on with a path or a port is the
    // service's own endpoint, named in lines such as a failed request for a tunnel. Its label is a
    // DNS label (1-63 letters, digits and inner hyphens); anything else is no address to adopt.
    static const QRegularExpression pattern(QStringLiteral("https://[a-zA-Z0-9](?:[a-zA-Z0-9-]{0,61}[a-zA-Z0-9])?\\.")
        + QRegularExpression::escape(baseDomain) + QStringLiteral("(?![a-zA-Z0-9./:-])"));
    return pattern;
}

const QStringView routineNotices[] = {
    u"ping_group_range",
    u"ICMP proxy feature is disabled",
    u"failed to sufficiently increase receive buffer size",
};

const QStringView connectionLostMarkers[] = {
    u"Unregistered tunnel connection",
    u"Connection terminated",
    u"Serve tunnel error",
    u"Retrying connection in up to",
};

bool containsAny(QStringView line, const auto &markers)
{
    return std::any_of(std::begin(markers), std::end(markers), [line](QStringView m) { return line.contains(m); });
}

bool isLineBreak(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'\n' && u <= u'\r') || u == 0x0085 || u == 0x2028 || u == 0x2029;
}

} // namespace

QList<QStringView> OutputInterpreter::splitLines(QStringView text)
{
    QList<QStringView> lines;
    qsizetype begin = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isLineBreak(text[i]))
            continue;
        const QStringView line = text.sliced(begin, i - begin).trimmed();
        begin = i + 1;
        if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}

OutputEvent OutputInterpreter::interpret(QStringView line, bool publicUrlKnown)
{
    using Kind = OutputEvent::Kind;
    if (!publicUrlKnown && line.contains(u"https://")) {
        const QRegularExpressionMatch match = publicUrlPattern().match(line);
        if (match.hasMatch())
            return { Kind::publicUrl, QUrl(match.captured(0)), {}, false, false };
    }
    if (line.contains(u"Registered tunnel connection"))
        return { Kind::edgeRegistered, {}, {}, false, false };
    if (line.contains(u"Requesting new quick Tunnel"))
        return { Kind::addressRequested, {}, {}, false, false };
    if (isRoutineNotice(line))
        return {};
    if (line.contains(u"Initiating graceful shutdown due to signal"))
        return { Kind::shutdownSignalled, {}, {}, false, false };
    OutputEvent event;
    event.connectionLost = containsAny(line, connectionLostMarkers);
    // A warning keeps its level when it names the error that caused it.
    if (line.contains(u"WRN ") && !line.contains(u"ERR ")) {
        event.kind = Kind::warning;
        event.text = readableLogLine(line);
    } else if (line.contains(u"ERR ") || line.contains(u"error=")) {
        event.kind = Kind::error;
        event.text = readableLogLine(line);
        event.originUnreachable = line.contains(u"Unable to reach the origin service");
    }
    return event;
}

bool OutputInterpreter::isRoutineNotice(QStringView line)
{
    return containsAny(line, routineNotices);
}

QString OutputInterpreter::readableLogLine(QStringView line)
{
    const qsizetype field = line.indexOf(u"error=");
    if (field >= 0) {
        QString text = line.sliced(field).toString();
        text.replace(QStringLiteral("error=\""), QString());
        text.remove(u'"');
        return text;
    }
    for (const QStringView tag : { QStringView(u" ERR "), QStringView(u" WRN ") }) {
        const qsizetype at = line.indexOf(tag);
        if (at >= 0)
            return line.sliced(at + tag.size()).toString();
    }
    return line.toString();
}

QString OutputInterpreter::requestMessage()
{
    return QStringLiteral("正在申请免费的 ") + baseDomain + QStringLiteral(" 域名");
}
