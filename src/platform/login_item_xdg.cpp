#include <glib.h>

#include <cerrno>
#include <cstring>

#include "platform/app_folders.h"
#include "platform/file_io.h"
#include "platform/login_item.h"

namespace orvik::platform {
namespace fs = std::filesystem;
namespace {

constexpr const char* kGroup = G_KEY_FILE_DESKTOP_GROUP;
constexpr const char* kAutostartEnabled = "X-GNOME-Autostart-enabled";

// A boolean key that is present and reads as `value`; a missing or
// malformed key is neither.
bool hasBoolean(GKeyFile* keyFile, const char* key, bool value) {
  GError* error = nullptr;
  const bool read = g_key_file_get_boolean(keyFile, kGroup, key, &error);
  if (error) {
    g_error_free(error);
    return false;
  }
  return read == value;
}

// One Exec argument, quoted as the desktop-entry rules ask: inside double
// quotes, backslash-escape the four characters that keep a meaning there,
// and double "%" so that it is not read as a field code. The key-file layer
// (g_key_file_set_string) escapes the backslashes once more.
std::string quotedExecArgument(const std::string& argument) {
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  return quoted + "\"";
}

class XdgAutostartLoginItem final : public LoginItem {
 public:
  XdgAutostartLoginItem(fs::path configHome, std::string appId, std::string displayName, fs::path program,
                        fs::path desktopEntry)
      : file_(configHome / "autostart" / (appId + ".desktop")),
        displayName_(std::move(displayName)),
        program_(std::move(program)),
        desktopEntry_(std::move(desktopEntry)) {}

  LoginItemStatus status() override {
    GKeyFile* keyFile = g_key_file_new();
    const bool loaded = g_key_file_load_from_file(keyFile, file_.c_str(), G_KEY_FILE_NONE, nullptr);
    const bool switchedOff = loaded && (hasBoolean(keyFile, G_KEY_FILE_DESKTOP_KEY_HIDDEN, true) ||
                                        hasBoolean(keyFile, kAutostartEnabled, false));
    g_key_file_free(keyFile);
    if (!loaded) return LoginItemStatus::notRegistered;
    return switchedOff ? LoginItemStatus::requiresApproval : LoginItemStatus::enabled;
  }

  LoginItemResult registerItem() override {
    GKeyFile* keyFile = g_key_file_new();
    // The installed entry gives the name, icon and window class; only what
    // starts the program and switches the entry on is ours.
    const bool copied = !desktopEntry_.empty() &&
                        g_key_file_load_from_file(keyFile, desktopEntry_.c_str(), G_KEY_FILE_KEEP_TRANSLATIONS,
                                                  nullptr) &&
                        g_key_file_has_group(keyFile, kGroup);
    if (!copied) {
      g_key_file_free(keyFile);
      keyFile = g_key_file_new();
      g_key_file_set_string(keyFile, kGroup, G_KEY_FILE_DESKTOP_KEY_TYPE, G_KEY_FILE_DESKTOP_TYPE_APPLICATION);
      g_key_file_set_string(keyFile, kGroup, G_KEY_FILE_DESKTOP_KEY_NAME, displayName_.c_str());
    }
    g_key_file_remove_key(keyFile, kGroup, G_KEY_FILE_DESKTOP_KEY_HIDDEN, nullptr);
    g_key_file_remove_key(keyFile, kGroup, G_KEY_FILE_DESKTOP_KEY_TRY_EXEC, nullptr);
    g_key_file_remove_key(keyFile, kGroup, G_KEY_FILE_DESKTOP_KEY_DBUS_ACTIVATABLE, nullptr);
    g_key_file_set_string(keyFile, kGroup, G_KEY_FILE_DESKTOP_KEY_EXEC, quotedExecArgument(program_.string()).c_str());
    g_key_file_set_boolean(keyFile, kGroup, kAutostartEnabled, TRUE);
    gsize length = 0;
    gchar* data = g_key_file_to_data(keyFile, &length, nullptr);
    g_key_file_free(keyFile);
    const std::string text(data, length);
    g_free(data);

    if (!ensureFolder(file_.parent_path())) {
      return {false, "Could not create the folder " + file_.parent_path().string()};
    }
    if (!writeFileAtomically(file_, text)) {
      return {false, "Could not write " + file_.string() + ": " + std::strerror(errno)};
    }
    return {true, {}};
  }

  LoginItemResult unregisterItem() override {
    std::error_code ec;
    fs::remove(file_, ec);  // a missing file is no error: nothing is registered
    if (ec) return {false, "Could not remove " + file_.string() + ": " + ec.message()};
    return {true, {}};
  }

 private:
  const fs::path file_;
  const std::string displayName_;
  const fs::path program_;
  const fs::path desktopEntry_;
};

}  // namespace

std::unique_ptr<LoginItem> makeXdgAutostartLoginItem(fs::path configHome, std::string appId, std::string displayName,
                                                     fs::path program, fs::path desktopEntry) {
  return std::make_unique<XdgAutostartLoginItem>(std::move(configHome), std::move(appId), std::move(displayName),
                                                 std::move(program), std::move(desktopEntry));
}

fs::path runningProgramPath() {
  std::error_code ec;
  fs::path program = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : program;
}

}  // namespace orvik::platform
