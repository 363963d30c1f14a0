#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "SmallDisk.h"
#include "TestSupport.h"
#include "session/TunnelSession.h"
#include "store/LegacySettingsMigrator.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLockFile>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

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

void renameAll(TunnelStore &store, const QString &name)
{
    for (TunnelSession *session : store.sessions()) {
        TunnelProfile profile = session->profile();
        profile.name = name;
        session->setProfile(profile);
    }
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
    const auto saveAs = [&store](const QString &name) {
        renameAll(store, name);
        store.savePendingChanges();
        return store.saveError().isEmpty();
    };
    for (qint64 generation = 0; !fullDisk; ++generation) {
        std::puts(saveAs(u"%1-%2"_qs.arg(app.applicationPid()).arg(generation)) ? "saved" : "failed");
        std::fflush(stdout);
    }
    const auto fault = [](bool ok, const char *what) {
        if (!ok)
            std::printf("%s\n", what);
    };
    const auto namesOnDisk = [&path](const QString &name) {
        const auto list = profilesOnDisk(path).value_or(QList<TunnelProfile>());
        return list.size() == 2 && list.first().name == name && list.last().name == name;
    };
    store.addProfile();
    if (!saveAs(u"第一版"_qs) || !SmallDisk::runOutOfRoom(dir, tmpfs))
        return 3;
    const QString large(350, u'长'); // more than the one page left, less than QFile's buffer
    fault(!saveAs(large), "failure hidden");
    fault(namesOnDisk(u"第一版"_qs), "previous list lost");
    fault(store.sessions().size() == 2 && store.sessions().first()->profile().name == large, "list lost in memory");
    QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden);
    left.removeOne(u"filler"_qs);
    fault(left == QStringList { u"orvanta.conf"_qs }, "leftovers");
    // Room again: the changes that could not be saved are still pending and go with the next save.
    SmallDisk::makeRoom(dir, tmpfs);
    store.savePendingChanges();
    fault(store.saveError().isEmpty() && namesOnDisk(large), "not saved after retry");
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
    LocalHttpServer m_servers[2];

    TunnelStore &makeStore(const QList<TunnelProfile> &stored = {}, Timings timings = {},
        const std::shared_ptr<RunPolicy> &policy = std::make_shared<RunPolicy>())
    {
        if (!stored.isEmpty())
            writeSettingsFile(m_path, { { Preferences::profilesKey, encodeProfiles(stored) } });
        m_store.reset();
        m_preferences = std::make_unique<Preferences>(QSettings(m_path, QSettings::IniFormat));
        SessionDependencies dependencies { timings, m_fake->locator(), answeringPublicProbe({ true, 200, {} }) };
        dependencies.policy = policy;
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
        while (output.count('\n') < linesBeforeKill && helper.waitForReadyRead(60000))
            output += helper.readAll();
        if (linesBeforeKill >= 0)
            helper.kill();
        const bool ended = helper.waitForFinished(60000) && (linesBeforeKill >= 0 || helper.exitCode() == 0);
        return ended ? output + helper.readAll() : "helper failed";
    }

private slots:
    void initTestCase()
    {
        for (auto &server : m_servers)
            QVERIFY(server.listenHttp());
        // A bus nobody listens on: no Secret Service answers, and the user's own keyring is never touched.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(u"orvanta/orvanta.conf"_qs);
        m_fake = std::make_unique<FakeCloudflared>(m_dir->filePath(u"fake"_qs));
    }

    void cleanup()
    {
        if (m_store)
            m_store->shutdownAll();
        for (int run = 1; run <= m_fake->runs(); ++run)
            QTRY_VERIFY_WITH_TIMEOUT(!processAlive(m_fake->processId(run)), 20000);
        m_store.reset();
        m_preferences.reset();
        m_fake.reset();
    }

    void loading_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QString>("shown"); // scheme, host, port and switch of the one service shown
        QTest::addColumn<QVariant>("backup"); // under "tunnelProfilesV2.unreadable" after the first save
        const QString fallback = u"自动 127.0.0.1 3000 0"_qs;
        const auto unreadable = [&](const char *name, const QVariant &value, const QVariant &older = {}) {
            QVariantMap stored { { Preferences::profilesKey, value } };
            if (older.isValid())
                stored.insert(Preferences::unreadableProfilesKey, older);
            QTest::newRow(name) << stored << fallback << (older.isValid() ? older : value);
        };
        QByteArray badRecord = encodeProfiles({ makeProfile(u"a"_qs), makeProfile(u"b"_qs) });
        unreadable("one bad record", badRecord.replace(badRecord.lastIndexOf("\"HTTP\""), 6, "\"http\""));
        unreadable("damaged bytes", QByteArray("[{\"id\":\"\xff\x00", 9));
        unreadable("deeply nested", QByteArray(200000, '[') + QByteArray(200000, ']'));
        unreadable("older backup kept", QByteArray("newer"), QByteArray("older"));
        QTest::newRow("first launch") << QVariantMap() << fallback << QVariant();
        QTest::newRow("empty array") << QVariantMap { { Preferences::profilesKey, QByteArray("[]") } } << fallback
                                     << QVariant();
        QVariantMap flat { { u"originHost"_qs, u"10.0.0.5"_qs }, { u"originPort"_qs, u"8443"_qs },
            { u"originScheme"_qs, u"HTTPS"_qs }, { u"skipTLSVerification"_qs, true } };
        QTest::newRow("flat keys") << flat << u"HTTPS 10.0.0.5 8443 1"_qs << QVariant();
        flat.insert(u"originScheme"_qs, u"https"_qs);
        QTest::newRow("flat keys, lower-case scheme") << flat << u"自动 10.0.0.5 8443 1"_qs << QVariant();
        QTest::newRow("flat keys of wrong types")
            << QVariantMap { { u"originHost"_qs, QStringList { u"a"_qs, u"b"_qs } }, { u"originPort"_qs, 8443 },
                   { u"originScheme"_qs, QByteArray("HTTP") }, { u"skipTLSVerification"_qs, u"maybe"_qs } }
            << u"自动 127.0.0.1 8443 0"_qs << QVariant();
    }

    void loading()
    {
        QFETCH(QVariantMap, stored);
        writeSettingsFile(m_path, stored);
        const QVariantMap before = settingsOnDisk(m_path);
        TunnelStore &store = makeStore();
        QCOMPARE(store.sessions().size(), 1);
        const TunnelProfile profile = store.sessions().first()->profile();
        QCOMPARE(profile.name, u"默认服务"_qs);
        QTEST(u"%1 %2 %3 %4"_qs.arg(rawValue(profile.scheme), profile.host, profile.portText)
                  .arg(int(profile.skipTLSVerification)),
            "shown");
        QCOMPARE(store.selectedSession(), store.sessions().first());
        QCOMPARE(settingsOnDisk(m_path), before); // loading writes nothing

        store.addProfile();
        QCOMPARE(savedList(), std::optional(profilesOf(store)));
        QTEST(settingsOnDisk(m_path).value(Preferences::unreadableProfilesKey), "backup");
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

    void removalRepairsSelection_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("removed");
        QTest::addColumn<int>("expected"); // index before the removal; -1 for a fresh service
        QTest::newRow("selected middle") << 3 << 1 << 1 << 2;
        QTest::newRow("selected last") << 3 << 2 << 2 << 1;
        QTest::newRow("selected first") << 3 << 0 << 0 << 1;
        QTest::newRow("unselected") << 3 << 2 << 0 << 2;
        QTest::newRow("the only one") << 1 << 0 << 0 << -1;
    }

    void removalRepairsSelection()
    {
        QFETCH(int, count);
        QFETCH(int, selected);
        QFETCH(int, removed);
        QFETCH(int, expected);
        QList<TunnelProfile> profiles;
        for (int i = 0; i < count; ++i)
            profiles << makeProfile(QString(QChar(u'a' + i)));
        const QList<TunnelProfile> before = profiles;
        TunnelStore &store = makeStore(profiles);
        store.setSelectedID(profiles.at(selected).id);
        QSignalSpy selection(&store, &TunnelStore::selectionChanged);
        QPointer<TunnelSession> gone = store.sessions().at(removed);
        store.removeProfile(profiles.at(removed).id);
        profiles.removeAt(removed);
        if (expected < 0) { // never an empty list: a fresh service takes the last one's place
            QCOMPARE(store.sessions().size(), 1);
            profiles << store.sessions().first()->profile();
            QCOMPARE(profiles.first().name, u"代理服务 1"_qs);
        }
        QCOMPARE(store.selectedID(), expected < 0 ? profiles.first().id : before.at(expected).id);
        QCOMPARE(selection.isEmpty(), selected != removed);
        QCOMPARE(savedList(), std::optional(profiles)); // saved without the removed one
        profiles.last().portText = u"08080"_qs; // an edit rewrites the whole list, in order
        store.sessions().last()->setProfile(profiles.last());
        QCOMPARE(savedList(), std::optional(profiles));
        QTRY_VERIFY(gone.isNull());
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
            const auto list = profilesOnDisk(m_path);
            QVERIFY2(list && list->size() == seeded.size(), qPrintable(u"round %1"_qs.arg(round)));
            for (qsizetype i = 0; i < seeded.size(); ++i)
                QCOMPARE(list->at(i).id, seeded.at(i).id);
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

    void savesWaitForAPauseInTheChanges()
    {
        Timings timings;
        timings.saveDelay = 1s;
        TunnelStore &store = makeStore({ makeProfile(u"a"_qs) }, timings);
        const auto before = profilesOnDisk(m_path);
        for (int i = 0; i < 5; ++i)
            renameAll(store, u"a%1"_qs.arg(i));
        QCOMPARE(profilesOnDisk(m_path), before);
        // Nothing more is asked of the store: the pause alone brings the last state to disk.
        QTRY_COMPARE(profilesOnDisk(m_path), std::optional(profilesOf(store)));
    }

    void settingsLockHoldsNoSave_data()
    {
        QTest::addColumn<bool>("live");
        QTest::newRow("empty lock left by a killed save") << false;
        QTest::newRow("lock of a live process") << true;
    }

    void settingsLockHoldsNoSave()
    {
        QFETCH(bool, live);
        TunnelStore &store = makeStore({ makeProfile(u"a"_qs) });
        QLockFile held(m_path + u".lock"_qs);
        QVERIFY(live ? held.tryLock(0) : QFile(m_path + u".lock"_qs).open(QIODevice::WriteOnly));
        QElapsedTimer clock;
        clock.start();
        store.addProfile();
        QCOMPARE(savedList(), std::optional(profilesOf(store)));
        // Waiting on the lock would freeze the window for 30 s.
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    }

    void unreadableListIsToldOnceAndItsBackupGoesLater()
    {
        const QByteArray damaged("[{\"id\":\"\xff", 9);
        writeSettingsFile(m_path, { { Preferences::profilesKey, damaged } });
        Timings timings;
        timings.saveDelay = 1h; // saved only when asked
        TunnelStore *store = &makeStore({}, timings);
        const QString notice = store->unreadableNotice();
        QVERIFY2(notice.contains(m_path) && notice.contains(Preferences::unreadableProfilesKey), qPrintable(notice));
        store->addProfile();
        savedList();
        QCOMPARE(store->unreadableNotice(), notice); // saving is not telling
        QSignalSpy changed(store, &TunnelStore::changed);
        store->dismissUnreadableNotice();
        QCOMPARE(changed.size(), 1);
        QCOMPARE(store->unreadableNotice(), QString());
        store->savePendingChanges();
        QVariantMap onDisk = settingsOnDisk(m_path);
        QCOMPARE(onDisk.value(Preferences::unreadableProfilesKey), QVariant(damaged)); // no later list yet
        QCOMPARE(onDisk.value(Preferences::unreadableNoticeSeenKey).toString(), u"true"_qs);

        // Told once: not again at the next start; the next list saved takes the backup away.
        store = &makeStore({}, timings);
        QCOMPARE(store->unreadableNotice(), QString());
        store->addProfile();
        QCOMPARE(savedList(), std::optional(profilesOf(*store)));
        onDisk = settingsOnDisk(m_path);
        QVERIFY(!onDisk.contains(Preferences::unreadableProfilesKey));
        QVERIFY(!onDisk.contains(Preferences::unreadableNoticeSeenKey));
    }

    void reconnectPreference_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("on");
        QTest::newRow("never set") << QVariant() << true;
        QTest::newRow("turned off") << QVariant(false) << false;
        QTest::newRow("not a switch") << QVariant(u"maybe"_qs) << true;
    }

    void reconnectPreference()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, on);
        if (stored.isValid())
            writeSettingsFile(m_path, { { Preferences::reconnectAutomaticallyKey, stored } });
        // The sessions follow the policy the store was given.
        const auto policy = std::make_shared<RunPolicy>();
        QCOMPARE(makeStore({}, {}, policy).reconnectsAutomatically(), on);
        QCOMPARE(policy->restartAfterDrop, on);
        m_store->setReconnectsAutomatically(!on);
        QCOMPARE(policy->restartAfterDrop, !on);
        m_store->savePendingChanges();
        QCOMPARE(makeStore({}, {}, policy).reconnectsAutomatically(), !on);
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
        session->setGateSettings(gate);
        m_store->savePendingChanges();
        QCOMPARE(fileMode(m_path), 0600);
        QVERIFY(!settingsOnDisk(m_path).value(Preferences::profilesKey).toByteArray().contains("s3cret"));

        TunnelStore &store = makeStore();
        QCOMPARE(store.sessions().constFirst()->gateSettings(), gate);
        QCOMPARE(store.addProfile()->gateSettings(), GateSettings());
        // A password kept elsewhere is not left behind here.
        m_preferences->setGateSettings(kept.id, gate, false);
        QCOMPARE(m_preferences->gateSettings(kept.id), GateSettings({ true, true, {} }));
        store.removeProfile(kept.id);
        store.savePendingChanges();
        const auto named = [this](const QUuid &id) {
            return settingsOnDisk(m_path).keys().join(u' ').contains(id.toString(QUuid::WithoutBraces).toUpper());
        };
        QVERIFY(!named(kept.id) && named(damaged.id));
    }

    void runningServices()
    {
        // The second server's children never get online; the others note a polite request to stop.
        QVERIFY(m_fake->install("[ \"$1\" = --version ] && { echo 'cloudflared version 2024.5.0'; exit 0; }\n"
                                "case \"$*\" in *\"127.0.0.1:"
            + QByteArray::number(m_servers[1].port())
            + " \"*) exec sleep 60;; esac\ntrap 'echo > \"$rec/terminated.$n\"; kill $!; exit 0' TERM\n"
            + FakeCloudflared::onlineBody(60).replace("exec sleep 60", "sleep 60 &\nwait")));
        TunnelStore &store = makeStore(
            { makeProfile(u"idle"_qs, m_servers[0].port()), makeProfile(u"failed"_qs, 0),
                makeProfile(u"online"_qs, m_servers[0].port()), makeProfile(u"connecting"_qs, m_servers[1].port()) },
            quickTimings());
        const QList<TunnelSession *> sessions = store.sessions();
        const auto kinds = [&sessions] {
            QList<int> kinds;
            for (const TunnelSession *session : sessions)
                kinds << int(session->status().kind);
            return kinds;
        };
        using K = TunnelStatus::Kind;
        for (int i = 1; i < 4; ++i)
            sessions[i]->start();
        QTRY_COMPARE_WITH_TIMEOUT(
            kinds(), QList<int>({ 0, int(K::failed), int(K::online), int(K::connecting) }), 20000);
        QCOMPARE(store.runningCount(), 2);
        QList<int> started;
        const auto relay = connect(&store, &TunnelStore::changed, this, [&] {
            for (int i = 0; i < 4; ++i) {
                if (sessions[i]->status().is(K::preparing) && !started.contains(i))
                    started << i;
            }
        });
        store.startAll();
        disconnect(relay);
        QCOMPARE(started, QList<int>({ 0, 1 })); // relayed synchronously, in list order
        QTRY_COMPARE_WITH_TIMEOUT(kinds().mid(0, 2), QList<int>({ int(K::online), int(K::failed) }), 20000);
        // A removed service winds its child down politely, and its changes no longer reach the store.
        QPointer<TunnelSession> removed = sessions[0];
        const qint64 pid = m_fake->processId();
        store.removeProfile(removed->id());
        QSignalSpy changed(&store, &TunnelStore::changed);
        QTRY_VERIFY_WITH_TIMEOUT(removed.isNull() && !processAlive(pid), 20000);
        QVERIFY(QFile::exists(m_fake->recordDirectory() + u"/terminated.%1"_qs.arg(m_fake->runs())));
        QCOMPARE(changed.size(), 0);
        sessions[2]->stop();
        QCOMPARE(store.runningCount(), 2); // stopping counts, failed does not
        store.stopAll();
        QTRY_COMPARE_WITH_TIMEOUT(store.runningCount(), 0, 20000);
        QVERIFY(sessions[1]->status().is(K::failed));
    }

    void migration_data()
    {
        QTest::addColumn<QVariantMap>("current");
        QTest::addColumn<int>("former"); // 0: no former domain, 1: its file, 2: a given map
        QTest::addColumn<QVariantMap>("legacy");
        QTest::addColumn<QVariantMap>("expected"); // every key of the current file afterwards, marker aside
        const QVariantMap allSix { { u"tunnelProfilesV2"_qs, encodeProfiles({ makeProfile(u"旧服务"_qs) }) },
            { u"originHost"_qs, u"10.0.0.5"_qs }, { u"originPort"_qs, u"8443"_qs }, { u"originScheme"_qs, u"HTTPS"_qs },
            { u"skipTLSVerification"_qs, true }, { u"legalAcknowledgementVersion"_qs, 2 } };
        const QVariantMap hostAndPort { { u"originHost"_qs, u" 主机 "_qs }, { u"originPort"_qs, u"8443"_qs } };
        const QVariantMap kept { { u"skipTLSVerification"_qs, false }, { u"legalAcknowledgementVersion"_qs, 0 },
            { u"originHost"_qs, QString() } };
        QVariantMap keptOverAll = allSix;
        keptOverAll.insert(kept);
        QTest::newRow("marker set: a second start")
            << QVariantMap { { Preferences::migrationMarkerKey, true } } << 1 << allSix << QVariantMap();
        QTest::newRow("no former domain") << QVariantMap() << 0 << QVariantMap() << QVariantMap();
        QTest::newRow("all six from the file") << QVariantMap() << 1 << allSix << allSix;
        QTest::newRow("all six from a map") << QVariantMap() << 2 << allSix << allSix;
        QTest::newRow("host and port only") << QVariantMap() << 1 << hostAndPort << hostAndPort;
        QTest::newRow("false, zero and empty text kept") << kept << 2 << allSix << keptOverAll;
        QTest::newRow("foreign keys ignored")
            << QVariantMap() << 1
            << QVariantMap { { u"originScheme"_qs, u"HTTP"_qs }, { u"windowFrame"_qs, u"0 0 800 600"_qs },
                   { u"OriginHost"_qs, u"wrong case"_qs } }
            << QVariantMap { { u"originScheme"_qs, u"HTTP"_qs } };
    }

    void migration()
    {
        QFETCH(QVariantMap, current);
        QFETCH(int, former);
        QFETCH(QVariantMap, legacy);
        QFETCH(QVariantMap, expected);
        // The former edition kept its file at the top of the configuration directory.
        const QString legacyPath = m_dir->filePath(LegacySettingsMigrator::legacyFileName);
        writeSettingsFile(m_path, current);
        if (former == 1)
            writeSettingsFile(legacyPath, legacy);
        const QByteArray legacyBefore = contents(legacyPath);
        Preferences preferences(QSettings(m_path, QSettings::IniFormat));
        LegacySettingsMigrator::migrateIfNeeded(preferences, former == 2 ? std::optional(legacy) : std::nullopt);
        QVariantMap found = settingsOnDisk(m_path);
        QCOMPARE(found.take(Preferences::migrationMarkerKey).toString(), u"true"_qs);
        for (QVariant &value : expected) { // as an INI file hands values back: plain values as text
            if (value.typeId() != QMetaType::QByteArray)
                value = value.toString();
        }
        QCOMPARE(found, expected);
        QCOMPARE(QFileInfo(m_path).dir().entryList(QDir::Files | QDir::Hidden), QStringList { u"orvanta.conf"_qs });
        QCOMPARE(contents(legacyPath), legacyBefore);
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
