#pragma once

#include "gate/GateSettings.h"
#include "model/TunnelProfile.h"
#include "session/SessionDependencies.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QUuid>
#include <QVariant>

#include <optional>

class GatePasswordStore;
class Preferences;
class TunnelSession;

/// \brief Owns every service of the application: one TunnelSession per saved profile in display order,
/// the selection, and the saved list.
///
/// Every change of the list or of any profile rewrites the whole list once the changes have paused for
/// Timings::saveDelay, and at the latest at savePendingChanges() or destruction. Every change of any
/// session is relayed synchronously as changed(). Lives on the GUI thread.
///
/// Each service's gate switches are kept beside the list; its password goes to the desktop's Secret
/// Service, and stays in the settings file (readable by its owner only) until one has taken it.
class TunnelStore : public QObject
{
    Q_OBJECT

public:
    /// Loads the list, starts every health monitor and asks for the `cloudflared` version.
    /// Every session gets \a dependencies. \a preferences must outlive the store.
    explicit TunnelStore(Preferences *preferences, SessionDependencies dependencies = {}, QObject *parent = nullptr);
    ~TunnelStore() override;

    /// Never empty.
    const QList<TunnelSession *> &sessions() const { return m_sessions; }

    std::optional<QUuid> selectedID() const { return m_selectedID; }
    void setSelectedID(std::optional<QUuid> id);
    /// The session whose id is selectedID(), or nullptr.
    TunnelSession *selectedSession() const;

    /// Empty until `cloudflared` has answered (changed() follows), then its version, "未找到" or "不可用".
    QString cloudflaredVersion() const { return m_cloudflaredVersion; }
    /// Asks `cloudflared` for its version again, so one installed or removed since is noticed; the answer
    /// replaces cloudflaredVersion() and changed() follows. A query still under way answers this call too.
    void redetectCloudflared();
    bool isDetectingCloudflared() const { return m_versionQueryRunning; }
    /// Sessions that are preparing, connecting, online or stopping.
    int runningCount() const;

    /// Appends a service with default settings and a free numbered name, selects it and saves.
    TunnelSession *addProfile();
    /// Shuts the service down and removes it; removing the last one adds a fresh one. Unknown ids are ignored.
    void removeProfile(const QUuid &id);

    /// Starts every idle or failed service, in list order.
    void startAll();
    /// Stops every service that is doing something, in list order.
    void stopAll();
    /// Cancels every health task and stops every child; called at quit.
    void shutdownAll();

    const Timings &timings() const { return m_dependencies.timings; }

    /// Whether a tunnel whose `cloudflared` drops out is started again (saved; on by default).
    bool reconnectsAutomatically() const;
    void setReconnectsAutomatically(bool on);

    /// Why the latest save did not reach the settings file, in Chinese; empty once a save succeeds.
    /// The list stays in memory and the next save retries.
    const QString &saveError() const { return m_saveError; }

    /// Writes what has changed since the last successful save now; called at quit.
    void savePendingChanges();

    /// Says, in Chinese, that the stored list could not be read and where its bytes are kept; empty
    /// once the user has closed the notice.
    QString unreadableNotice() const;
    /// Records that the notice was seen; the backup goes with a later save of the list.
    void dismissUnreadableNotice();

signals:
    /// Any change of the store or of one of its sessions.
    void changed();
    void sessionAdded(TunnelSession *session, int index);
    void sessionRemoved(QUuid id, int index);
    void selectionChanged();

private:
    TunnelSession *makeSession(const TunnelProfile &profile);
    void observe(TunnelSession *session);
    TunnelSession *sessionWithID(const QUuid &id) const;
    /// Gives the session its stored gate settings and asks the Secret Service for its password.
    void loadGate(TunnelSession *session);
    /// Saves the session's gate settings when they differ from those last seen.
    void noteGateChange(const TunnelSession *session);
    /// Hands the session's password to the Secret Service, and takes it out of the file once it is there.
    void offerPassword(const TunnelSession *session);
    void forgetGate(const QUuid &id);
    /// Schedules a save of the list.
    void persistProfiles();
    void scheduleSave();
    void writeProfiles();
    bool selectWithoutNotice(std::optional<QUuid> id);
    void release(TunnelSession *session);
    /// In list order.
    QList<TunnelSession *> sessionsWhereActive(bool active) const;

    Preferences *const m_preferences;
    const SessionDependencies m_dependencies;
    QList<TunnelSession *> m_sessions;
    std::optional<QUuid> m_selectedID;
    QString m_cloudflaredVersion;
    bool m_versionQueryRunning = false;
    QHash<QUuid, QMetaObject::Connection> m_sessionObservers;
    /// The stored value that did not decode, until it has been backed up.
    std::optional<QVariant> m_unreadableStoredValue;
    /// A backup of an unreadable list is in the file, not only in memory.
    bool m_backupSaved = false;
    bool m_listChanged = false;
    bool m_preferencesChanged = false;
    QTimer m_saveTimer;
    QString m_saveError;
    GatePasswordStore *m_passwords;
    QHash<QUuid, GateSettings> m_gates; ///< per service, as last saved
    QHash<QUuid, quint64> m_passwordEdits; ///< per service: tells a late answer of the Secret Service it is stale
};
