#include <libsecret/secret.h>

#include <mutex>

#include "platform/secret_store.h"

namespace orvik::platform {
namespace {

// The Secret Service answers a call that needs a person (unlocking or
// creating a collection) with a prompt, and the default prompt handling waits
// until someone answers it: for ever on a headless or auto-login session.
// Our service object refuses every prompt at once, as a dismissal, so such a
// call fails fast with this error instead.
GQuark promptRefusedQuark() { return g_quark_from_static_string("orvik-secret-prompt-refused"); }
constexpr int kPromptRefused = 1;
// Bounds each call to the service: a daemon that hangs costs this, not 25 s.
constexpr int kCallTimeoutMs = 5000;

void dismissPrompt(SecretPrompt* prompt) {
  // Tells the service nobody will answer, so it drops the prompt; no reply is
  // awaited.
  g_dbus_proxy_call(G_DBUS_PROXY(prompt), "Dismiss", g_variant_new("()"), G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr,
                    nullptr, nullptr);
}

GVariant* refusePromptSync(SecretService*, SecretPrompt* prompt, GCancellable*, const GVariantType*, GError** error) {
  dismissPrompt(prompt);
  g_set_error_literal(error, promptRefusedQuark(), kPromptRefused, "the Secret Service asked for a prompt");
  return nullptr;
}

void refusePromptAsync(SecretService* self, SecretPrompt* prompt, const GVariantType*, GCancellable* cancellable,
                       GAsyncReadyCallback callback, gpointer data) {
  dismissPrompt(prompt);
  GTask* task = g_task_new(self, cancellable, callback, data);
  g_task_return_new_error(task, promptRefusedQuark(), kPromptRefused, "the Secret Service asked for a prompt");
  g_object_unref(task);
}

GVariant* refusePromptFinish(SecretService*, GAsyncResult* result, GError** error) {
  return static_cast<GVariant*>(g_task_propagate_pointer(G_TASK(result), error));
}

GType promptRefusingServiceType() {
  static GType type = g_type_register_static_simple(
      SECRET_TYPE_SERVICE, "OrvikPromptRefusingSecretService", sizeof(SecretServiceClass),
      [](gpointer klass, gpointer) {
        auto* service = static_cast<SecretServiceClass*>(klass);
        service->prompt_sync = refusePromptSync;
        service->prompt_async = refusePromptAsync;
        service->prompt_finish = refusePromptFinish;
      },
      sizeof(SecretService), nullptr, static_cast<GTypeFlags>(0));
  return type;
}

// Items are matched by service and account alone, whoever stored them, as
// the keychain's generic passwords are.
const SecretSchema* schema() {
  static const SecretSchema* made =
      secret_schema_new("com.orvik.desk.Secret", SECRET_SCHEMA_DONT_MATCH_NAME, "service", SECRET_SCHEMA_ATTRIBUTE_STRING,
                        "account", SECRET_SCHEMA_ATTRIBUTE_STRING, nullptr);
  return made;
}

SecretStatus statusOf(const GError* error) {
  return g_error_matches(error, promptRefusedQuark(), kPromptRefused) ? SecretStatus::interactionNotAllowed
                                                                      : SecretStatus::notAvailable;
}

class LibsecretSecretStore final : public SecretStore {
 public:
  ~LibsecretSecretStore() override {
    if (service_) g_object_unref(service_);
  }

  SecretReadResult read(std::string_view service, std::string_view account) override {
    std::lock_guard lock(mutex_);
    return readLocked(service, account);
  }

  SecretStatus add(std::string_view service, std::string_view account, std::string_view data) override {
    std::lock_guard lock(mutex_);
    const SecretReadResult existing = readLocked(service, account);
    if (existing.status == SecretStatus::success) return SecretStatus::duplicateItem;
    if (existing.status != SecretStatus::itemNotFound) return existing.status;

    const std::string serviceText(service), accountText(account);
    const std::string label = serviceText + " (" + accountText + ")";
    GHashTable* attributes =
        secret_attributes_build(schema(), "service", serviceText.c_str(), "account", accountText.c_str(), nullptr);
    SecretValue* value = secret_value_new(data.data(), static_cast<gssize>(data.size()), "text/plain");
    GError* error = nullptr;
    // The only service call that can need a person: storing into a locked
    // default collection, or one that does not exist yet. The refused prompt
    // makes it fail at once.
    const gboolean stored = secret_service_store_sync(service_, schema(), attributes, SECRET_COLLECTION_DEFAULT,
                                                      label.c_str(), value, nullptr, &error);
    secret_value_unref(value);
    g_hash_table_unref(attributes);
    SecretStatus status = stored ? SecretStatus::success : SecretStatus::notAvailable;
    if (error) {
      status = statusOf(error);
      g_error_free(error);
    }
    return status;
  }

 private:
  // The service object, opened on first use; a failed open is tried again
  // next time (the daemon may have come up since).
  bool ensureService() {
    if (service_) return true;
    GError* error = nullptr;
    service_ = secret_service_open_sync(promptRefusingServiceType(), nullptr, SECRET_SERVICE_OPEN_SESSION, nullptr,
                                        &error);
    if (error) g_error_free(error);
    if (service_) g_dbus_proxy_set_default_timeout(G_DBUS_PROXY(service_), kCallTimeoutMs);
    return service_ != nullptr;
  }

  // A search that never unlocks: a locked item is reported as such rather
  // than opened through a prompt, and is told apart from a missing one.
  SecretReadResult readLocked(std::string_view service, std::string_view account) {
    if (!ensureService()) return {SecretStatus::notAvailable, std::nullopt};
    const std::string serviceText(service), accountText(account);
    GHashTable* attributes =
        secret_attributes_build(schema(), "service", serviceText.c_str(), "account", accountText.c_str(), nullptr);
    GError* error = nullptr;
    GList* items = secret_service_search_sync(
        service_, schema(), attributes, static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS),
        nullptr, &error);
    g_hash_table_unref(attributes);
    if (error) {
      const SecretStatus status = statusOf(error);
      g_error_free(error);
      return {status, std::nullopt};
    }
    SecretReadResult result{SecretStatus::itemNotFound, std::nullopt};
    for (GList* entry = items; entry; entry = entry->next) {
      auto* item = static_cast<SecretItem*>(entry->data);
      if (secret_item_get_locked(item)) {
        result.status = SecretStatus::interactionNotAllowed;
        continue;
      }
      SecretValue* value = secret_item_get_secret(item);
      if (!value) {
        result.status = SecretStatus::notAvailable;
        continue;
      }
      gsize length = 0;
      const gchar* bytes = secret_value_get(value, &length);
      result = {SecretStatus::success, std::string(bytes, length)};
      secret_value_unref(value);
      break;
    }
    g_list_free_full(items, g_object_unref);
    return result;
  }

  std::mutex mutex_;
  SecretService* service_ = nullptr;
};

}  // namespace

std::unique_ptr<SecretStore> makeLibsecretSecretStore() { return std::make_unique<LibsecretSecretStore>(); }

}  // namespace orvik::platform
