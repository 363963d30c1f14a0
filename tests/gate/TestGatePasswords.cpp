#include "TestSupport.h"
#include "session/TunnelSession.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"

#include <QSettings>
#include <QtTest>

#include <sys/stat.h>

namespace {

QString gateKey(const QUuid &id, const char *name)
{
    return Preferences::gateGroup + u'/' + id.toString(QUuid::WithoutBraces).toUpper() + u'/' + QLatin1StringView(name);
}

SessionDependencies dependencies()
{
    return { quickTimings(), CloudflaredLocator({ u"/nonexistent/cloudflared"_qs }),
        answeringPublicProbe({ true, 200, {} }) };
}

} // namespace

// Each service's gate through the store: loaded at start, saved on change, gone with the service.
// No Secret Service answers here, so the password stays in the private settings file.
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
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), 0600);
        const QVariantMap onDisk = settingsOnDisk(path);
        QVERIFY(!onDisk.value(Preferences::profilesKey).toByteArray().contains("s3cret"));

        QSettings settings(path, QSettings::IniFormat);
        Preferences preferences(settings);
        TunnelStore store(&preferences, dependencies());
        QCOMPARE(store.sessions().constFirst()->gateSettings(), gate);
        TunnelSession *added = store.addProfile();
        QCOMPARE(added->gateSettings(), GateSettings());
        store.removeProfile(id);
        store.savePendingChanges();
        for (const QString &key : settingsOnDisk(path).keys())
            QVERIFY2(!key.contains(id.toString(QUuid::WithoutBraces).toUpper()), qPrintable(key));
    }
};

QTEST_GUILESS_MAIN(TestGatePasswords)
#include "TestGatePasswords.moc"
