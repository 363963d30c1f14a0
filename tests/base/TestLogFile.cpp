#include "base/LogFile.h"
#include "base/Logging.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class TestLogFile : public QObject
{
    Q_OBJECT

private slots:
    void rotationKeepsTheNewestWithinBounds_data()
    {
        QTest::addColumn<int>("keep");
        QTest::addColumn<int>("lines");
        QTest::addColumn<bool>("dropsOldest");
        QTest::newRow("fits") << 2 << 5 << false;
        QTest::newRow("one rotation") << 2 << 15 << false;
        QTest::newRow("oldest dropped") << 2 << 200 << true;
        QTest::newRow("nothing kept") << 0 << 40 << true;
    }

    void rotationKeepsTheNewestWithinBounds()
    {
        QFETCH(int, keep);
        QFETCH(int, lines);
        QFETCH(bool, dropsOldest);
        QTemporaryDir dir;
        constexpr qint64 limit = 1000;
        const auto text = [](int i) { return u"line %1 "_qs.arg(i, 4, 10, QChar(u'0')) + QString(60, u'x'); };
        {
            // Written over two lives of the program: a restart appends to what is there.
            LogFile first(dir.filePath(u"state/orvanta"_qs), limit, keep);
            LogFile second(dir.filePath(u"state/orvanta"_qs), limit, keep);
            for (int i = 0; i < lines; ++i)
                (i < lines / 2 ? first : second).write(QtInfoMsg, {}, text(i));
        }
        QString all;
        const QStringList files = QDir(dir.filePath(u"state/orvanta"_qs)).entryList(QDir::Files, QDir::Name);
        QVERIFY(files.size() <= keep + 1 && files.first() == u"orvanta.log"_qs);
        for (qsizetype n = files.size() - 1; n >= 0; --n) { // oldest first
            QFile file(dir.filePath(u"state/orvanta/"_qs) + files.at(n));
            QVERIFY(file.open(QIODevice::ReadOnly) && file.size() <= limit);
            all += QString::fromUtf8(file.readAll());
        }
        // Every line of the files kept is whole and in order, the newest is there, and what is missing is the oldest.
        const QStringList kept = all.split(u'\n', Qt::SkipEmptyParts);
        const int firstKept = lines - int(kept.size());
        for (qsizetype i = 0; i < kept.size(); ++i)
            QVERIFY2(kept.at(i).contains(u" INFO default: "_qs) && kept.at(i).endsWith(text(firstKept + int(i))),
                qPrintable(kept.at(i)));
        QVERIFY(firstKept < lines);
        QCOMPARE(firstKept > 0, dropsOldest);
    }

    void installedFileTakesInfoAndChildOutput()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"orvanta/orvanta.log"_qs);
        {
            LogFile log(dir.filePath(u"orvanta"_qs));
            log.install();
            qCInfo(lcStore) << "saved";
            qCDebug(lcChild).noquote() << "INF Registered tunnel connection";
            qCDebug(lcSession) << "probe detail";
            qCWarning(lcApp) << "killed";
        }
        qCInfo(lcStore) << "after the file is gone";
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        // Each line begins with its time.
        QByteArrayList lines = file.readAll().split('\n');
        for (QByteArray &line : lines)
            line = line.mid(line.indexOf(' ') + 1);
        QCOMPARE(lines,
            QByteArrayList({ "INFO orvanta.store: saved", "DEBUG orvanta.child: INF Registered tunnel connection",
                "WARNING orvanta.app: killed", "" }));
        QLoggingCategory::setFilterRules({});
    }

    void stateDirectoryIgnoresARelativeSetting()
    {
        for (const QByteArray &state : { QByteArray(), QByteArray("state") }) {
            state.isNull() ? qunsetenv("XDG_STATE_HOME") : qputenv("XDG_STATE_HOME", state);
            QCOMPARE(LogFile::defaultDirectory(), QDir::homePath() + u"/.local/state/orvanta"_qs);
        }
    }
};

QTEST_GUILESS_MAIN(TestLogFile)
#include "TestLogFile.moc"
