#include "gate/VisitorLog.h"

#include "gate/GateConfiguration.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// Go writes header names in canonical form ("Cf-Connecting-Ip"); anything in between is not trusted to.
QString header(const QJsonObject &headers, QStringView name)
{
    for (auto it = headers.constBegin(); it != headers.constEnd(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value().toArray().first().toString().trimmed().left(64);
    }
    return {};
}

} // namespace

std::optional<VisitorEntry> VisitorEntry::parse(QByteArrayView line)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    if (!root.value(u"logger"_qs).toString().startsWith(u"http.log.access"))
        return std::nullopt;
    const QJsonObject request = root.value(u"request"_qs).toObject();
    const double timestamp = root.value(u"ts"_qs).toDouble(-1);
    if (request.isEmpty() || !std::isfinite(timestamp) || timestamp < 0)
        return std::nullopt;

    VisitorEntry entry;
    entry.time = QDateTime::fromMSecsSinceEpoch(qint64(timestamp * 1000));
    entry.method = request.value(u"method"_qs).toString().left(16);
    entry.path = request.value(u"uri"_qs).toString().left(maxPathLength);
    entry.status = root.value(u"status"_qs).toInt();
    entry.durationSeconds = root.value(u"duration"_qs).toDouble();
    const QJsonObject headers = request.value(u"headers"_qs).toObject();
    entry.address = header(headers, u"Cf-Connecting-IP");
    if (entry.address.isEmpty())
        entry.address = request.value(u"remote_ip"_qs).toString();
    entry.country = header(headers, u"Cf-Ipcountry");
    const QStringView path = QStringView(entry.path).left(entry.path.indexOf(u'?'));
    entry.failedLogin = entry.status == 401 && path == GateConfiguration::authPath;
    return entry;
}

bool VisitorEntry::isError() const
{
    return status >= 400 && status != 401;
}

bool VisitorLog::addLine(QByteArrayView line)
{
    auto entry = VisitorEntry::parse(line);
    if (!entry)
        return false;
    add(std::move(*entry));
    return true;
}

void VisitorLog::add(VisitorEntry entry)
{
    ++m_requests;
    if (entry.isError())
        ++m_errors;
    if (entry.failedLogin)
        ++m_failedLogins;
    if (m_visitors.size() < maxDistinctVisitors)
        m_visitors.insert(entry.address);
    m_entries.push_front(std::move(entry));
    if (qsizetype(m_entries.size()) > maxEntries)
        m_entries.pop_back();
}

void VisitorLog::clear()
{
    *this = VisitorLog();
}
