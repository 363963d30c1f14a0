#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QSet>
#include <QString>

#include <deque>
#include <optional>

/// \brief One request that passed the gate, as Caddy's access log reports it. Bodies are never
/// part of it; the password never either (Caddy logs the Authorization header's name only).
struct VisitorEntry
{
    QDateTime time;
    QString method;
    QString path; ///< with the query, cut to maxPathLength
    int status = 0;
    double durationSeconds = 0;
    QString address; ///< Cf-Connecting-IP, or the peer address when the header is missing
    QString country; ///< Cf-Ipcountry, or empty
    bool failedLogin = false;

    static constexpr qsizetype maxPathLength = 512;

    /// One line of Caddy's JSON access log, or nothing for any other line.
    static std::optional<VisitorEntry> parse(QByteArrayView line);

    /// 4xx and 5xx answers other than the gate's own 401: asking for the password is not an error.
    bool isError() const;

    bool operator==(const VisitorEntry &) const = default;
};

/// \brief The visitors of one service over every run of its gate: newest first, at most
/// maxEntries, with counts over every request seen.
class VisitorLog
{
public:
    static constexpr qsizetype maxEntries = 500;
    /// Distinct visitors are told apart up to this many; the count stops growing there.
    static constexpr qsizetype maxDistinctVisitors = 100000;

    /// Takes one line of the access log; returns whether it was an entry.
    bool addLine(QByteArrayView line);
    void add(VisitorEntry entry);
    void clear();

    const std::deque<VisitorEntry> &entries() const { return m_entries; }
    qint64 requestCount() const { return m_requests; }
    qint64 visitorCount() const { return m_visitors.size(); }
    qint64 errorCount() const { return m_errors; }
    qint64 failedLoginCount() const { return m_failedLogins; }

private:
    std::deque<VisitorEntry> m_entries;
    QSet<QString> m_visitors;
    qint64 m_requests = 0;
    qint64 m_errors = 0;
    qint64 m_failedLogins = 0;
};
