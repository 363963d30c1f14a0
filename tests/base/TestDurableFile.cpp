#include "base/DurableFile.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestDurableFile : public QObject
{
    Q_OBJECT

private slots:
    void roundTripsThroughQSettings();
    void leftoversOfKilledSavesGo();
};

void TestDurableFile::roundTripsThroughQSettings()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("orvanta.conf"));
    const QVariantMap values { { QStringLiteral("tunnelProfilesV2"), QByteArray("[{\"name\":\"é\\\"=;\"}]\n\x01", 17) },
        { QStringLiteral("legalAcknowledgementVersion"), qint64(2) },
        { QStringLiteral("didMigrateLegacyProductSettingsV1"), true },
        { QStringLiteral("originHost"), QStringLiteral(" 主机 ") } };
    QString error;
    QVERIFY2(DurableFile::writeSettings(path, values, &error), qPrintable(error));

    // The bytes are those QSettings writes itself, so either can read the other's file.
    const QString plainPath = dir.filePath(QStringLiteral("plain.conf"));
    {
        QSettings plain(plainPath, QSettings::IniFormat);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            plain.setValue(it.key(), it.value());
    }
    QFile written(path);
    QFile plain(plainPath);
    QVERIFY(written.open(QIODevice::ReadOnly) && plain.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), plain.readAll());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

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
