#include "TestSupport.h"
#include "session/TunnelSession.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"

#include <QSettings>
#include <QtTest>

namespace {

QString idKey(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QString gateKey(const QUuid &id, const char *name)
{
    return Preferences::gateGroup + u'/' + idKey(id) + u'/' + QLatin1StringView(name);
}

/// No key of the settings file at \a path names \a id.
bool forgotten(const QString &path, const QUuid &id)
{
    const QStringList keys = settingsOnDisk(path).keys();
    return std::none_of(keys.begin(), keys.end(), [&id](const QString &key) { return key.contains(idKey(id)); });
}

SessionDependencies dependencies()
{
    return { quickTimings(), CloudflaredLocator({ u"/nonexistent/cloudflared"_qs }),
        answeringPublicProbe({ true, 200, {} }) };
}

} // namespace

// Each service's gate switches and password: beside the stored list, never in it, in a file only its
// owner reads; loaded at start, saved on change, gone with the service. No Secret Service answers
// here, so the password stays in the private settings file.
class TestGatePasswords : public QObject
{
    Q_OBJECT

    QTemporaryDir m_temp;

private slots:
    void initTestCase()
    {
        // A bus nobody listens on: the user's own keyring is never touched.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_temp.filePath(u"no-bus"_qs)));
    }

    void keptApartAndPrivate()
    {
        const QString path = m_temp.filePath(u"preferences.conf"_qs);
        const QByteArray list = R"([{"id":"x"}])";
        const QUuid first = QUuid::createUuid();
        const QUuid second = QUuid::createUuid();
        {
            QSettings settings(path, QSettings::IniFormat);
            settings.setValue(gateKey(second, "passwordOn"), u"banana"_qs); // damaged by hand
            Preferences preferences(settings);
            preferences.setStoredProfiles(list);
            preferences.setGateSettings(first, { true, true, u"s3cret 密码"_qs }, true);
            QVERIFY(preferences.save(nullptr));
        }
        QCOMPARE(fileMode(path), 0600);
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
        QVERIFY(forgotten(path, first));
    }

    void keptBesideTheList()
    {
        const QString path = m_temp.filePath(u"orvanta.conf"_qs);
        const GateSettings gate { true, true, u"s3cret 密码"_qs };
        QUuid id;
        {
            QSettings settings(path, QSettings::IniFormat);
            Preferences preferences(settings);
            TunnelStore store(&preferences, dependencies());
            TunnelSession *session = store.sessions().constFirst();
            id = session->id();
            session->setGateSettings({ true, true, u"first"_qs });
            session->setGateSettings(gate);
            QTRY_COMPARE(settingsOnDisk(path).value(gateKey(id, "password")).toString(), gate.password);
            // A switch alone leaves the password where it is kept.
            session->setGateSettings({ false, true, gate.password });
            QTRY_COMPARE(settingsOnDisk(path).value(gateKey(id, "passwordOn")).toBool(), false);
            QCOMPARE(settingsOnDisk(path).value(gateKey(id, "password")).toString(), gate.password);
            session->setGateSettings(gate);
        }
        QVERIFY(!settingsOnDisk(path).value(Preferences::profilesKey).toByteArray().contains("s3cret"));

        QSettings settings(path, QSettings::IniFormat);
        Preferences preferences(settings);
        TunnelStore store(&preferences, dependencies());
        QCOMPARE(store.sessions().constFirst()->gateSettings(), gate);
        QCOMPARE(store.addProfile()->gateSettings(), GateSettings());
        store.removeProfile(id);
        store.savePendingChanges();
        QVERIFY(forgotten(path, id));
    }
};

QTEST_GUILESS_MAIN(TestGatePasswords)
#include "TestGatePasswords.moc"
