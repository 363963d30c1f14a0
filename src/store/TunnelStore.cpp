#include "store/TunnelStore.h"

#include "base/Logging.h"
#include "gate/GatePasswordStore.h"
#include "session/CloudflaredVersionQuery.h"
#include "session/TunnelSession.h"
#include "store/Preferences.h"
#include "store/SettingsValues.h"

#include <QPointer>
#include <QSet>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>

namespace {

struct LoadedProfiles
{
    QList<TunnelProfile> profiles;
    /// Set when a stored value gave no profile although it was not an empty list.
    std::optional<QVariant> unreadable;
};

LoadedProfiles loadProfiles(const Preferences &preferences)
{
    const QString &fileName = preferences.fileName();
    const QVariant stored = preferences.storedProfiles();
    auto decoded = stored.typeId() == QMetaType::QByteArray ? decodeProfiles(stored.toByteArray()) : std::nullopt;
    if (decoded && !decoded->isEmpty()) {
        // A copied record would share its session's identity with another: selection, relay and removal
        // would all reach the wrong one. The copy gets an identity of its own.
        QSet<QUuid> seen;
        for (TunnelProfile &profile : *decoded) {
            if (seen.contains(profile.id))
                profile.id = QUuid::createUuid();
            seen.insert(profile.id);
        }
        qCInfo(lcStore) << "loaded" << decoded->size() << "services from" << fileName;
        return { std::move(*decoded), std::nullopt };
    }
    LoadedProfiles loaded { { preferences.fallbackProfile() }, std::nullopt };
    // Anything else stored (damaged bytes, a record of a newer version, not even a data value) is still
    // the user's list: it is kept until the first save backs it up.
    if (!decoded && !settingsValueIsEmpty(stored)) {
        loaded.unreadable = stored;
        qCWarning(lcStore) << "the saved list in" << fileName
                           << "cannot be read; it is kept as a backup at the first save";
    } else {
        qCInfo(lcStore) << "no saved list in" << fileName << "; starting with one service";
    }
    return loaded;
}

QString displayName(const TunnelProfile &profile)
{
    const QString trimmed = profile.name.trimmed();
    return trimmed.isEmpty() ? QStringLiteral("未命名服务") : trimmed;
}

} // namespace

TunnelStore::TunnelStore(Preferences *preferences, SessionDependencies dependencies, QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
    , m_dependencies(std::move(dependencies))
    , m_passwords(new GatePasswordStore(this))
{
    Q_ASSERT(m_preferences);
    m_dependencies.policy->restartAfterDrop = m_preferences->reconnectAutomatically();
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(m_dependencies.timings.saveDelay);
    connect(&m_saveTimer, &QTimer::timeout, this, &TunnelStore::savePendingChanges);

    LoadedProfiles loaded = loadProfiles(*m_preferences);
    m_unreadableStoredValue = std::move(loaded.unreadable);
    m_backupSaved = m_preferences->hasUnreadableBackup();
    if (m_unreadableStoredValue) // a list lost again is news again
        m_preferences->setUnreadableNoticeSeen(false);
    for (const TunnelProfile &profile : std::as_const(loaded.profiles))
        m_sessions.append(makeSession(profile));
    m_selectedID = m_sessions.first()->id();
    for (TunnelSession *session : std::as_const(m_sessions)) {
        loadGate(session);
        observe(session);
        session->beginMonitoring();
    }

    redetectCloudflared();
}

void TunnelStore::redetectCloudflared()
{
    if (m_versionQueryRunning)
        return;
    m_versionQueryRunning = true;
    auto *versionQuery = new CloudflaredVersionQuery(this);
    connect(versionQuery, &CloudflaredVersionQuery::finished, this, [this, versionQuery](const QString &version) {
        versionQuery->deleteLater();
        m_versionQueryRunning = false;
        m_cloudflaredVersion = version;
        emit changed();
    });
    versionQuery->start(m_dependencies.locator, m_dependencies.timings.versionQueryTimeout);
    emit changed();
}

TunnelStore::~TunnelStore()
{
    {
        const QSignalBlocker quiet(this);
        savePendingChanges();
    }
    // Sessions go with their parent; their last changes must not reach a store that is half gone.
    for (const auto &connection : std::as_const(m_sessionObservers))
        disconnect(connection);
}

void TunnelStore::setSelectedID(std::optional<QUuid> id)
{
    if (!selectWithoutNotice(id))
        return;
    emit selectionChanged();
    emit changed();
}

bool TunnelStore::selectWithoutNotice(std::optional<QUuid> id)
{
    if (m_selectedID == id)
        return false;
    m_selectedID = id;
    return true;
}

TunnelSession *TunnelStore::selectedSession() const
{
    if (!m_selectedID)
        return nullptr;
    for (TunnelSession *session : m_sessions) {
        if (session->id() == *m_selectedID)
            return session;
    }
    return nullptr;
}

int TunnelStore::runningCount() const
{
    return int(std::count_if(m_sessions.cbegin(), m_sessions.cend(),
        [](const TunnelSession *session) { return session->status().isActive(); }));
}

TunnelSession *TunnelStore::addProfile()
{
    QSet<QString> taken;
    for (const TunnelSession *session : std::as_const(m_sessions))
        taken.insert(displayName(session->profile()));
    qsizetype n = m_sessions.size() + 1;
    QString name = QStringLiteral("代理服务 %1").arg(n);
    while (taken.contains(name))
        name = QStringLiteral("代理服务 %1").arg(++n);

    TunnelProfile profile;
    profile.id = QUuid::createUuid();
    profile.name = name;
    profile.host = QStringLiteral("127.0.0.1");
    profile.portText = QStringLiteral("3000");

    TunnelSession *session = makeSession(profile);
    m_sessions.append(session);
    emit sessionAdded(session, int(m_sessions.size() - 1));
    observe(session);
    session->beginMonitoring();
    if (selectWithoutNotice(session->id()))
        emit selectionChanged();
    persistProfiles();
    emit changed();
    return session;
}

void TunnelStore::removeProfile(const QUuid &id)
{
    const auto it = std::find_if(
        m_sessions.cbegin(), m_sessions.cend(), [&id](const TunnelSession *session) { return session->id() == id; });
    if (it == m_sessions.cend())
        return;
    const qsizetype index = it - m_sessions.cbegin();
    TunnelSession *session = *it;

    session->shutdown();
    disconnect(m_sessionObservers.take(id));
    forgetGate(id);
    m_sessions.removeAt(index);
    emit sessionRemoved(id, int(index));

    if (m_selectedID == id) {
        std::optional<QUuid> next;
        if (index < m_sessions.size())
            next = m_sessions.at(index)->id();
        else if (!m_sessions.isEmpty())
            next = m_sessions.last()->id();
        selectWithoutNotice(next);
        emit selectionChanged();
    }
    release(session);

    if (m_sessions.isEmpty()) {
        addProfile(); // selects, saves and announces the fresh service
        return;
    }
    persistProfiles();
    emit changed();
}

void TunnelStore::release(TunnelSession *session)
{
    // Deleting a session kills its child outright, so a session whose child is still being stopped
    // lingers, unlisted, until the exit has been handled, and at most until the stop has had to kill.
    if (!session->hasChild()) {
        session->deleteLater();
        return;
    }
    connect(session, &TunnelSession::changed, session, [session] {
        if (!session->hasChild())
            session->deleteLater();
    });
    QTimer::singleShot(m_dependencies.timings.killGrace + std::chrono::seconds(1), session, &QObject::deleteLater);
}

QList<TunnelSession *> TunnelStore::sessionsWhereActive(bool active) const
{
    QList<TunnelSession *> chosen;
    for (TunnelSession *session : m_sessions) {
        if (session->status().isActive() == active)
            chosen.append(session);
    }
    return chosen;
}

void TunnelStore::startAll()
{
    // Chosen first: starting one may change what the others report.
    for (TunnelSession *session : sessionsWhereActive(false))
        session->start();
}

void TunnelStore::stopAll()
{
    for (TunnelSession *session : sessionsWhereActive(true))
        session->stop();
}

void TunnelStore::shutdownAll()
{
    // A copy: a session's change may reach a view that edits the list.
    const QList<TunnelSession *> sessions = m_sessions;
    for (TunnelSession *session : sessions)
        session->shutdown();
}

TunnelSession *TunnelStore::makeSession(const TunnelProfile &profile)
{
    const QPointer<TunnelStore> store(this);
    return new TunnelSession(
        profile,
        [store](const TunnelProfile &) {
            if (store)
                store->persistProfiles();
        },
        m_dependencies, this);
}

void TunnelStore::observe(TunnelSession *session)
{
    const auto earlier = m_sessionObservers.take(session->id());
    if (earlier)
        disconnect(earlier);
    m_sessionObservers.insert(session->id(), connect(session, &TunnelSession::changed, this, [this, session] {
        noteGateChange(session);
        emit changed();
    }));
}

TunnelSession *TunnelStore::sessionWithID(const QUuid &id) const
{
    const auto it = std::find_if(
        m_sessions.cbegin(), m_sessions.cend(), [&id](const TunnelSession *session) { return session->id() == id; });
    return it == m_sessions.cend() ? nullptr : *it;
}

void TunnelStore::loadGate(TunnelSession *session)
{
    const QUuid id = session->id();
    if (!m_preferences->hasGateSettings(id))
        return;
    const GateSettings settings = m_preferences->gateSettings(id);
    m_gates.insert(id, settings);
    session->setGateSettings(settings);
    if (!settings.password.isEmpty()) {
        // Left in the file when no Secret Service took it last time: offered again.
        offerPassword(session);
        return;
    }
    const quint64 edits = m_passwordEdits.value(id);
    m_passwords->lookup(id, [this, id, edits](std::optional<QString> password) {
        TunnelSession *session = sessionWithID(id);
        if (!session || !password || password->isEmpty() || m_passwordEdits.value(id) != edits)
            return;
        GateSettings withPassword = session->gateSettings();
        withPassword.password = *password;
        m_gates.insert(id, withPassword); // read, not edited: nothing to save
        session->setGateSettings(withPassword);
    });
}

void TunnelStore::noteGateChange(const TunnelSession *session)
{
    const QUuid id = session->id();
    const GateSettings &now = session->gateSettings();
    const GateSettings before = m_gates.value(id);
    if (now == before)
        return;
    m_gates.insert(id, now);
    if (now.password == before.password) {
        // The password stays where it is kept.
        m_preferences->setGateSettings(id, now, !m_preferences->gateSettings(id).password.isEmpty());
    } else {
        ++m_passwordEdits[id];
        // In the file until the Secret Service has it: a quit before its answer must not lose it.
        m_preferences->setGateSettings(id, now, true);
        if (now.password.isEmpty())
            m_passwords->clear(id);
        else
            offerPassword(session);
    }
    // With the list: a service made from the former edition's keys is in no saved list yet, and its
    // gate would be kept under an id that the next start does not know.
    persistProfiles();
}

void TunnelStore::offerPassword(const TunnelSession *session)
{
    const QUuid id = session->id();
    const quint64 edits = m_passwordEdits.value(id);
    const QString label = QStringLiteral("奥文塔访问密码：") + displayName(session->profile());
    m_passwords->store(id, label, session->gateSettings().password, [this, id, edits](bool stored) {
        if (!stored || m_passwordEdits.value(id) != edits || !m_gates.contains(id))
            return;
        m_preferences->setGateSettings(id, m_gates.value(id), false);
        m_preferencesChanged = true;
        scheduleSave();
    });
}

void TunnelStore::forgetGate(const QUuid &id)
{
    if (!m_gates.contains(id) && !m_preferences->hasGateSettings(id))
        return;
    m_gates.remove(id);
    m_passwordEdits.remove(id);
    m_preferences->removeGateSettings(id);
    m_passwords->clear(id);
    m_preferencesChanged = true;
}

void TunnelStore::persistProfiles()
{
    m_listChanged = true;
    scheduleSave();
}

void TunnelStore::scheduleSave()
{
    // Restarted by every change: a burst of keystrokes is one save once it pauses.
    m_saveTimer.start();
}

void TunnelStore::savePendingChanges()
{
    m_saveTimer.stop();
    if (!m_listChanged && !m_preferencesChanged)
        return;
    if (m_listChanged)
        writeProfiles();
    const bool backupInSave = m_preferences->hasUnreadableBackup();
    QString reason;
    const bool saved = m_preferences->save(&reason);
    QString error;
    if (saved) {
        m_listChanged = m_preferencesChanged = false;
        m_backupSaved = backupInSave;
    } else {
        // Everything stays in memory and stays pending: the next save, or the one at quit, tries again.
        error = QStringLiteral("无法保存服务列表：设置文件 %1 无法写入（%2）").arg(m_preferences->fileName(), reason);
    }
    if (error == m_saveError)
        return;
    if (saved)
        qCInfo(lcStore) << "saved" << m_sessions.size() << "services again after a failed save";
    m_saveError = error;
    emit changed();
}

void TunnelStore::writeProfiles()
{
    QList<TunnelProfile> profiles;
    profiles.reserve(m_sessions.size());
    for (const TunnelSession *session : std::as_const(m_sessions))
        profiles.append(session->profile());
    const QByteArray encoded = encodeProfiles(profiles);
    if (encoded.isEmpty()) {
        qCWarning(lcStore) << "the list could not be encoded; nothing saved";
        return;
    }
    if (m_unreadableStoredValue) {
        m_preferences->backUpUnreadableProfiles(*m_unreadableStoredValue);
        m_unreadableStoredValue.reset();
    } else if (m_backupSaved && m_preferences->unreadableNoticeSeen()) {
        // Kept until the user has been told where it is and a later list has replaced it on disk.
        m_preferences->dropUnreadableBackup();
    }
    m_preferences->setStoredProfiles(encoded);
}

bool TunnelStore::reconnectsAutomatically() const
{
    return m_preferences->reconnectAutomatically();
}

void TunnelStore::setReconnectsAutomatically(bool on)
{
    if (on == reconnectsAutomatically())
        return;
    m_preferences->setReconnectAutomatically(on);
    // Every session shares the policy; a tunnel that drops from now on follows the new choice, and
    // one that waits to reconnect no longer does.
    m_dependencies.policy->restartAfterDrop = on;
    if (!on) {
        for (TunnelSession *session : std::as_const(m_sessions))
            session->abandonPendingRestart();
    }
    m_preferencesChanged = true;
    scheduleSave();
    emit changed();
}

QString TunnelStore::unreadableNotice() const
{
    if ((!m_unreadableStoredValue && !m_preferences->hasUnreadableBackup()) || m_preferences->unreadableNoticeSeen())
        return {};
    return QStringLiteral("保存的服务列表无法读取，现显示默认服务。原内容已备份在设置文件 %1 的“%2”项中。")
        .arg(m_preferences->fileName(), Preferences::unreadableProfilesKey);
}

void TunnelStore::dismissUnreadableNotice()
{
    if (unreadableNotice().isEmpty())
        return;
    m_preferences->setUnreadableNoticeSeen(true);
    m_preferencesChanged = true;
    scheduleSave();
    emit changed();
}
