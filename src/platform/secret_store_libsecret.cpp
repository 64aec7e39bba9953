#include <libsecret/secret.h>

#include "platform/secret_store.h"

namespace orvik::platform {
namespace {

// Items are matched by service and account alone, whoever stored them, as
// the keychain's generic passwords are.
const SecretSchema* schema() {
  static const SecretSchema* made =
      secret_schema_new("com.orvik.desk.Secret", SECRET_SCHEMA_DONT_MATCH_NAME, "service", SECRET_SCHEMA_ATTRIBUTE_STRING,
                        "account", SECRET_SCHEMA_ATTRIBUTE_STRING, nullptr);
  return made;
}

class LibsecretSecretStore final : public SecretStore {
 public:
  SecretReadResult read(std::string_view service, std::string_view account) override {
    const std::string serviceText(service), accountText(account);
    GError* error = nullptr;
    SecretValue* value = secret_password_lookup_binary_sync(schema(), nullptr, &error, "service", serviceText.c_str(),
                                                            "account", accountText.c_str(), nullptr);
    if (error) {
      g_error_free(error);
      return {SecretStatus::notAvailable, std::nullopt};
    }
    if (!value) return {SecretStatus::itemNotFound, std::nullopt};
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    SecretReadResult result{SecretStatus::success, std::string(bytes, length)};
    secret_value_unref(value);
    return result;
  }

  SecretStatus add(std::string_view service, std::string_view account, std::string_view data) override {
    const SecretReadResult existing = read(service, account);
    if (existing.status == SecretStatus::success) return SecretStatus::duplicateItem;
    if (existing.status != SecretStatus::itemNotFound) return existing.status;

    const std::string serviceText(service), accountText(account);
    const std::string label = serviceText + " (" + accountText + ")";
    SecretValue* value = secret_value_new(data.data(), static_cast<gssize>(data.size()), "text/plain");
    GError* error = nullptr;
    const gboolean stored =
        secret_password_store_binary_sync(schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), value, nullptr, &error,
                                          "service", serviceText.c_str(), "account", accountText.c_str(), nullptr);
    secret_value_unref(value);
    if (error) g_error_free(error);
    return stored ? SecretStatus::success : SecretStatus::notAvailable;
  }
};

}  // namespace

std::unique_ptr<SecretStore> makeLibsecretSecretStore() { return std::make_unique<LibsecretSecretStore>(); }

}  // namespace orvik::platform
