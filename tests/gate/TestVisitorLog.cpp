#include "gate/GateSecrets.h"
#include "gate/VisitorLog.h"

#include <QtTest>

#include <crypt.h>

namespace {

// A line as Caddy 2.6 writes it for a request that came through the tunnel.
QByteArray accessLine(const QByteArray &uri, int status, const QByteArray &headers, double ts = 1796714055.5)
{
    return R"({"level":"info","ts":)" + QByteArray::number(ts, 'f', 4)
        + R"(,"logger":"http.log.access.visitors","msg":"handled request","request":{"remote_ip":"127.0.0.1","remote_port":"38708","proto":"HTTP/1.1","method":"GET","host":"x.trycloudflare.com","uri":")"
        + uri + R"(","headers":{)" + headers + R"(}},"user_id":"","duration":0.25,"size":5,"status":)"
        + QByteArray::number(status) + "}";
}

} // namespace

class TestVisitorLog : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("seen"); // address, country, refused password, error; empty for no entry
        const QByteArray cf = R"("Cf-Connecting-Ip":["198.51.100.4"],"Cf-Ipcountry":["CN"],"Cookie":[])";
        const QString fromCN = u"198.51.100.4 CN 0 0"_qs;
        QTest::newRow("through the tunnel") << accessLine("/", 200, cf) << fromCN;
        QTest::newRow("header names in any case")
            << accessLine("/", 200, R"("cf-connecting-ip":["198.51.100.9"],"CF-IPCOUNTRY":["FR"])")
            << u"198.51.100.9 FR 0 0"_qs;
        QTest::newRow("no Cloudflare headers: peer address") << accessLine("/", 404, {}) << u"127.0.0.1  0 1"_qs;
        QTest::newRow("refused password") << accessLine("/__gate/auth", 401, cf) << u"198.51.100.4 CN 1 0"_qs;
        QTest::newRow("refused, with a query")
            << accessLine("/__gate/auth?next=/", 401, cf) << u"198.51.100.4 CN 1 0"_qs;
        QTest::newRow("login page is no failure") << accessLine("/__gate/authx", 401, cf) << fromCN;
        QTest::newRow("service down") << accessLine("/", 502, cf) << u"198.51.100.4 CN 0 1"_qs;
        QTest::newRow("Caddy's own log") << QByteArray(R"({"level":"info","ts":1.5,"msg":"serving"})") << QString();
        QTest::newRow("cut short") << accessLine("/", 200, cf).chopped(9) << QString();
    }

    void parse()
    {
        QFETCH(QByteArray, line);
        const auto entry = VisitorEntry::parse(line);
        QTEST(entry ? u"%1 %2 %3 %4"_qs.arg(entry->address, entry->country)
                          .arg(int(entry->failedLogin))
                          .arg(int(entry->isError()))
                    : QString(),
            "seen");
        QVERIFY(!entry
            || (entry->method == u"GET"_qs && entry->durationSeconds == 0.25
                && entry->time.toMSecsSinceEpoch() == qint64(1796714055500)));
    }

    // Newest first, bounded; the counts cover every request, also those no longer listed.
    void boundsAndCounts()
    {
        VisitorLog log;
        const int total = int(VisitorLog::maxEntries) + 40;
        for (int i = 0; i < total; ++i) {
            const QByteArray address = "203.0.113." + QByteArray::number(i % 7);
            QVERIFY(log.addLine(accessLine(
                "/" + QByteArray::number(i), i % 10 == 0 ? 500 : 200, R"("Cf-Connecting-Ip":[")" + address + R"("])")));
        }
        QVERIFY(!log.addLine("{}"));
        QCOMPARE(qsizetype(log.entries().size()), VisitorLog::maxEntries);
        QCOMPARE(log.entries().front().path, u"/%1"_qs.arg(total - 1));
        QCOMPARE(log.entries().back().path, u"/%1"_qs.arg(total - VisitorLog::maxEntries));
        QCOMPARE(log.requestCount(), total);
        QCOMPARE(log.visitorCount(), 7);
        QCOMPARE(log.errorCount(), (total + 9) / 10);
        QVERIFY(log.addLine(accessLine("/" + QByteArray(5000, 'p'), 200, {})));
        QCOMPARE(log.entries().front().path.size(), VisitorEntry::maxPathLength);
        log.clear();
        QVERIFY(log.entries().empty() && log.requestCount() == 0);
    }

    // The hash is one the gate can check, salted anew each time; unusable passwords are refused.
    void passwordHash()
    {
        const QString password = u"开门 sesame"_qs;
        const QByteArray first = GateSecrets::hashPassword(password);
        QVERIFY(first.startsWith("$2b$10$"));
        QVERIFY(first != GateSecrets::hashPassword(password));
        crypt_data data {};
        QCOMPARE(QByteArray(::crypt_r(password.toUtf8().constData(), first.constData(), &data)), first);
        QVERIFY(QByteArray(::crypt_r("开门 sesamE", first.constData(), &data)) != first);
        for (const QString &unusable : { QString(), QString(73, u'x'), u"a\0b"_qs })
            QVERIFY(GateSecrets::hashPassword(unusable).isEmpty());

        QVERIFY(GateSecrets::newToken() != GateSecrets::newToken());
        QVERIFY(GateSecrets::generatePassword() != GateSecrets::generatePassword());
    }
};

QTEST_GUILESS_MAIN(TestVisitorLog)
#include "TestVisitorLog.moc"
