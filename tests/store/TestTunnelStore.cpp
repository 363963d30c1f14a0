#include "SettingsFile.h"

#include "session/TunnelSession.h"
#include "store/TunnelStore.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QStringList namesOf(const QList<TunnelProfile> &profiles)
{
    QStringList names;
    for (const auto &profile : profiles)
        names.append(profile.name);
    return names;
}

QList<TunnelProfile> profilesOf(const TunnelStore &store)
{
    QList<TunnelProfile> profiles;
    for (const TunnelSession *session : store.sessions())
        profiles.append(session->profile());
    return profiles;
}

} // namespace

class TestTunnelStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void loading_data();
    void loading();
    void naming_data();
    void naming();
    void removalRepairsSelection_data();
    void removalRepairsSelection();
    void removingTheLastServiceAddsAFreshOne();
    void removingAnUnknownIdChangesNothing();
    void storedListLoadsAndEditsRewriteIt();
    void relayEndsWithRemoval();
    void copiedRecordsGetTheirOwnIdentity();
    void selectedSessionNeverFallsBack();
    void unwritableFileKeepsTheListAndRecovers();

private:
    std::unique_ptr<TunnelStore> makeStore(const QList<TunnelProfile> &stored = {});

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
    std::unique_ptr<QSettings> m_settings;
};

void TestTunnelStore::initTestCase()
{
    // No `cloudflared` from the machine may answer the version query.
    TunnelSession::setCloudflaredSearchPaths({QDir::temp().filePath(QStringLiteral("orvanta-no-such-dir/cloudflared"))});
}

void TestTunnelStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("orvanta/orvanta.conf"));
}

void TestTunnelStore::cleanup()
{
    m_settings.reset();
}

std::unique_ptr<TunnelStore> TestTunnelStore::makeStore(const QList<TunnelProfile> &stored)
{
    if (!stored.isEmpty())
        writeSettingsFile(m_path, {{TunnelStore::profilesKey, encodeProfiles(stored)}});
    m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
    return std::make_unique<TunnelStore>(m_settings.get());
}

void TestTunnelStore::loading_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<OriginScheme>("scheme");
    QTest::addColumn<bool>("skip");
    QTest::addColumn<QVariant>("backup"); // under "tunnelProfilesV2.unreadable" after the first save

    const QString key = TunnelStore::profilesKey;
    const QString backupKey = TunnelStore::unreadableProfilesKey;
    const QVariant none;
    const QString localhost = QStringLiteral("127.0.0.1");
    const QString port = QStringLiteral("3000");
    QByteArray oneBadRecord = encodeProfiles({makeProfile(u"a"_qs), makeProfile(u"b"_qs)});
    oneBadRecord.replace(R"("scheme":"HTTP","host":"127.0.0.1","portText":"3000","skipTLSVerification":false}])",
                         R"("scheme":"http","host":"127.0.0.1","portText":"3000","skipTLSVerification":false}])");
    QVERIFY(!decodeProfiles(oneBadRecord));
    const QVariantMap flat{{u"originHost"_qs, u"10.0.0.5"_qs},
                           {u"originPort"_qs, u"8443"_qs},
                           {u"originScheme"_qs, u"HTTPS"_qs},
                           {u"skipTLSVerification"_qs, true}};
    QVariantMap lowerCase = flat;
    lowerCase.insert(u"originScheme"_qs, u"https"_qs);
    const QByteArray deep = QByteArray(200000, '[') + QByteArray(200000, ']');

    const auto row = [&](const char *name, const QVariantMap &stored, const QVariant &backup) {
        QTest::newRow(name) << stored << localhost << port << OriginScheme::automatic << false << backup;
    };
    row("first launch", {}, none);
    row("empty array", {{key, QByteArray("[]")}}, none);
    row("one bad record", {{key, oneBadRecord}}, oneBadRecord);
    row("damaged bytes", {{key, QByteArray("[{\"id\":\"\xff\x00", 9)}}, QByteArray("[{\"id\":\"\xff\x00", 9));
    row("deeply nested", {{key, deep}}, deep);
    row("text instead of data", {{key, u"[]x"_qs}}, u"[]x"_qs);
    row("older backup kept", {{key, QByteArray("newer")}, {backupKey, QByteArray("older")}}, QByteArray("older"));
    QTest::newRow("flat keys") << flat << u"10.0.0.5"_qs << u"8443"_qs << OriginScheme::https << true << none;
    QTest::newRow("flat keys, lower-case scheme")
        << lowerCase << u"10.0.0.5"_qs << u"8443"_qs << OriginScheme::automatic << true << none;
    QTest::newRow("flat keys of wrong types")
        << QVariantMap{{u"originHost"_qs, QStringList{u"a"_qs, u"b"_qs}},
                       {u"originPort"_qs, 8443},
                       {u"originScheme"_qs, QByteArray("HTTP")},
                       {u"skipTLSVerification"_qs, u"maybe"_qs}}
        << localhost << u"8443"_qs << OriginScheme::automatic << false << none;
}

void TestTunnelStore::loading()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(OriginScheme, scheme);
    QFETCH(bool, skip);
    QFETCH(QVariant, backup);

    if (!stored.isEmpty())
        writeSettingsFile(m_path, stored);
    const QVariant before = stored.value(TunnelStore::profilesKey);
    auto store = makeStore();

    QCOMPARE(store->sessions().size(), 1);
    const TunnelProfile profile = store->sessions().first()->profile();
    QCOMPARE(profile.name, u"默认服务"_qs);
    QCOMPARE(profile.host, host);
    QCOMPARE(profile.portText, port);
    QCOMPARE(profile.scheme, scheme);
    QCOMPARE(profile.skipTLSVerification, skip);
    QVERIFY(!profile.id.isNull());
    QCOMPARE(store->selectedSession(), store->sessions().first());
    QCOMPARE(store->cloudflaredVersion(), u"未找到"_qs);

    // Loading writes nothing: whatever was stored is still there, byte for byte.
    QCOMPARE(valueOnDisk(m_path, TunnelStore::profilesKey), before);
    QCOMPARE(keyOnDisk(m_path, TunnelStore::unreadableProfilesKey), stored.contains(TunnelStore::unreadableProfilesKey));

    store->addProfile();
    const auto saved = profilesOnDisk(m_path);
    QVERIFY(saved);
    QCOMPARE(*saved, profilesOf(*store));
    QCOMPARE(valueOnDisk(m_path, TunnelStore::unreadableProfilesKey), backup);
    QVERIFY(!store->lastSaveFailed());
}

void TestTunnelStore::naming_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("expected");
    QTest::newRow("gap") << QStringList{u"代理服务 1"_qs, u"代理服务 3"_qs} << u"代理服务 4"_qs;
    QTest::newRow("other names") << QStringList{u"Web"_qs, u"API"_qs} << u"代理服务 3"_qs;
    QTest::newRow("blanks around") << QStringList{u" 代理服务 3\n"_qs, u"Web"_qs} << u"代理服务 4"_qs;
    QTest::newRow("run of taken")
        << QStringList{u"代理服务 4"_qs, u"代理服务 2"_qs, u"代理服务 3"_qs} << u"代理服务 5"_qs;
    QTest::newRow("no blank between") << QStringList{u"代理服务3"_qs, u"x"_qs} << u"代理服务 3"_qs;
    QTest::newRow("blank names") << QStringList{QString(), u" \t"_qs} << u"代理服务 3"_qs;
}

void TestTunnelStore::naming()
{
    QFETCH(QStringList, names);
    QFETCH(QString, expected);
    QList<TunnelProfile> profiles;
    for (const QString &name : names)
        profiles.append(makeProfile(name));
    auto store = makeStore(profiles);
    QSignalSpy added(store.get(), &TunnelStore::sessionAdded);
    QSignalSpy selection(store.get(), &TunnelStore::selectionChanged);

    TunnelSession *session = store->addProfile();

    QCOMPARE(session->profile().name, expected);
    QCOMPARE(session->profile().host, u"127.0.0.1"_qs);
    QCOMPARE(session->profile().portText, u"3000"_qs);
    QCOMPARE(session->profile().scheme, OriginScheme::automatic);
    QCOMPARE(store->sessions().last(), session);
    QCOMPARE(store->selectedSession(), session);
    QCOMPARE(added.size(), 1);
    QCOMPARE(added.first().at(1).toInt(), names.size());
    QCOMPARE(selection.size(), 1);
    QCOMPARE(namesOf(*profilesOnDisk(m_path)), namesOf(profiles) << expected);
}

void TestTunnelStore::removalRepairsSelection_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("removed");
    QTest::addColumn<int>("expected"); // index before the removal
    QTest::newRow("selected middle") << 1 << 1 << 2;
    QTest::newRow("selected last") << 2 << 2 << 1;
    QTest::newRow("selected first") << 0 << 0 << 1;
    QTest::newRow("unselected") << 2 << 0 << 2;
}

void TestTunnelStore::removalRepairsSelection()
{
    QFETCH(int, selected);
    QFETCH(int, removed);
    QFETCH(int, expected);
    QList<TunnelProfile> profiles{makeProfile(u"a"_qs), makeProfile(u"b"_qs), makeProfile(u"c"_qs)};
    auto store = makeStore(profiles);
    store->setSelectedID(profiles.at(selected).id);
    QSignalSpy removedSpy(store.get(), &TunnelStore::sessionRemoved);
    QSignalSpy selection(store.get(), &TunnelStore::selectionChanged);

    store->removeProfile(profiles.at(removed).id);

    QCOMPARE(store->selectedID(), profiles.at(expected).id);
    QCOMPARE(selection.size(), selected == removed ? 1 : 0);
    QCOMPARE(removedSpy.size(), 1);
    QCOMPARE(removedSpy.first().at(0).value<QUuid>(), profiles.at(removed).id);
    QCOMPARE(removedSpy.first().at(1).toInt(), removed);
    profiles.removeAt(removed);
    QCOMPARE(profilesOf(*store), profiles);
    QCOMPARE(*profilesOnDisk(m_path), profiles);
}

void TestTunnelStore::removingTheLastServiceAddsAFreshOne()
{
    auto store = makeStore();
    const QUuid only = store->sessions().first()->id();
    QPointer<TunnelSession> gone = store->sessions().first();
    store->removeProfile(only);

    QCOMPARE(store->sessions().size(), 1);
    const TunnelProfile fresh = store->sessions().first()->profile();
    QCOMPARE(fresh.name, u"代理服务 1"_qs);
    QVERIFY(fresh.id != only);
    QCOMPARE(store->selectedID(), fresh.id);
    QCOMPARE(*profilesOnDisk(m_path), QList<TunnelProfile>{fresh});
    QTRY_VERIFY(gone.isNull());
}

void TestTunnelStore::removingAnUnknownIdChangesNothing()
{
    auto store = makeStore();
    QSignalSpy changed(store.get(), &TunnelStore::changed);
    store->removeProfile(QUuid::createUuid());
    QCOMPARE(store->sessions().size(), 1);
    QCOMPARE(changed.size(), 0);
    QVERIFY(!QFile::exists(m_path));
}

void TestTunnelStore::storedListLoadsAndEditsRewriteIt()
{
    QList<TunnelProfile> profiles{makeProfile(u"c"_qs), makeProfile(u"a"_qs, u"08080"_qs), makeProfile(u"b"_qs)};
    auto store = makeStore(profiles);
    QCOMPARE(profilesOf(*store), profiles);
    QCOMPARE(store->selectedID(), profiles.first().id);

    profiles[2].portText = u"8080"_qs;
    store->sessions().at(2)->setProfile(profiles[2]);
    QCOMPARE(*profilesOnDisk(m_path), profiles);

    profiles[0].host = u" ::1 "_qs;
    profiles[0].skipTLSVerification = true;
    store->sessions().at(0)->setProfile(profiles[0]);
    QCOMPARE(*profilesOnDisk(m_path), profiles);
}

void TestTunnelStore::relayEndsWithRemoval()
{
    auto store = makeStore();
    store->addProfile();
    QPointer<TunnelSession> first = store->sessions().first();
    QSignalSpy changed(store.get(), &TunnelStore::changed);

    first->setActivity({});
    QCOMPARE(changed.size(), 1); // synchronously, inside the session's own change

    store->removeProfile(first->id());
    changed.clear();
    QVERIFY(first);
    first->setActivity({});
    QCOMPARE(changed.size(), 0);
}

void TestTunnelStore::copiedRecordsGetTheirOwnIdentity()
{
    const TunnelProfile original = makeProfile(u"a"_qs);
    TunnelProfile copy = original;
    copy.name = u"b"_qs;
    auto store = makeStore({original, copy});
    QCOMPARE(store->sessions().at(0)->profile(), original);
    QVERIFY(store->sessions().at(1)->id() != original.id);

    QSignalSpy changed(store.get(), &TunnelStore::changed);
    for (TunnelSession *session : store->sessions())
        session->setActivity({});
    QCOMPARE(changed.size(), 2);
    store->setSelectedID(store->sessions().at(1)->id());
    QCOMPARE(store->selectedSession()->profile().name, u"b"_qs);
}

void TestTunnelStore::selectedSessionNeverFallsBack()
{
    auto store = makeStore();
    TunnelSession *second = store->addProfile();
    QSignalSpy selection(store.get(), &TunnelStore::selectionChanged);

    store->setSelectedID(std::nullopt);
    QCOMPARE(store->selectedSession(), nullptr);
    store->setSelectedID(QUuid::createUuid());
    QCOMPARE(store->selectedSession(), nullptr);
    store->setSelectedID(second->id());
    QCOMPARE(store->selectedSession(), second);
    store->setSelectedID(second->id());
    QCOMPARE(selection.size(), 3);
}

void TestTunnelStore::unwritableFileKeepsTheListAndRecovers()
{
    // A regular file where the settings directory should be: no one, not even root, can save there.
    const QString blocked = m_dir->filePath(QStringLiteral("blocked"));
    m_path = blocked + QStringLiteral("/orvanta.conf");
    QFile file(blocked);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    auto store = makeStore();
    store->addProfile();
    TunnelSession *third = store->addProfile();
    QVERIFY(store->lastSaveFailed());
    QCOMPARE(store->sessions().size(), 3);

    QVERIFY(QFile::remove(blocked));
    QVERIFY(QDir().mkpath(blocked));
    TunnelProfile edited = third->profile();
    edited.name = u"后来保存"_qs;
    third->setProfile(edited);

    QVERIFY(!store->lastSaveFailed());
    QCOMPARE(*profilesOnDisk(m_path), profilesOf(*store));
}

QTEST_GUILESS_MAIN(TestTunnelStore)
#include "TestTunnelStore.moc"
