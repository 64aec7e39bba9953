// The core services this library leans on (file-name cleaning, quarantine
// marking, the application's folders), declared here with the signatures the
// core-services work gives them so that every call site already reads as it
// will for good.
// TODO(#3): when core services land, this header becomes
//   #include "core/file_security.h"
//   #include "platform/app_folders.h"
// and core_services_stub.cpp goes away.
// THREAD-SAFETY: any thread.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace orvik {
namespace FileSecurity {

inline constexpr const char* quarantineAttribute = "user.orvik.quarantine";

// The last path component of `name`; "file" when that is empty, ".", ".."
// or "/".
std::string sanitizedFileName(std::string_view name);
// Sets the quarantine attribute on `file`; a failure is ignored.
void markQuarantined(const std::filesystem::path& file);

}  // namespace FileSecurity

namespace platform {

std::filesystem::path dataHome();    // $XDG_DATA_HOME, else $HOME/.local/share
std::filesystem::path configHome();  // $XDG_CONFIG_HOME, else $HOME/.config
// dataHome() + the bundle identifier. Not created here.
std::filesystem::path applicationSupportFolder();
// applicationSupportFolder() + "Documents/Orvik". Not created here.
std::filesystem::path documentsFolder();
// Creates `folder` with its missing parents; false when it still is not a
// folder afterwards.
bool ensureFolder(const std::filesystem::path& folder);

}  // namespace platform
}  // namespace orvik
