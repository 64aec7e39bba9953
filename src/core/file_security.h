// The small, stateless checks that keep files and links from the page from
// doing harm: a containment test for file URLs the page hands over, a
// file-name cleaner for received files, the quarantine mark on received
// files, the file types never opened or accepted, and the opener that lets
// only web, mail and telephone links leave the program.
//
// The quarantine mark is the extended attribute "user.orvik.quarantine"
// ("0001;" + seconds since 1970 as 8 hexadecimal digits + ";OrvikReveraraz;").
//
// THREAD-SAFETY: every function may be called from any thread, except
// SafeURLOpener::open, which runs on the main queue as its opener does.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "platform/dispatch/clock.h"
#include "platform/system_opener.h"

namespace orvik {

// The 33 lower-case extensions of files that are never opened or accepted
// (the macOS set plus the Linux launchables and installers);
// callers lower-case an extension before they look it up.
const std::set<std::string, std::less<>>& blockedFileExtensions();

namespace FileSecurity {

inline constexpr const char* quarantineAttribute = "user.orvik.quarantine";

// Whether the file URL names the install folder or the documents folder, or
// something inside them, once symbolic links and ".." are resolved. Anything
// but a local file URL is outside. The install folder is AppInfo's: the
// program's own folder, never a shared one such as the launcher's /usr/bin.
bool isFileInsideAppFolders(std::string_view url);

// The last path component of `name` once its control characters (NUL, the
// rest of C0, DEL, C1) are removed; "file" when that is empty, ".", ".." or
// "/".
std::string sanitizedFileName(std::string_view name);

// Sets the quarantine attribute on `file`; a failure is ignored.
void markQuarantined(const std::filesystem::path& file);
// The attribute's value for the time `now`.
std::string quarantineValue(platform::Clock::WallTime now);

}  // namespace FileSecurity

namespace SafeURLOpener {

// "https", "http", "mailto", "tel".
const std::set<std::string, std::less<>>& allowedSchemes();

// Opens `url` in the user's default application when its scheme is allowed.
// True when it was handed over and the desktop took it; false for any other
// scheme, for text without a scheme, and when no application took it.
bool open(std::string_view url, platform::SystemOpener& opener);
// The same with the program's desktop opener.
bool open(std::string_view url);

}  // namespace SafeURLOpener

}  // namespace orvik
