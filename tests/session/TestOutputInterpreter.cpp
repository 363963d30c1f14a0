#include "session/OutputInterpreter.h"
#include "session/OutputLineSplitter.h"

#include <QtTest>

using Kind = OutputEvent::Kind;
Q_DECLARE_METATYPE(OutputEvent::Kind)

class TestOutputInterpreter : public QObject
{
    Q_OBJECT

private slots:
    void splitter_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("line across chunks")
            << QByteArrayList { "ab", "c\nd", "ef\n" } << QStringList { u"abc"_qs, u"def"_qs };
        QTest::newRow("character across chunks")
            << QByteArrayList { "\xe4\xb8", "\xad\xe6\x96\x87\n" } << QStringList { QStringLiteral("中文") };
        QTest::newRow("invalid line dropped alone")
            << QByteArrayList { "good\nbad \xff\xfe\nnext\n" } << QStringList { u"good"_qs, u"next"_qs };
        QTest::newRow("every ASCII line end, unterminated last line") << QByteArrayList { "a\r\nb\rc\vd\fe\n\n",
            "f" } << QStringList { u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs, u"e"_qs, u"f"_qs };
        QTest::newRow("over-long line dropped") << QByteArrayList { QByteArray(OutputLineSplitter::maxLineBytes, 'a'),
            QByteArray(10, 'a'), "\nok\n" } << QStringList { u"ok"_qs };
        QTest::newRow("over-long line ending in a later chunk dropped")
            << QByteArrayList { "ok\n" + QByteArray(60000, 'a'), QByteArray(60000, 'a') + "\nnext\n" }
            << QStringList { u"ok"_qs, u"next"_qs };
        QTest::newRow("over-long line in one chunk dropped")
            << QByteArrayList { QByteArray(OutputLineSplitter::maxLineBytes + 1, 'a') + "\nnext" }
            << QStringList { u"next"_qs };
        QTest::newRow("line at the bound kept")
            << QByteArrayList { QByteArray(1000, 'a'), QByteArray(OutputLineSplitter::maxLineBytes - 1000, 'a') + '\n' }
            << QStringList { QString(OutputLineSplitter::maxLineBytes, u'a') };
    }

    void splitter()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QStringList, lines);
        OutputLineSplitter splitter;
        QStringList seen;
        const auto sink = [&seen](const QString &line) { seen << line; };
        for (const QByteArray &chunk : chunks)
            splitter.feed(chunk, sink);
        splitter.finish(sink);
        QCOMPARE(seen, lines);
    }

    void splitLines()
    {
        // Unicode's own line breaks split too; blank pieces and surrounding blanks go.
        const QString text = u"a\r\n b \u2028c\u0085\u2029 \td\u3000"_qs;
        QStringList seen;
        for (const QStringView line : OutputInterpreter::splitLines(text))
            seen << line.toString();
        QCOMPARE(seen, QStringList({ u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs }));
    }

    void interpret_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("urlKnown");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("detail"); // the URL, or the readable text
        QTest::addColumn<bool>("originUnreachable");
        const QString url = u"https://four-random-words-here.trycloudflare.com"_qs;
        const auto row = [](const char *name, const QString &line, Kind kind, const QString &detail = {},
                             bool urlKnown = false, bool unreachable = false) {
            QTest::newRow(name) << line << urlKnown << kind << detail << unreachable;
        };
        row("URL inside a banner", u"2024-05-01T10:00:03Z INF |  "_qs + url + u"   |"_qs, Kind::publicUrl, url);
        row("a known URL falls through to the other markers", u"INF "_qs + url + u" ERR boom"_qs, Kind::error,
            u"boom"_qs, true);
        row("the service's endpoint is no tunnel address",
            u"failed to request quick Tunnel: Post \"https://api.trycloudflare.com/tunnel\": dial tcp"_qs,
            Kind::ignored);
        row("URL with a port is no tunnel address", u"INF https://abc.trycloudflare.com:8443"_qs, Kind::ignored);
        const auto host = [](const QString &label) { return u"https://"_qs + label + u".trycloudflare.com"_qs; };
        row("label of a hyphen is no address", u"INF |  "_qs + host(u"-"_qs) + u"  |"_qs, Kind::ignored);
        row("label starting with a hyphen", u"INF "_qs + host(u"-abc"_qs), Kind::ignored);
        row("label ending with a hyphen", u"INF "_qs + host(u"abc-"_qs), Kind::ignored);
        row("label of 64 characters", u"INF "_qs + host(QString(64, u'a')), Kind::ignored);
        row("label of 63 characters", u"INF "_qs + host(QString(63, u'a')), Kind::publicUrl, host(QString(63, u'a')));
        row("label of one character", u"INF "_qs + host(u"a"_qs), Kind::publicUrl, host(u"a"_qs));
        row("an invalid address does not hide the real one", u"INF "_qs + host(u"-"_qs) + u" "_qs + url,
            Kind::publicUrl, url);
        row("registration wins over an error tag", u"T ERR Registered tunnel connection connIndex=0"_qs,
            Kind::edgeRegistered);
        row("address request", u"T INF Requesting new quick Tunnel on trycloudflare.com..."_qs, Kind::addressRequested);
        row("error field quotes removed, later fields kept", u"T WRN Gone error=\"a \"b\"\" k=\"v\""_qs, Kind::error,
            u"a b k=v"_qs);
        row("unquoted error field kept whole", u"T ERR x error=EOF"_qs, Kind::error, u"error=EOF"_qs);
        row("error field without a level tag", u"T INF x error=\"lost\""_qs, Kind::error, u"lost"_qs);
        row("text after the error tag", u"2024 ERR  dial failed"_qs, Kind::error, u" dial failed"_qs);
        row("origin unreachable", u"T ERR  error=\"Unable to reach the origin service. down\" connIndex=0"_qs,
            Kind::error, u"Unable to reach the origin service. down connIndex=0"_qs, false, true);
        row("warning", u"T WRN Retrying in 1s"_qs, Kind::warning, u"Retrying in 1s"_qs);
        row("tags are case-sensitive and need their space", u"T err x WRNING y"_qs, Kind::ignored);
        row("informational line", u"T INF Starting metrics server"_qs, Kind::ignored);
    }

    void interpret()
    {
        QFETCH(QString, line);
        QFETCH(bool, urlKnown);
        QFETCH(Kind, kind);
        QFETCH(QString, detail);
        QFETCH(bool, originUnreachable);
        const OutputEvent event = OutputInterpreter::interpret(line, urlKnown);
        QCOMPARE(event.kind, kind);
        QCOMPARE(kind == Kind::publicUrl ? event.url.toString() : event.text, detail);
        QCOMPARE(event.originUnreachable, originUnreachable);
    }
};

QTEST_APPLESS_MAIN(TestOutputInterpreter)
#include "TestOutputInterpreter.moc"
