#pragma once

#include <QObject>
#include <QString>
#include <QUuid>

#include <deque>
#include <functional>
#include <optional>

struct GatePasswordCall;

/// \brief Gate passwords in the desktop's Secret Service, one item per service id, through
/// libsecret's asynchronous calls: nothing here waits.
///
/// Calls run one after another in the order made, so a later store never loses to an earlier one
/// and a locked keyring asks to be unlocked once. Answers arrive on the GUI thread, never during
/// the call. Where no Secret Service answers, the answer says so and the caller keeps the password
/// itself. Answers still due when the object goes are dropped.
class GatePasswordStore : public QObject
{
    Q_OBJECT

public:
    /// The password kept for the service, an empty text when none is, or nothing when no Secret
    /// Service answered.
    using LookupDone = std::function<void(std::optional<QString> password)>;
    /// Whether the Secret Service did what was asked.
    using Done = std::function<void(bool done)>;

    /// The item schema: its name and the one attribute that tells services apart.
    static inline const char *const schemaName = "example.miravo.orvanta.gate";
    static inline const char *const serviceAttribute = "service";

    explicit GatePasswordStore(QObject *parent = nullptr);
    ~GatePasswordStore() override;

    void lookup(const QUuid &id, LookupDone done);
    /// Keeps \a password for service \a id, replacing one kept before; \a label is what keyring
    /// managers show.
    void store(const QUuid &id, const QString &label, const QString &password, Done done);
    /// Forgets the password of service \a id; done is true also when none was kept.
    void clear(const QUuid &id, Done done = {});

private:
    friend struct GatePasswordCall;
    void enqueue(std::function<void(GatePasswordCall *)> begin);
    void beginNext();
    void finish(GatePasswordCall *call);

    std::deque<std::function<void(GatePasswordCall *)>> m_queue;
    GatePasswordCall *m_running = nullptr;
};
