#include "SettingsFile.h"

#include "store/LegacySettingsMigrator.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

enum class Former {
    none,
    file,
    map,
};

const QString marker = LegacySettingsMigrator::markerKey;

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestLegacySettingsMigrator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void migration_data();
    void migration();
    void aFormerDomainCreatedLaterIsNeverRead();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_currentPath;
    QString m_legacyPath;
};

void TestLegacySettingsMigrator::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_currentPath = m_dir->filePath(QStringLiteral("orvanta/orvanta.conf"));
    // The former edition kept its file at the top of the configuration directory.
    m_legacyPath = m_dir->filePath(LegacySettingsMigrator::legacyFileName);
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("orvanta"))));
}

void TestLegacySettingsMigrator::migration_data()
{
    QTest::addColumn<QVariantMap>("current");
    QTest::addColumn<Former>("former");
    QTest::addColumn<QVariantMap>("legacy");
    QTest::addColumn<QVariantMap>("expected"); // every key of the current file afterwards, marker aside

    const QByteArray list = encodeProfiles({makeProfile(u"旧服务"_qs)});
    const QVariantMap allSix{{u"tunnelProfilesV2"_qs, list},
                             {u"originHost"_qs, u"10.0.0.5"_qs},
                             {u"originPort"_qs, u"8443"_qs},
                             {u"originScheme"_qs, u"HTTPS"_qs},
                             {u"skipTLSVerification"_qs, true},
                             {u"legalAcknowledgementVersion"_qs, 2}};
    // An INI file hands plain values back as text; data stays data.
    const QVariantMap allSixRead{{u"tunnelProfilesV2"_qs, list},
                                 {u"originHost"_qs, u"10.0.0.5"_qs},
                                 {u"originPort"_qs, u"8443"_qs},
                                 {u"originScheme"_qs, u"HTTPS"_qs},
                                 {u"skipTLSVerification"_qs, u"true"_qs},
                                 {u"legalAcknowledgementVersion"_qs, u"2"_qs}};
    const QVariantMap hostAndPort{{u"originHost"_qs, u"10.0.0.5"_qs}, {u"originPort"_qs, u"8443"_qs}};

    QTest::newRow("marker already set") << QVariantMap{{marker, true}} << Former::file << allSix << QVariantMap();
    QTest::newRow("marker set as text") << QVariantMap{{marker, u"true"_qs}} << Former::map << allSix << QVariantMap();
    QTest::newRow("no former domain") << QVariantMap() << Former::none << QVariantMap() << QVariantMap();
    QTest::newRow("all six from the file") << QVariantMap() << Former::file << allSix << allSixRead;
    QTest::newRow("all six from a map") << QVariantMap() << Former::map << allSix << allSixRead;
    QTest::newRow("host and port only") << QVariantMap() << Former::file << hostAndPort << hostAndPort;
    QTest::newRow("existing value kept")
        << QVariantMap{{u"originPort"_qs, u"9000"_qs}} << Former::file << hostAndPort
        << QVariantMap{{u"originHost"_qs, u"10.0.0.5"_qs}, {u"originPort"_qs, u"9000"_qs}};
    QTest::newRow("false, zero and empty text kept")
        << QVariantMap{{u"skipTLSVerification"_qs, false},
                       {u"legalAcknowledgementVersion"_qs, 0},
                       {u"originHost"_qs, QString()}}
        << Former::map << allSix
        << QVariantMap{{u"tunnelProfilesV2"_qs, list},
                       {u"originHost"_qs, QString()},
                       {u"originPort"_qs, u"8443"_qs},
                       {u"originScheme"_qs, u"HTTPS"_qs},
                       {u"skipTLSVerification"_qs, u"false"_qs},
                       {u"legalAcknowledgementVersion"_qs, u"0"_qs}};
    QTest::newRow("foreign keys ignored")
        << QVariantMap() << Former::file
        << QVariantMap{{u"originScheme"_qs, u"HTTP"_qs}, {u"windowFrame"_qs, u"0 0 800 600"_qs},
                       {u"OriginHost"_qs, u"wrong case"_qs}}
        << QVariantMap{{u"originScheme"_qs, u"HTTP"_qs}};
    QTest::newRow("empty former file") << QVariantMap() << Former::file << QVariantMap() << QVariantMap();
}

void TestLegacySettingsMigrator::migration()
{
    QFETCH(QVariantMap, current);
    QFETCH(Former, former);
    QFETCH(QVariantMap, legacy);
    QFETCH(QVariantMap, expected);

    writeSettingsFile(m_currentPath, current);
    if (former == Former::file) {
        writeSettingsFile(m_legacyPath, legacy);
        if (legacy.isEmpty())
            QVERIFY(QFile(m_legacyPath).open(QIODevice::WriteOnly));
    }
    const QByteArray legacyBefore = fileBytes(m_legacyPath);

    {
        QSettings settings(m_currentPath, QSettings::IniFormat);
        LegacySettingsMigrator::migrateIfNeeded(settings, former == Former::map ? std::optional(legacy) : std::nullopt);
    }

    QVariantMap found = allOnDisk(m_currentPath);
    if (!current.contains(marker))
        QCOMPARE(found.value(marker).toString(), u"true"_qs);
    found.remove(marker);
    QCOMPARE(found, expected);
    QCOMPARE(fileBytes(m_legacyPath), legacyBefore);
}

void TestLegacySettingsMigrator::aFormerDomainCreatedLaterIsNeverRead()
{
    {
        QSettings settings(m_currentPath, QSettings::IniFormat);
        LegacySettingsMigrator::migrateIfNeeded(settings);
    }
    writeSettingsFile(m_legacyPath, {{u"originHost"_qs, u"10.0.0.5"_qs}});
    QSettings settings(m_currentPath, QSettings::IniFormat);
    LegacySettingsMigrator::migrateIfNeeded(settings);
    QVERIFY(!settings.contains(u"originHost"_qs));
    QCOMPARE(valueOnDisk(m_currentPath, marker).toString(), u"true"_qs);
}

QTEST_GUILESS_MAIN(TestLegacySettingsMigrator)
#include "TestLegacySettingsMigrator.moc"
