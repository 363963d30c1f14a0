#include "TestSupport.h"
#include "store/Preferences.h"

#include <QSettings>
#include <QtTest>

#include <sys/stat.h>

// Gate switches and passwords stay beside the stored list, never in it, in a file only its owner reads.
class TestGatePreferences : public QObject
{
    Q_OBJECT

private slots:
    void keptApartAndPrivate()
    {
        QTemporaryDir temp;
        const QString path = temp.filePath(u"orvanta.conf"_qs);
        const QByteArray list = R"([{"id":"x"}])";
        const QUuid first = QUuid::createUuid();
        const QUuid second = QUuid::createUuid();
        {
            QSettings settings(path, QSettings::IniFormat);
            settings.setValue(
                Preferences::gateGroup + u'/' + second.toString(QUuid::WithoutBraces).toUpper() + u"/passwordOn"_qs,
                u"banana"_qs); // damaged by hand
            Preferences preferences(settings);
            preferences.setStoredProfiles(list);
            preferences.setGateSettings(first, { true, true, u"s3cret 密码"_qs }, true);
            QVERIFY(preferences.save(nullptr));
        }
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
        QCOMPARE(settingsOnDisk(path).value(Preferences::profilesKey).toByteArray(), list);

        QSettings settings(path, QSettings::IniFormat);
        Preferences preferences(settings);
        QCOMPARE(preferences.gateSettings(first), GateSettings({ true, true, u"s3cret 密码"_qs }));
        QCOMPARE(preferences.gateSettings(second), GateSettings());
        QCOMPARE(preferences.gateSettings(QUuid::createUuid()), GateSettings());

        // A password kept elsewhere is not left behind here.
        preferences.setGateSettings(first, { true, false, u"s3cret 密码"_qs }, false);
        QCOMPARE(preferences.gateSettings(first), GateSettings({ true, false, {} }));
        preferences.removeGateSettings(first);
        QVERIFY(preferences.save(nullptr));
        for (const QString &key : settingsOnDisk(path).keys())
            QVERIFY2(!key.contains(first.toString(QUuid::WithoutBraces).toUpper()), qPrintable(key));
    }
};

QTEST_GUILESS_MAIN(TestGatePreferences)
#include "TestGatePreferences.moc"
