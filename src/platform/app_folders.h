// Where the program keeps its files, after the XDG base-directory rules:
// the application-support folder (debug log, diagnostics) is
// $XDG_DATA_HOME/<bundle identifier>/ and the documents folder (transfers,
// thumbnails, received files) is its Documents/Orvik/ subfolder. A relative
// or empty XDG variable counts as unset, as the rules say.
// THREAD-SAFETY: every function may be called from any thread; they read the
// environment, so tests set HOME and XDG_* before they call.
#pragma once

#include <filesystem>

namespace orvik::platform {

std::filesystem::path dataHome();    // $XDG_DATA_HOME, else $HOME/.local/share
std::filesystem::path configHome();  // $XDG_CONFIG_HOME, else $HOME/.config

// dataHome() + the bundle identifier ("OrvikReveraraz" without one). Not
// created here.
std::filesystem::path applicationSupportFolder();
// applicationSupportFolder() + "Documents/Orvik". Not created here.
std::filesystem::path documentsFolder();

// Creates `folder` with its missing parents; false when it still is not a
// folder afterwards.
bool ensureFolder(const std::filesystem::path& folder);

}  // namespace orvik::platform
