#include "gate/GatePasswordStore.h"

#include "base/Logging.h"

#include <QAbstractEventDispatcher>
#include <QLibrary>
#include <QPointer>

// GLib's headers name a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

namespace {

/// libsecret, and the GIO it brings, loaded with the first password call: most runs never make one,
/// and loading them at start costs every run over a megabyte of memory.
struct SecretLibrary
{
    decltype(&::g_cancellable_new) cancellableNew = nullptr;
    decltype(&::g_cancellable_cancel) cancellableCancel = nullptr;
    decltype(&::g_object_unref) objectUnref = nullptr;
    decltype(&::g_io_error_quark) ioErrorQuark = nullptr;
    decltype(&::g_error_matches) errorMatches = nullptr;
    decltype(&::g_error_free) errorFree = nullptr;
    decltype(&::secret_password_lookup) lookup = nullptr;
    decltype(&::secret_password_lookup_finish) lookupFinish = nullptr;
    decltype(&::secret_password_free) passwordFree = nullptr;
    decltype(&::secret_password_store) store = nullptr;
    decltype(&::secret_password_store_finish) storeFinish = nullptr;
    decltype(&::secret_password_clear) clear = nullptr;
    decltype(&::secret_password_clear_finish) clearFinish = nullptr;
    bool loaded = false;
};

const SecretLibrary &secret()
{
    static const SecretLibrary library = [] {
        SecretLibrary l;
        QLibrary file(QStringLiteral("secret-1"), 0);
        const auto bind = [&file](auto &function, const char *name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(file.resolve(name));
            return function != nullptr;
        };
        l.loaded = bind(l.cancellableNew, "g_cancellable_new") && bind(l.cancellableCancel, "g_cancellable_cancel")
            && bind(l.objectUnref, "g_object_unref") && bind(l.ioErrorQuark, "g_io_error_quark")
            && bind(l.errorMatches, "g_error_matches") && bind(l.errorFree, "g_error_free")
            && bind(l.lookup, "secret_password_lookup") && bind(l.lookupFinish, "secret_password_lookup_finish")
            && bind(l.passwordFree, "secret_password_free") && bind(l.store, "secret_password_store")
            && bind(l.storeFinish, "secret_password_store_finish") && bind(l.clear, "secret_password_clear")
            && bind(l.clearFinish, "secret_password_clear_finish");
        if (!l.loaded)
            qCInfo(lcStore).noquote() << "Secret Service: libsecret cannot be loaded:" << file.errorString();
        return l;
    }();
    return library;
}

} // namespace

/// One call under way: the owner it answers to and how to read its result.
struct GatePasswordCall
{
    QPointer<GatePasswordStore> owner;
    GCancellable *cancellable = nullptr;
    /// Reads the result; null when the call never reached libsecret.
    std::function<void(GAsyncResult *)> finished;
    bool reachable = true; ///< false: answer at once that no Secret Service is there

    ~GatePasswordCall()
    {
        if (cancellable)
            secret().objectUnref(cancellable);
    }

    static void handleFinished(GObject *, GAsyncResult *result, gpointer data)
    {
        auto *call = static_cast<GatePasswordCall *>(data);
        call->finished(result);
        if (call->owner)
            call->owner->finish(call);
        else
            delete call;
    }
};

namespace {

const SecretSchema *schema()
{
    static const SecretSchema value = [] {
        SecretSchema s {};
        s.name = GatePasswordStore::schemaName;
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0].name = GatePasswordStore::serviceAttribute;
        s.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        return s;
    }();
    return &value;
}

QByteArray attributeOf(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper().toUtf8();
}

/// libsecret answers through GLib's main loop, which Qt runs only with its GLib event dispatcher.
bool glibLoopRuns()
{
    const QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    return dispatcher && dispatcher->inherits("QEventDispatcherGlib");
}

/// Reads the error of a finished call, logs it and frees it; true when there was one.
bool failed(GError *error, const char *what)
{
    if (!error)
        return false;
    if (!secret().errorMatches(error, secret().ioErrorQuark(), G_IO_ERROR_CANCELLED))
        qCInfo(lcStore).noquote() << "Secret Service:" << what << "failed:" << QString::fromUtf8(error->message);
    secret().errorFree(error);
    return true;
}

} // namespace

GatePasswordStore::GatePasswordStore(QObject *parent)
    : QObject(parent)
{
}

GatePasswordStore::~GatePasswordStore()
{
    if (!m_running)
        return;
    if (m_running->reachable)
        secret().cancellableCancel(m_running->cancellable); // it still answers, to nobody, and frees itself then
    else
        delete m_running;
}

void GatePasswordStore::lookup(const QUuid &id, LookupDone done)
{
    enqueue([id = attributeOf(id), done = std::move(done)](GatePasswordCall *call) {
        call->finished = [call, done](GAsyncResult *result) {
            GError *error = nullptr;
            gchar *stored = result ? secret().lookupFinish(result, &error) : nullptr;
            std::optional<QString> password;
            if (result && !failed(error, "lookup"))
                password = stored ? QString::fromUtf8(stored) : QString();
            if (stored)
                secret().passwordFree(stored);
            if (call->owner)
                done(password);
        };
        if (!call->reachable)
            return;
        secret().lookup(schema(), call->cancellable, GatePasswordCall::handleFinished, call, serviceAttribute,
            id.constData(), nullptr);
    });
}

void GatePasswordStore::store(const QUuid &id, const QString &label, const QString &password, Done done)
{
    enqueue([id = attributeOf(id), label = label.toUtf8(), password = password.toUtf8(), done = std::move(done)](
                GatePasswordCall *call) {
        call->finished = [call, done](GAsyncResult *result) {
            GError *error = nullptr;
            const bool stored = result && secret().storeFinish(result, &error);
            failed(error, "store");
            if (call->owner && done)
                done(stored);
        };
        if (!call->reachable)
            return;
        secret().store(schema(), SECRET_COLLECTION_DEFAULT, label.constData(), password.constData(), call->cancellable,
            GatePasswordCall::handleFinished, call, serviceAttribute, id.constData(), nullptr);
    });
}

void GatePasswordStore::clear(const QUuid &id, Done done)
{
    enqueue([id = attributeOf(id), done = std::move(done)](GatePasswordCall *call) {
        call->finished = [call, done](GAsyncResult *result) {
            GError *error = nullptr;
            // False without an error: there was nothing to forget.
            const bool cleared = result && (secret().clearFinish(result, &error) || !failed(error, "clear"));
            if (call->owner && done)
                done(cleared);
        };
        if (!call->reachable)
            return;
        secret().clear(schema(), call->cancellable, GatePasswordCall::handleFinished, call, serviceAttribute,
            id.constData(), nullptr);
    });
}

void GatePasswordStore::enqueue(std::function<void(GatePasswordCall *)> begin)
{
    m_queue.push_back(std::move(begin));
    if (!m_running)
        beginNext();
}

void GatePasswordStore::beginNext()
{
    if (m_queue.empty())
        return;
    const std::function<void(GatePasswordCall *)> begin = std::move(m_queue.front());
    m_queue.pop_front();
    auto *call = new GatePasswordCall;
    call->owner = this;
    m_running = call;
    call->reachable = glibLoopRuns() && secret().loaded;
    if (call->reachable)
        call->cancellable = secret().cancellableNew();
    begin(call);
    if (!call->reachable) {
        // Nothing would ever answer: the call fails on the event loop, as if no Secret Service were there.
        QMetaObject::invokeMethod(
            this, [call] { GatePasswordCall::handleFinished(nullptr, nullptr, call); }, Qt::QueuedConnection);
    }
}

void GatePasswordStore::finish(GatePasswordCall *call)
{
    Q_ASSERT(call == m_running);
    m_running = nullptr;
    delete call;
    beginNext();
}
