#include "SessionTestHelpers.h"
#include "session/OutputLineSplitter.h"

#include <QtTest>

using namespace std::chrono_literals;

class TestOutputHandling : public QObject
{
    Q_OBJECT

private slots:
    void splitter_data();
    void splitter();
    void interpretation_data();
    void interpretation();
    void readableLogLine_data();
    void readableLogLine();
    void logKeepsSixtyNewest();
};

void TestOutputHandling::splitter_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("line across chunks") << QByteArrayList{"ab", "c\nd", "ef\n"} << QStringList{u"abc"_qs, u"def"_qs};
    QTest::newRow("character across chunks")
        << QByteArrayList{"\xe4\xb8", "\xad\xe6\x96\x87\n"} << QStringList{QStringLiteral("中文")};
    QTest::newRow("invalid line dropped alone")
        << QByteArrayList{"good\nbad \xff\xfe\nnext\n"} << QStringList{u"good"_qs, u"next"_qs};
    QTest::newRow("every ASCII line end") << QByteArrayList{"a\r\nb\rc\vd\fe\n\n"}
                                          << QStringList{u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs, u"e"_qs};
    QTest::newRow("unterminated last line") << QByteArrayList{"x\n", "y"} << QStringList{u"x"_qs, u"y"_qs};
    QTest::newRow("over-long line dropped")
        << QByteArrayList{QByteArray(OutputLineSplitter::maxLineBytes, 'a'), QByteArray(10, 'a'), "\nok\n"}
        << QStringList{u"ok"_qs};
}

void TestOutputHandling::splitter()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QStringList, lines);
    OutputLineSplitter splitter;
    QStringList seen;
    const auto sink = [&seen](const QString &line) { seen << line; };
    for (const QByteArray &chunk : chunks)
        splitter.feed(chunk, sink);
    QVERIFY(splitter.pendingBytes() <= OutputLineSplitter::maxLineBytes);
    splitter.finish(sink);
    QCOMPARE(seen, lines);
}

void TestOutputHandling::interpretation_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("log"); // "level: message"
    QTest::addColumn<bool>("online");
    QTest::addColumn<QString>("publicURL");

    const QString url = QStringLiteral("2024-05-01T10:00:03Z INF |  https://four-random-words-here.trycloudflare.com   |");
    const QString other = QStringLiteral("INF https://other-words.trycloudflare.com/path");
    const QString reg = QStringLiteral("2024-05-01T10:00:04Z INF Registered tunnel connection connIndex=0 location=fra01");
    const QString req = QStringLiteral("2024-05-01T10:00:00Z INF Requesting new quick Tunnel on trycloudflare.com...");
    const QString wrn = QStringLiteral("2024-05-01T10:00:12Z WRN Retrying connection in 1s connIndex=0");
    const QString first = QStringLiteral("https://four-random-words-here.trycloudflare.com");
    const QString urlEntry = QStringLiteral("success: 公网 HTTPS 链接已生成");
    const QString edgeEntry = QStringLiteral("success: 已连接 Cloudflare 边缘网络");

    QTest::newRow("URL, then registration") << QStringList{url, reg} << QStringList{urlEntry, edgeEntry} << true << first;
    QTest::newRow("registration, then URL") << QStringList{reg, url} << QStringList{edgeEntry, urlEntry} << true << first;
    QTest::newRow("URL alone") << QStringList{url} << QStringList{urlEntry} << false << first;
    QTest::newRow("registrations logged once in a row")
        << QStringList{reg, reg, wrn, reg}
        << QStringList{edgeEntry, QStringLiteral("warning: Retrying connection in 1s connIndex=0"), edgeEntry} << false
        << QString();
    QTest::newRow("request logged once in a row")
        << QStringList{req, req} << QStringList{QStringLiteral("info: 正在申请免费的 trycloudflare.com 域名")} << false
        << QString();
    QTest::newRow("a later URL does not replace the first")
        << QStringList{url, other + QStringLiteral(" ERR boom")} << QStringList{urlEntry, QStringLiteral("error: boom")}
        << false << first;
    QTest::newRow("registration with ERR is a registration")
        << QStringList{reg + QStringLiteral(" ERR x")} << QStringList{edgeEntry} << false << QString();
    QTest::newRow("error field without ERR")
        << QStringList{QStringLiteral("INF Retry error=\"context canceled\" connIndex=1")}
        << QStringList{QStringLiteral("error: context canceled connIndex=1")} << false << QString();
    QTest::newRow("warning with error field is an error")
        << QStringList{QStringLiteral("2024-05-01T10:00:12Z WRN Connection terminated error=\"timeout\" connIndex=0")}
        << QStringList{QStringLiteral("error: timeout connIndex=0")} << false << QString();
    QTest::newRow("informational lines dropped")
        << QStringList{QStringLiteral("INF Starting metrics server"), QStringLiteral("  \t "),
                       QStringLiteral("https://example.com/trycloudflare.com")}
        << QStringList{} << false << QString();
    QTest::newRow("Unicode line separators split")
        << QStringList{reg + QChar(0x2028) + url + QChar(0x0085) + QStringLiteral("T WRN w")}
        << QStringList{edgeEntry, urlEntry, QStringLiteral("warning: w")} << true << first;
}

void TestOutputHandling::interpretation()
{
    QFETCH(QStringList, lines);
    QFETCH(QStringList, log);
    QFETCH(bool, online);
    QFETCH(QString, publicURL);
    Timings timings;
    timings.postOnlineCheck = 1h;
    TunnelSession session(localProfile(1), {}, timings);
    for (const QString &line : lines)
        session.handleOutputLine(line);
    QStringList seen;
    for (const ActivityEntry &entry : session.activity())
        seen << rawValue(entry.level) + QStringLiteral(": ") + entry.message;
    QCOMPARE(seen, log);
    QCOMPARE(session.status().is(TunnelStatus::Kind::online), online);
    QCOMPARE(session.publicURL().value_or(QUrl()), QUrl(publicURL));
    QCOMPARE(session.connectedAt().has_value(), online);
    QCOMPARE(session.publicHealth(), online ? HealthState::checking() : HealthState::inactive());
}

void TestOutputHandling::readableLogLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("readable");
    QTest::newRow("quoted error field") << QStringLiteral("T ERR  error=\"Unable to reach: refused\" connIndex=0")
                                        << QStringLiteral("Unable to reach: refused connIndex=0");
    QTest::newRow("unquoted error field") << QStringLiteral("T ERR x error=EOF") << QStringLiteral("error=EOF");
    QTest::newRow("inner quotes removed") << QStringLiteral("T WRN error=\"a \"b\"\" k=\"v\"")
                                          << QStringLiteral("a b k=v");
    QTest::newRow("error level") << QStringLiteral("2024-05-01T10:00:09Z ERR Failed to serve")
                                 << QStringLiteral("Failed to serve");
    QTest::newRow("warning level") << QStringLiteral("2024-05-01T10:00:09Z WRN Slow") << QStringLiteral("Slow");
    QTest::newRow("no marker") << QStringLiteral("ERR at start") << QStringLiteral("ERR at start");
}

void TestOutputHandling::readableLogLine()
{
    QFETCH(QString, line);
    QFETCH(QString, readable);
    QCOMPARE(TunnelSession::readableLogLine(line), readable);
}

void TestOutputHandling::logKeepsSixtyNewest()
{
    TunnelSession session(localProfile(1), {});
    for (int i = 1; i <= 61; ++i)
        session.handleOutputLine(QStringLiteral("T WRN w%1").arg(i));
    QCOMPARE(session.activity().size(), 60);
    QCOMPARE(session.activity().constFirst().message, QStringLiteral("w2"));
    QCOMPARE(session.activity().constLast().message, QStringLiteral("w61"));
}

QTEST_GUILESS_MAIN(TestOutputHandling)
#include "TestOutputHandling.moc"
