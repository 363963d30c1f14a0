#include "base/DurableFile.h"

#include <QDir>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>

class TestDurableFile : public QObject
{
    Q_OBJECT

private slots:
    void leftoversOfKilledSavesGo()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"orvanta.conf"_qs);
        const QStringList leftovers { u"orvanta.conf.Ab12Cd"_qs, u"orvanta.conf.saving-0123456789ab"_qs,
            u"orvanta.conf.saving-0123456789ab.lock"_qs, u"orvanta.conf.checking-0123456789ab"_qs,
            u"orvanta.conf.lock"_qs };
        const QStringList kept { u"orvanta.conf"_qs, u"orvanta.conf.bak"_qs, u"other.conf.Ab12Cd"_qs };
        for (const QString &name : leftovers + kept)
            QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly)); // an empty lock file names no owner
        DurableFile::removeLeftovers(path);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), kept);

        // A lock whose owner lives stays.
        QLockFile live(path + u".lock"_qs);
        QVERIFY(live.tryLock(0));
        DurableFile::removeLeftovers(path);
        QVERIFY(QFile::exists(path + u".lock"_qs));
    }
};

QTEST_GUILESS_MAIN(TestDurableFile)
#include "TestDurableFile.moc"
