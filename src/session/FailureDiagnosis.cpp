#include "session/FailureDiagnosis.h"

#include "session/OutputInterpreter.h"

#include <QList>

#include <algorithm>

namespace {

using Kind = TunnelError::Kind;

/// A line stands for \a kind when every group of \a allOf has a member in it and no member of
/// \a noneOf is in it. Case does not matter: cloudflared's wording of the same error varies.
struct Rule
{
    Kind kind;
    QList<QList<QStringView>> allOf;
    QList<QStringView> noneOf;
};

// First match wins. The rate limit comes first: its reply also fails to parse as JSON.
const QList<Rule> &rules()
{
    static const QList<Rule> table = {
        { Kind::quickTunnelRateLimited, { { u"429 Too Many Requests", u"error code: 1015" } }, {} },
        { Kind::quickTunnelServiceError,
            { { u"Error unmarshaling QuickTunnel response", u"failed to unmarshal quick Tunnel",
                u"failed to parse quick Tunnel ID", u"failed to read quick-tunnel response" } },
            {} },
        // The request got no answer at all: DNS, refused, timed out.
        { Kind::quickTunnelServiceUnreachable, { { u"failed to request quick Tunnel" } }, {} },
        // A TCP dial to port 7844 is HTTP/2, and a DNS lookup may go over UDP: neither is QUIC.
        { Kind::edgeQuicBlocked, { { u"dial" }, { u"quic", u"udp", u"7844" } }, { u"dial tcp", u"lookup" } },
        // The connectivity pre-checks of current versions.
        { Kind::edgeQuicBlocked, { { u"UDP Connectivity" }, { u"FAIL" } }, {} },
    };
    return table;
}

bool matches(const Rule &rule, QStringView line)
{
    const auto has = [line](QStringView text) { return line.contains(text, Qt::CaseInsensitive); };
    return std::all_of(rule.allOf.cbegin(), rule.allOf.cend(), [&has](const QList<QStringView> &group) {
        return std::any_of(group.cbegin(), group.cend(), has);
    }) && std::none_of(rule.noneOf.cbegin(), rule.noneOf.cend(), has);
}

bool isAddressRequest(QStringView line)
{
    return line.contains(u"Requesting new quick Tunnel");
}

/// The level tag of a logged line ("2024-05-01T10:00:00Z ERR …"); empty for a bare line.
QStringView levelTag(QStringView line)
{
    static const QStringView tags[] = { u"DBG", u"INF", u"WRN", u"ERR", u"FTL" };
    qsizetype at = 0;
    for (int token = 0; token < 2 && at < line.size(); ++token) {
        qsizetype end = line.indexOf(u' ', at);
        if (end < 0)
            end = line.size();
        const QStringView word = line.sliced(at, end - at);
        if (std::find(std::begin(tags), std::end(tags), word) != std::end(tags))
            return word;
        at = end + 1;
        while (at < line.size() && line[at] == u' ')
            ++at;
    }
    return {};
}

/// An error cloudflared logged, or the bare error chain it prints last. Go spells error chains in
/// lower case, which tells them from the banners and tables that are printed bare too.
bool reportsError(QStringView line)
{
    const QStringView tag = levelTag(line);
    if (tag == u"ERR" || tag == u"FTL" || line.contains(u"error="))
        return true;
    return tag.isEmpty() && !line.isEmpty() && line.front().isLower();
}

QString shortened(QStringView line)
{
    constexpr qsizetype maxShown = 160;
    QString text = OutputInterpreter::readableLogLine(line).simplified();
    if (text.size() > maxShown)
        text = text.left(maxShown - 1) + u'…';
    return text;
}

std::optional<TunnelError> classified(const QStringList &lines)
{
    for (const Rule &rule : rules()) {
        for (const QString &line : lines) {
            if (matches(rule, line))
                return TunnelError { rule.kind, {} };
        }
    }
    return std::nullopt;
}

/// The newest error line, shortened; empty without one.
QString lastError(const QStringList &lines)
{
    const auto it
        = std::find_if(lines.crbegin(), lines.crend(), [](const QString &line) { return reportsError(line); });
    return it == lines.crend() ? QString() : shortened(*it);
}

} // namespace

void FailureDiagnosis::record(QStringView line)
{
    if (OutputInterpreter::isRoutineNotice(line))
        return;
    if (!reportsError(line) && !isAddressRequest(line) && !classify(line))
        return;
    m_lines.append(line.toString());
    if (m_lines.size() > keptLines)
        m_lines.removeFirst();
}

std::optional<TunnelError::Kind> FailureDiagnosis::classify(QStringView line)
{
    for (const Rule &rule : rules()) {
        if (matches(rule, line))
            return rule.kind;
    }
    return std::nullopt;
}

TunnelError FailureDiagnosis::diagnoseExit(const QStringList &lines, int status)
{
    if (auto error = classified(lines))
        return *error;
    const QString last = lastError(lines);
    return last.isEmpty() ? TunnelError::cloudflaredExited(status) : TunnelError::cloudflaredReported(last);
}

TunnelError FailureDiagnosis::diagnoseTimeOut(const QStringList &lines, bool addressKnown)
{
    if (auto error = classified(lines))
        return *error;
    // Asked for an address and heard nothing since: the request hangs, as it does behind a proxy.
    if (!addressKnown && !lines.isEmpty() && isAddressRequest(lines.constLast()))
        return { Kind::quickTunnelRequestUnanswered, {} };
    return TunnelError::startupTimedOut(lastError(lines));
}
