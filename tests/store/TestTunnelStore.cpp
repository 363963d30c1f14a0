#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "SmallDisk.h"
#include "TestSupport.h"
#include "session/TunnelSession.h"
#include "store/LegacySettingsMigrator.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"

#include <QtTest>

#include <cstdio>

using namespace std::chrono_literals;

namespace {

/// The list stored under "tunnelProfilesV2" on disk, or nothing when it is absent or unreadable.
std::optional<QList<TunnelProfile>> profilesOnDisk(const QString &path)
{
    const QVariant value = settingsOnDisk(path).value(Preferences::profilesKey);
    return value.typeId() == QMetaType::QByteArray ? decodeProfiles(value.toByteArray()) : std::nullopt;
}

void writeSettingsFile(const QString &path, const QVariantMap &values)
{
    QSettings settings(path, QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
}

TunnelProfile makeProfile(const QString &name, quint16 port = 3000)
{
    TunnelProfile profile = localProfile(port);
    profile.name = name;
    return profile;
}

QList<TunnelProfile> profilesOf(const TunnelStore &store)
{
    QList<TunnelProfile> profiles;
    for (const TunnelSession *session : store.sessions())
        profiles.append(session->profile());
    return profiles;
}

void rename(TunnelSession *session, const QString &name)
{
    TunnelProfile profile = session->profile();
    profile.name = name;
    session->setProfile(profile);
}

QString gateKey(const QUuid &id, const char *name)
{
    return Preferences::gateGroup + u'/' + id.toString(QUuid::WithoutBraces).toUpper() + u'/' + QLatin1StringView(name);
}

/// This program run as a store that saves until it is killed, printing a line after each save, or as one
/// that saves into \a argv[2] as it runs out of room and prints what went wrong.
int storeHelper(int argc, char **argv)
{
    const bool fullDisk = qstrcmp(argv[1], "--full-disk") == 0;
    const bool tmpfs = fullDisk && SmallDisk::mount(argv[2]); // before any thread starts
    QCoreApplication app(argc, argv);
    const QString dir = QFile::decodeName(argv[2]);
    const QString path = fullDisk ? dir + u"/orvanta.conf"_qs : dir;
    Preferences preferences(QSettings(path, QSettings::IniFormat));
    TunnelStore store(&preferences, { {}, CloudflaredLocator({ u"/nonexistent/cloudflared"_qs }), {} });
    const auto saveAs = [&store](const QString &name, TunnelSession *only = nullptr) {
        for (TunnelSession *session : only ? QList<TunnelSession *> { only } : store.sessions())
            rename(session, name);
        store.savePendingChanges();
        return store.saveError().isEmpty();
    };
    for (qint64 generation = 0; !fullDisk; ++generation) {
        for (TunnelSession *session : store.sessions()) {
            std::puts(saveAs(u"%1-%2"_qs.arg(app.applicationPid()).arg(generation), session) ? "saved" : "failed");
            std::fflush(stdout);
        }
    }
    const auto fault = [](bool ok, const char *what) { std::fputs(ok ? "" : what, stdout); };
    store.addProfile();
    const auto saved = saveAs(u"第一版"_qs) ? profilesOnDisk(path) : std::nullopt;
    if (!saved || !SmallDisk::runOutOfRoom(dir, tmpfs))
        return 3;
    fault(!saveAs(QString(350, u'长')), "failure hidden\n"); // more than the page left, less than QFile's buffer
    fault(profilesOnDisk(path) == saved, "previous list lost\n");
    QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden);
    left.removeOne(u"filler"_qs);
    fault(left == QStringList { u"orvanta.conf"_qs }, "leftovers\n");
    // Room again: the changes that could not be saved are still pending and go with the next save.
    SmallDisk::makeRoom(dir, tmpfs);
    store.savePendingChanges();
    fault(store.saveError().isEmpty() && profilesOnDisk(path) == profilesOf(store), "not saved after retry\n");
    store.shutdownAll();
    return 0;
}

} // namespace

class TestTunnelStore : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
    std::unique_ptr<FakeCloudflared> m_fake; // nothing installed: no `cloudflared` is found
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<TunnelStore> m_store;
    std::shared_ptr<RunPolicy> m_policy; // of the last store made
    LocalHttpServer m_server;

    TunnelStore &makeStore(const QList<TunnelProfile> &stored = {}, Timings timings = {})
    {
        if (!stored.isEmpty())
            writeSettingsFile(m_path, { { Preferences::profilesKey, encodeProfiles(stored) } });
        m_store.reset();
        m_preferences = std::make_unique<Preferences>(QSettings(m_path, QSettings::IniFormat));
        SessionDependencies dependencies { timings, m_fake->locator(), answeringPublicProbe({ true, 200, {} }) };
        m_policy = dependencies.policy;
        m_store = std::make_unique<TunnelStore>(m_preferences.get(), dependencies);
        return *m_store;
    }

    /// The list on disk once the store has saved what it holds.
    std::optional<QList<TunnelProfile>> savedList() const
    {
        m_store->savePendingChanges();
        return profilesOnDisk(m_path);
    }

    QByteArray runHelper(const char *mode, const QString &path, int linesBeforeKill = -1)
    {
        QProcess helper;
        helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        helper.start(QCoreApplication::applicationFilePath(), { QString::fromLatin1(mode), path });
        QByteArray output;
        while ((linesBeforeKill < 0 || output.count('\n') < linesBeforeKill) && helper.waitForReadyRead(60000))
            output += helper.readAll();
        helper.kill();
        helper.waitForFinished(60000);
        return linesBeforeKill >= 0 || helper.exitCode() == 0 ? output : "helper failed";
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.listenHttp());
        // A bus nobody listens on: no Secret Service answers, and the user's own keyring is never touched.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    }

    void init()
    {
        m_store.reset();
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(u"orvanta/orvanta.conf"_qs);
        m_fake = std::make_unique<FakeCloudflared>(m_dir->filePath(u"fake"_qs));
    }

    // The one service shown when no list can be read, what is kept of an unreadable list, and the
    // switch to reconnect, which the sessions follow.
    void loading_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QString>("shown"); // scheme, host, port and switch of the one service shown
        QTest::addColumn<QVariant>("backup"); // under "tunnelProfilesV2.unreadable" after the first save
        QTest::addColumn<bool>("reconnect");
        const QString fallback = u"自动 127.0.0.1 3000 0"_qs;
        const auto unreadable = [&](const char *name, const QVariant &value, const QVariant &older = {}) {
            QVariantMap stored { { Preferences::profilesKey, value } };
            if (older.isValid())
                stored.insert(Preferences::unreadableProfilesKey, older);
            QTest::newRow(name) << stored << fallback << (older.isValid() ? older : value) << true;
        };
        QByteArray badRecord = encodeProfiles({ makeProfile(u"a"_qs), makeProfile(u"b"_qs) });
        unreadable("one bad record", badRecord.replace(badRecord.lastIndexOf("\"HTTP\""), 6, "\"http\""));
        unreadable("damaged bytes", QByteArray("[{\"id\":\"\xff\x00", 9));
        unreadable("deeply nested", QByteArray(200000, '[') + QByteArray(200000, ']'));
        unreadable("older backup kept", QByteArray("newer"), QByteArray("older"));
        QTest::newRow("first launch") << QVariantMap() << fallback << QVariant() << true;
        QTest::newRow("empty array, no reconnecting") << QVariantMap { { Preferences::profilesKey, QByteArray("[]") },
            { Preferences::reconnectAutomaticallyKey, false } }
                                                      << fallback << QVariant() << false;
        QVariantMap flat { { u"originHost"_qs, u"10.0.0.5"_qs }, { u"originPort"_qs, u"8443"_qs },
            { u"originScheme"_qs, u"HTTPS"_qs }, { u"skipTLSVerification"_qs, true } };
        QTest::newRow("flat keys") << flat << u"HTTPS 10.0.0.5 8443 1"_qs << QVariant() << true;
        flat.insert(u"originScheme"_qs, u"https"_qs);
        QTest::newRow("flat keys, lower-case scheme") << flat << u"自动 10.0.0.5 8443 1"_qs << QVariant() << true;
        QTest::newRow("wrong types") << QVariantMap { { u"originHost"_qs, QStringList { u"a"_qs, u"b"_qs } },
            { u"originPort"_qs, 8443 }, { u"originScheme"_qs, QByteArray("HTTP") },
            { u"skipTLSVerification"_qs, u"maybe"_qs }, { Preferences::reconnectAutomaticallyKey, u"maybe"_qs } }
                                     << u"自动 127.0.0.1 8443 0"_qs << QVariant() << true;
    }

    void loading()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(bool, reconnect);
        writeSettingsFile(m_path, stored);
        const QVariantMap before = settingsOnDisk(m_path);
        TunnelStore &store = makeStore();
        QCOMPARE(store.sessions().size(), 1);
        const TunnelProfile profile = store.sessions().first()->profile();
        QTEST(u"%1 %2 %3 %4"_qs.arg(rawValue(profile.scheme), profile.host, profile.portText)
                  .arg(int(profile.skipTLSVerification)),
            "shown");
        QCOMPARE(store.selectedSession(), store.sessions().first());
        QCOMPARE(settingsOnDisk(m_path), before); // loading writes nothing
        QVERIFY(store.reconnectsAutomatically() == reconnect && m_policy->restartAfterDrop == reconnect);

        store.addProfile();
        store.setReconnectsAutomatically(!reconnect);
        QCOMPARE(m_policy->restartAfterDrop, !reconnect);
        QCOMPARE(savedList(), std::optional(profilesOf(store)));
        QTEST(settingsOnDisk(m_path).value(Preferences::unreadableProfilesKey), "backup");
        QCOMPARE(makeStore().reconnectsAutomatically(), !reconnect);
    }

    void naming_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("expected");
        QTest::newRow("gap") << QStringList { u"代理服务 1"_qs, u"代理服务 3"_qs } << u"代理服务 4"_qs;
        QTest::newRow("other names") << QStringList { u"Web"_qs, u"API"_qs } << u"代理服务 3"_qs;
        QTest::newRow("blanks around") << QStringList { u" 代理服务 3\n"_qs, u"Web"_qs } << u"代理服务 4"_qs;
        QTest::newRow("blank names") << QStringList { QString(), u" \t"_qs } << u"代理服务 3"_qs;
    }

    void naming()
    {
        QFETCH(QStringList, names);
        QList<TunnelProfile> profiles;
        for (const QString &name : names)
            profiles.append(makeProfile(name));
        TunnelStore &store = makeStore(profiles);
        QSignalSpy added(&store, &TunnelStore::sessionAdded);
        TunnelSession *session = store.addProfile();
        QTEST(session->profile().name, "expected");
        QCOMPARE(store.selectedSession(), session);
        QCOMPARE(added.value(0).value(1).toInt(), names.size());
        QCOMPARE(savedList(), std::optional(profiles << session->profile()));
    }

    // The selection moves to the next service, else the one before; the list is saved without the removed
    // one; the last one gone, a fresh service takes its place.
    void removal()
    {
        QList<TunnelProfile> profiles { makeProfile(u"a"_qs), makeProfile(u"b"_qs), makeProfile(u"c"_qs),
            makeProfile(u"d"_qs) };
        TunnelStore &store = makeStore(profiles);
        QSignalSpy selection(&store, &TunnelStore::selectionChanged);
        const auto remove = [&](const QString &name, const QString &selected, const QString &nowSelected) {
            const auto named = [&profiles](const QString &name) {
                return std::find_if(profiles.begin(), profiles.end(), [&](const auto &p) { return p.name == name; });
            };
            store.setSelectedID(named(selected)->id);
            selection.clear();
            QPointer<TunnelSession> gone = store.sessions().at(named(name) - profiles.begin());
            store.removeProfile(named(name)->id);
            profiles.erase(named(name));
            if (profiles.isEmpty())
                profiles << store.sessions().first()->profile();
            QCOMPARE(
                store.selectedSession()->profile().name, nowSelected.isEmpty() ? profiles.first().name : nowSelected);
            QCOMPARE(selection.isEmpty(), name != selected);
            QCOMPARE(savedList(), std::optional(profiles)); // saved without the removed one
            QTRY_VERIFY(gone.isNull());
        };
        remove(u"b"_qs, u"b"_qs, u"c"_qs);
        remove(u"a"_qs, u"d"_qs, u"d"_qs);
        remove(u"d"_qs, u"d"_qs, u"c"_qs);
        profiles.last().portText = u"08080"_qs; // an edit rewrites the whole list
        store.sessions().last()->setProfile(profiles.last());
        QCOMPARE(savedList(), std::optional(profiles));
        remove(u"c"_qs, u"c"_qs, QString());
    }

    void killedWriterLeavesAWholeList()
    {
        QList<TunnelProfile> seeded;
        for (int i = 0; i < 200; ++i)
            seeded.append(makeProfile(u"0"_qs));
        writeSettingsFile(m_path, { { Preferences::profilesKey, encodeProfiles(seeded) } });
        for (int round = 0; round < 12; ++round) {
            // The writer spends nearly all its time inside saves (each ends in an fsync): a kill lands in one.
            const int savesBeforeKill = int(QRandomGenerator::global()->bounded(1, 40));
            QVERIFY(runHelper("--writer", m_path, savesBeforeKill).count("saved\n") >= savesBeforeKill);
            const auto list = profilesOnDisk(m_path).value_or(QList<TunnelProfile>());
            QVERIFY2(std::equal(list.begin(), list.end(), seeded.begin(), seeded.end(),
                         [](const TunnelProfile &a, const TunnelProfile &b) { return a.id == b.id; }),
                qPrintable(u"round %1"_qs.arg(round)));
        }
    }

    void fullDiskKeepsTheSavedListAndRetries()
    {
        const QString folder = m_dir->filePath(u"disk"_qs);
        QVERIFY(QDir().mkpath(folder));
        const QByteArray output = runHelper("--full-disk", folder);
        qInfo("%s", output.constData());
        QVERIFY(output.startsWith("mode ") && output.count('\n') == 1); // no fault listed
    }

    // A burst of changes is saved once it pauses, without being asked; a lock file, stale or held, holds
    // no save up (waiting on it would freeze the window for 30 s).
    void whenSavesHappen()
    {
        Timings timings;
        timings.saveDelay = 1s;
        TunnelStore &store = makeStore({ makeProfile(u"a"_qs) }, timings);
        const auto before = profilesOnDisk(m_path);
        for (int i = 0; i < 5; ++i)
            rename(store.sessions().first(), u"a%1"_qs.arg(i));
        QCOMPARE(profilesOnDisk(m_path), before);
        QTRY_COMPARE(profilesOnDisk(m_path), std::optional(profilesOf(store)));
        QLockFile held(m_path + u".lock"_qs);
        for (const bool live : { true, false }) {
            if (!live) // as a killed save leaves it
                held.unlock();
            QVERIFY(live ? held.tryLock(0) : QFile(m_path + u".lock"_qs).open(QIODevice::WriteOnly));
            QElapsedTimer clock;
            clock.start();
            store.addProfile();
            QCOMPARE(savedList(), std::optional(profilesOf(store)));
            QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        }
    }

    void unreadableListIsToldOnceAndItsBackupGoesLater()
    {
        const QByteArray damaged("[{\"id\":\"\xff", 9);
        writeSettingsFile(m_path, { { Preferences::profilesKey, damaged } });
        makeStore().addProfile();
        const QString notice = m_store->unreadableNotice();
        savedList();
        QVERIFY(!notice.isEmpty() && m_store->unreadableNotice() == notice); // saving is not telling
        QSignalSpy changed(m_store.get(), &TunnelStore::changed);
        m_store->dismissUnreadableNotice();
        QVERIFY(changed.size() == 1 && m_store->unreadableNotice().isEmpty());
        savedList();
        QCOMPARE(
            settingsOnDisk(m_path).value(Preferences::unreadableProfilesKey), QVariant(damaged)); // no later list yet
        // Told once: not again at the next start; the next list saved takes the backup away.
        makeStore().addProfile();
        QCOMPARE(m_store->unreadableNotice(), QString());
        savedList();
        const QStringList keys = settingsOnDisk(m_path).keys();
        QVERIFY(
            !keys.contains(Preferences::unreadableProfilesKey) && !keys.contains(Preferences::unreadableNoticeSeenKey));
    }

    // Gate switches and password: beside the stored list, never in it, in a file only its owner reads;
    // loaded at start, saved on change, gone with the service.
    void gateSettingsKeptApartAndPrivate()
    {
        const TunnelProfile kept = makeProfile(u"a"_qs);
        const TunnelProfile damaged = makeProfile(u"b"_qs);
        writeSettingsFile(m_path, { { gateKey(damaged.id, "passwordOn"), u"banana"_qs } }); // edited by hand
        TunnelSession *session = makeStore({ kept, damaged }).sessions().first();
        QCOMPARE(m_store->sessions().last()->gateSettings(), GateSettings());
        const GateSettings gate { true, true, u"s3cret 密码"_qs };
        session->setGateSettings({ true, true, u"first"_qs });
        session->setGateSettings(gate);
        QTRY_COMPARE(settingsOnDisk(m_path).value(gateKey(kept.id, "password")).toString(), gate.password);
        // A switch alone leaves the password where it is kept.
        session->setGateSettings({ false, true, gate.password });
        QTRY_COMPARE(settingsOnDisk(m_path).value(gateKey(kept.id, "passwordOn")).toString(), u"false"_qs);
        QCOMPARE(settingsOnDisk(m_path).value(gateKey(kept.id, "password")).toString(), gate.password);
        QCOMPARE(fileMode(m_path), 0600);
        QVERIFY(!settingsOnDisk(m_path).value(Preferences::profilesKey).toByteArray().contains("s3cret"));

        TunnelStore &store = makeStore();
        QCOMPARE(store.sessions().constFirst()->gateSettings(), GateSettings({ false, true, gate.password }));
        QCOMPARE(store.addProfile()->gateSettings(), GateSettings());
        // A password kept elsewhere is not left behind here.
        m_preferences->setGateSettings(kept.id, gate, false);
        QCOMPARE(m_preferences->gateSettings(kept.id), GateSettings({ true, true, {} }));
        store.removeProfile(kept.id);
        store.savePendingChanges();
        const QString keys = settingsOnDisk(m_path).keys().join(u' ');
        QVERIFY(!keys.contains(gateKey(kept.id, "")) && keys.contains(gateKey(damaged.id, "")));
    }

    void runningServices()
    {
        // Children note a polite request to stop.
        QVERIFY(m_fake->install("[ \"$1\" = --version ] && exit 0\n"
                                "trap 'echo > \"$rec/terminated.$n\"; kill $!; exit 0' TERM\n"
            + FakeCloudflared::onlineBody(60).replace("exec sleep 60", "sleep 60 &\nwait")));
        TunnelStore &store = makeStore({ makeProfile(u"idle"_qs, m_server.port()), makeProfile(u"failed"_qs, 0),
                                           makeProfile(u"online"_qs, m_server.port()) },
            quickTimings());
        const QList<TunnelSession *> sessions = store.sessions();
        using K = TunnelStatus::Kind;
        const auto are = [&sessions](K first, K second) {
            return sessions[0]->status().is(first) && sessions[1]->status().is(second);
        };
        sessions[1]->start();
        sessions[2]->start();
        QTRY_VERIFY_WITH_TIMEOUT(are(K::idle, K::failed) && sessions[2]->status().is(K::online), 20000);
        QCOMPARE(store.runningCount(), 1);
        store.startAll();
        QVERIFY(are(K::preparing, K::preparing)); // the idle and the failed one
        QTRY_VERIFY_WITH_TIMEOUT(are(K::online, K::failed), 20000);
        // A removed service winds its child down politely, and its changes no longer reach the store.
        QPointer<TunnelSession> removed = sessions[0];
        const qint64 pid = m_fake->processId();
        store.removeProfile(removed->id());
        QSignalSpy changed(&store, &TunnelStore::changed);
        QTRY_VERIFY_WITH_TIMEOUT(removed.isNull() && !processAlive(pid), 20000);
        QVERIFY(QFile::exists(m_fake->recordDirectory() + u"/terminated.%1"_qs.arg(m_fake->runs())));
        QCOMPARE(changed.size(), 0);
        sessions[2]->stop();
        QCOMPARE(store.runningCount(), 1); // stopping counts, failed does not
        store.stopAll();
        QTRY_COMPARE_WITH_TIMEOUT(store.runningCount(), 0, 20000);
        QVERIFY(sessions[1]->status().is(K::failed));
    }

    void migration_data()
    {
        QTest::addColumn<QVariantMap>("current");
        QTest::addColumn<QVariantMap>("former"); // the former edition's file; none when empty
        QTest::addColumn<QVariantMap>("expected"); // every key of the current file afterwards, marker aside
        const QVariantMap allSix { { u"tunnelProfilesV2"_qs, encodeProfiles({ makeProfile(u"旧服务"_qs) }) },
            { u"originHost"_qs, u"10.0.0.5"_qs }, { u"originPort"_qs, u"8443"_qs }, { u"originScheme"_qs, u"HTTPS"_qs },
            { u"skipTLSVerification"_qs, true }, { u"legalAcknowledgementVersion"_qs, 2 } };
        const QVariantMap kept { { u"skipTLSVerification"_qs, false }, { u"legalAcknowledgementVersion"_qs, 0 },
            { u"originHost"_qs, QString() } };
        QVariantMap keptOverAll = allSix;
        keptOverAll.insert(kept);
        QTest::newRow("marker set: a second start")
            << QVariantMap { { Preferences::migrationMarkerKey, true } } << allSix << QVariantMap();
        QTest::newRow("all six") << QVariantMap() << allSix << allSix;
        QTest::newRow("false, zero and empty text kept") << kept << allSix << keptOverAll;
        QTest::newRow("foreign keys ignored")
            << QVariantMap()
            << QVariantMap { { u"originScheme"_qs, u"HTTP"_qs }, { u"windowFrame"_qs, u"0 0 800 600"_qs },
                   { u"OriginHost"_qs, u"wrong case"_qs } }
            << QVariantMap { { u"originScheme"_qs, u"HTTP"_qs } };
    }

    void migration()
    {
        QFETCH(QVariantMap, current);
        QFETCH(QVariantMap, former);
        QFETCH(QVariantMap, expected);
        // The former edition kept its file at the top of the configuration directory.
        const QString formerPath = m_dir->filePath(LegacySettingsMigrator::legacyFileName);
        writeSettingsFile(formerPath, former);
        writeSettingsFile(m_path, current);
        Preferences preferences(QSettings(m_path, QSettings::IniFormat));
        LegacySettingsMigrator::migrateIfNeeded(preferences);
        QVariantMap found = settingsOnDisk(m_path);
        QCOMPARE(found.take(Preferences::migrationMarkerKey).toString(), u"true"_qs);
        for (QVariant &value : expected) { // as an INI file hands values back: plain values as text
            if (value.typeId() != QMetaType::QByteArray)
                value = value.toString();
        }
        QCOMPARE(found, expected);
        QCOMPARE(QFileInfo(m_path).dir().entryList(QDir::Files | QDir::Hidden), QStringList { u"orvanta.conf"_qs });
        QCOMPARE(settingsOnDisk(formerPath).size(), former.size()); // read, never written
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && (qstrcmp(argv[1], "--writer") == 0 || qstrcmp(argv[1], "--full-disk") == 0))
        return storeHelper(argc, argv);
    QCoreApplication app(argc, argv);
    TestTunnelStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "TestTunnelStore.moc"
