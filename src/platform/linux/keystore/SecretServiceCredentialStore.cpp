#include "platform/linux/keystore/SecretServiceCredentialStore.hpp"

#include <cstdlib>
#include <libsecret/secret.h>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace qb {

namespace {

const char* const secretsBusName = "org.freedesktop.secrets";
constexpr int probeTimeoutMS = 2000;

const SecretSchema& credentialSchema() {
    static const SecretSchema schema = [] {
        SecretSchema built{}; // zeroed: the attribute list ends at the first empty name
        built.name = "io.quillabrenta.capture.mac.Credential";
        built.flags = SECRET_SCHEMA_NONE;
        built.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        built.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return built;
    }();
    return schema;
}

// Asks the bus itself about the secrets name; "method" answers with a boolean or a name list.
bool busKnowsSecrets(GDBusConnection* bus, const char* method) {
    const bool listing = std::string_view(method) == "ListActivatableNames";
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method,
        listing ? nullptr : g_variant_new("(s)", secretsBusName),
        G_VARIANT_TYPE(listing ? "(as)" : "(b)"), G_DBUS_CALL_FLAGS_NONE, probeTimeoutMS, nullptr,
        &error);
    if (!reply) {
        g_clear_error(&error);
        return false;
    }
    bool known = false;
    if (listing) {
        GVariantIter* names = nullptr;
        const gchar* name = nullptr;
        g_variant_get(reply, "(as)", &names);
        while (!known && g_variant_iter_next(names, "&s", &name))
            known = std::string_view(name) == secretsBusName;
        g_variant_iter_free(names);
    } else {
        gboolean owned = FALSE;
        g_variant_get(reply, "(b)", &owned);
        known = owned;
    }
    g_variant_unref(reply);
    return known;
}

// The session bus GLib (and so libsecret) would use, found without GLib's last resort of
// autolaunching a bus, which is slow and never brings a key store along.
std::string sessionBusAddress() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
        return address;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || *runtime != '/') return {};
    const std::string socket = std::string(runtime) + "/bus";
    struct stat info {};
    if (::stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return {};
    gchar* escaped = g_dbus_address_escape_value(socket.c_str());
    std::string address = std::string("unix:path=") + escaped;
    g_free(escaped);
    return address;
}

} // namespace

SecretServiceCredentialStore::SecretServiceCredentialStore(std::string service, std::string account)
    : service_(std::move(service)), account_(std::move(account)) {
    // libsecret shares GLib's session-bus connection, which by default ends the whole process
    // when the bus goes away; losing the key store must not take the application with it.
    if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        g_dbus_connection_set_exit_on_close(bus, FALSE);
        g_object_unref(bus);
    }
}

bool SecretServiceCredentialStore::isAvailable() {
    const std::string address = sessionBusAddress();
    if (address.empty()) return false;
    // A private connection, so probing leaves GLib's shared connection alone.
    GError* error = nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!bus) {
        g_clear_error(&error);
        return false;
    }
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    const bool available =
        busKnowsSecrets(bus, "NameHasOwner") || busKnowsSecrets(bus, "ListActivatableNames");
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    return available;
}

// A search that does not unlock: a locked keyring would otherwise put up a password prompt
// from whichever thread asked, the main one included. Locked, the item reads as absent
// (not connected) until the user unlocks the keyring.
std::optional<UploadCredential> SecretServiceCredentialStore::load() const {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!service) {
        g_clear_error(&error);
        return std::nullopt;
    }
    GHashTable* attributes = secret_attributes_build(
        &credentialSchema(), "service", service_.c_str(), "account", account_.c_str(), nullptr);
    GList* items = secret_service_search_sync(service, &credentialSchema(), attributes,
                                              SECRET_SEARCH_LOAD_SECRETS, nullptr, &error);
    g_hash_table_unref(attributes);
    g_object_unref(service);
    g_clear_error(&error);
    std::optional<UploadCredential> credential;
    for (GList* item = items; item && !credential; item = item->next) {
        SecretValue* value = secret_item_get_secret(SECRET_ITEM(item->data));
        if (!value) continue; // locked
        gsize length = 0;
        const gchar* text = secret_value_get(value, &length);
        credential = decodeStored(std::string_view(text, length));
        secret_value_unref(value);
    }
    g_list_free_full(items, g_object_unref);
    return credential;
}

bool SecretServiceCredentialStore::save(const UploadCredential& credential) {
    std::optional<std::string> bytes = encodeForStorage(credential);
    if (!bytes) return false;
    clear();
    GError* error = nullptr;
    const gboolean stored = secret_password_store_sync(
        &credentialSchema(), SECRET_COLLECTION_DEFAULT, "Quillabrenta capture upload credential",
        bytes->c_str(), nullptr, &error, "service", service_.c_str(), "account", account_.c_str(),
        nullptr);
    const bool added = stored && !error;
    g_clear_error(&error);
    return added;
}

void SecretServiceCredentialStore::clear() {
    GError* error = nullptr;
    secret_password_clear_sync(&credentialSchema(), nullptr, &error, "service", service_.c_str(),
                               "account", account_.c_str(), nullptr);
    g_clear_error(&error);
}

} // namespace qb
