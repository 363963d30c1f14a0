#include "session/OutputInterpreter.h"

#include <QRegularExpression>

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
            return { Kind::publicUrl, QUrl(match.captured(0)), {}, false };
    }
    if (line.contains(u"Registered tunnel connection"))
        return { Kind::edgeRegistered, {}, {}, false };
    if (line.contains(u"Requesting new quick Tunnel"))
        return { Kind::addressRequested, {}, {}, false };
    if (line.contains(u"ERR ") || line.contains(u"error="))
        return { Kind::error, {}, readableLogLine(line), line.contains(u"Unable to reach the origin service") };
    if (line.contains(u"WRN "))
        return { Kind::warning, {}, readableLogLine(line), false };
    return {};
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
