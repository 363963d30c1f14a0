#include "base/DurableFile.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>

class TestDurableFile : public QObject
{
    Q_OBJECT

private slots:
    void leftoversOfKilledSavesGo();
};

void TestDurableFile::leftoversOfKilledSavesGo()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("orvanta.conf"));
    const QStringList leftovers { QStringLiteral("orvanta.conf.Ab12Cd"),
        QStringLiteral("orvanta.conf.saving-0123456789ab"), QStringLiteral("orvanta.conf.saving-0123456789ab.lock"),
        QStringLiteral("orvanta.conf.checking-0123456789ab"), QStringLiteral("orvanta.conf.lock") };
    const QStringList kept { QStringLiteral("orvanta.conf"), QStringLiteral("orvanta.conf.bak"),
        QStringLiteral("other.conf.Ab12Cd") };
    for (const QString &name : leftovers + kept) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly)); // an empty lock file names no owner
    }
    DurableFile::removeLeftovers(path);
    QStringList remaining = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    QStringList expected = kept;
    remaining.sort();
    expected.sort();
    QCOMPARE(remaining, expected);

    // A lock whose owner lives stays.
    QLockFile live(path + QStringLiteral(".lock"));
    QVERIFY(live.tryLock(0));
    DurableFile::removeLeftovers(path);
    QVERIFY(QFile::exists(path + QStringLiteral(".lock")));
}

QTEST_GUILESS_MAIN(TestDurableFile)
#include "TestDurableFile.moc"
