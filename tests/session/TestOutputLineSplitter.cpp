#include "session/OutputLineSplitter.h"

#include <QtTest>

class TestOutputLineSplitter : public QObject
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
};

QTEST_APPLESS_MAIN(TestOutputLineSplitter)
#include "TestOutputLineSplitter.moc"
