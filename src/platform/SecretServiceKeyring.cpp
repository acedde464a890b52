#include "platform/SecretServiceKeyring.h"

#include "core/async/SerialExecutor.h"

#include <libsecret/secret.h>

#include <memory>

namespace
{
// A generic item: matched by its two attributes only, whatever schema name another program wrote.
const SecretSchema *genericSchema()
{
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = "org.freedesktop.Secret.Generic";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0].name = "service";
        s.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        s.attributes[1].name = "account";
        s.attributes[1].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        return s;
    }();
    return &schema;
}

struct ErrorFree
{
    void operator()(GError *e) const { g_error_free(e); }
};
struct ObjectUnref
{
    void operator()(gpointer o) const { g_object_unref(o); }
};
struct HashUnref
{
    void operator()(GHashTable *t) const { g_hash_table_unref(t); }
};
struct ValueUnref
{
    void operator()(SecretValue *v) const { secret_value_unref(v); }
};
struct ItemListFree
{
    void operator()(GList *l) const { g_list_free_full(l, g_object_unref); }
};
using Error = std::unique_ptr<GError, ErrorFree>;
using Service = std::unique_ptr<SecretService, ObjectUnref>;
using Collection = std::unique_ptr<SecretCollection, ObjectUnref>;
using Item = std::unique_ptr<SecretItem, ObjectUnref>;
using Attributes = std::unique_ptr<GHashTable, HashUnref>;
using Value = std::unique_ptr<SecretValue, ValueUnref>;
using ItemList = std::unique_ptr<GList, ItemListFree>;

int statusOf(const GError *error)
{
    if (!error)
        return Keyring::kServiceFailure;
    if (error->domain == SECRET_ERROR) {
        switch (error->code) {
        case SECRET_ERROR_IS_LOCKED:
            return Keyring::kInteractionNotAllowed;
        case SECRET_ERROR_NO_SUCH_OBJECT:
            return Keyring::kItemNotFound;
        default:
            return Keyring::kServiceFailure;
        }
    }
    // No session bus, or no service that owns the Secret Service name on it.
    if (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR)
        return Keyring::kNotAvailable;
    return Keyring::kServiceFailure;
}

Attributes attributesFor(const QString &service, const QString &account)
{
    const QByteArray s = service.toUtf8();
    const QByteArray a = account.toUtf8();
    return Attributes(
        secret_attributes_build(genericSchema(), "service", s.constData(), "account", a.constData(), nullptr));
}

// Opens a session with the service: the session is what lets secrets travel over the bus.
Service connect(int &status, GCancellable *cancellable)
{
    GError *raw = nullptr;
    Service service(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, cancellable, &raw));
    Error error(raw);
    status = service ? Keyring::kSuccess : statusOf(error.get());
    return service;
}

struct Match
{
    int status = Keyring::kSuccess;
    ItemList items;
    SecretItem *item = nullptr; // the first unlocked match, else the first match; owned by items
};

// Finds the pair's items without unlocking anything and without loading secrets.
Match find(SecretService *service, GHashTable *attributes, GCancellable *cancellable)
{
    Match match;
    GError *raw = nullptr;
    match.items.reset(
        secret_service_search_sync(service, genericSchema(), attributes, SECRET_SEARCH_ALL, cancellable, &raw));
    Error error(raw);
    if (error) {
        match.status = statusOf(error.get());
        return match;
    }
    for (GList *node = match.items.get(); node; node = node->next) {
        auto *item = static_cast<SecretItem *>(node->data);
        if (!match.item || (secret_item_get_locked(match.item) && !secret_item_get_locked(item)))
            match.item = item;
    }
    if (!match.item)
        match.status = Keyring::kItemNotFound;
    else if (secret_item_get_locked(match.item))
        match.status = Keyring::kInteractionNotAllowed;
    return match;
}

Value valueOf(const QByteArray &secret)
{
    return Value(secret_value_new(secret.constData(), gssize(secret.size()), "text/plain"));
}

// The calls below wait for the keyring daemon: they run on the keyring's executor only.

Keyring::ReadResult readNow(const QString &serviceName, const QString &account, GCancellable *cancellable)
{
    int status = Keyring::kSuccess;
    const Service service = connect(status, cancellable);
    if (!service)
        return {status, {}};
    const Attributes attributes = attributesFor(serviceName, account);
    const Match match = find(service.get(), attributes.get(), cancellable);
    if (match.status != Keyring::kSuccess)
        return {match.status, {}};

    GError *raw = nullptr;
    const bool loaded = secret_item_load_secret_sync(match.item, cancellable, &raw);
    Error error(raw);
    if (!loaded)
        return {statusOf(error.get()), {}};
    const Value value(secret_item_get_secret(match.item));
    if (!value)
        return {Keyring::kInteractionNotAllowed, {}};
    gsize length = 0;
    const gchar *bytes = secret_value_get(value.get(), &length);
    return {Keyring::kSuccess, QByteArray(bytes, qsizetype(length))};
}

int writeNow(const QString &serviceName, const QString &account, const QByteArray &secret)
{
    int status = Keyring::kSuccess;
    const Service service = connect(status, nullptr);
    if (!service)
        return status;
    const Attributes attributes = attributesFor(serviceName, account);
    const Match match = find(service.get(), attributes.get(), nullptr);
    const Value value = valueOf(secret);
    GError *raw = nullptr;

    if (match.status == Keyring::kSuccess) {
        const bool stored = secret_item_set_secret_sync(match.item, value.get(), nullptr, &raw);
        Error error(raw);
        return stored ? Keyring::kSuccess : statusOf(error.get());
    }
    if (match.status != Keyring::kItemNotFound)
        return match.status;

    // A new item goes into the default collection, as long as that exists and is open: creating
    // or unlocking a collection would ask the user for a password.
    Collection collection(secret_collection_for_alias_sync(service.get(), SECRET_COLLECTION_DEFAULT,
                                                           SECRET_COLLECTION_NONE, nullptr, &raw));
    Error aliasError(raw);
    raw = nullptr;
    if (aliasError)
        return statusOf(aliasError.get());
    if (!collection)
        return Keyring::kNoDefaultCollection;
    if (secret_collection_get_locked(collection.get()))
        return Keyring::kInteractionNotAllowed;
    const QByteArray label = QStringLiteral("%1 (%2)").arg(serviceName, account).toUtf8();
    const Item created(secret_item_create_sync(collection.get(), genericSchema(), attributes.get(), label.constData(),
                                               value.get(), SECRET_ITEM_CREATE_NONE, nullptr, &raw));
    Error createError(raw);
    return created ? Keyring::kSuccess : statusOf(createError.get());
}
} // namespace

SecretServiceKeyring::SecretServiceKeyring() : m_executor(std::make_unique<SerialExecutor>(QStringLiteral("keyring")))
{}

SecretServiceKeyring::~SecretServiceKeyring() = default;

QCoro::Task<Keyring::ReadResult> SecretServiceKeyring::read(QString service, QString account, CancelToken token)
{
    token.throwIfCancelled();
    const std::shared_ptr<GCancellable> cancellable(g_cancellable_new(), g_object_unref);
    // Cancelling ends the D-Bus wait on the keyring's thread; GCancellable is made for that.
    const CancelRegistration registration = token.onCancel([cancellable] { g_cancellable_cancel(cancellable.get()); });
    auto work = [service, account, cancellable] { return readNow(service, account, cancellable.get()); };
    ReadResult result = co_await m_executor->run(std::move(work));
    token.throwIfCancelled();
    co_return result;
}

QCoro::Task<int> SecretServiceKeyring::write(QString service, QString account, QByteArray secret)
{
    auto work = [service, account, secret] { return writeNow(service, account, secret); };
    co_return co_await m_executor->run(std::move(work));
}
