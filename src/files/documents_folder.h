// The documents folder ($XDG_DATA_HOME/com.orvik.desk/Documents/Orvik/): one
// flat folder that transfers, uploads and thumbnails are written into and
// that sign-out empties. Never the user's own Documents folder.
// Also the rules that keep page-given ids and names inside it.
// THREAD-SAFETY: every function may be called from any thread.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace orvik {

// The documents folder, created with its missing parents when it is missing.
// A failure to create it is not reported here: the file operations that
// follow fail on their own.
std::filesystem::path documentsDirectory();

// The one rule for ids that become part of file names (transfer ids,
// thumbnail names, transcoding jobs): 1 to 80 characters, each an ASCII
// letter, digit, "_" or "-".
bool isValidTransferId(std::string_view id);

// Ids that never become part of a file name (documents, images sent with a
// name) only key the open transfer: any text of 1 to 256 bytes.
inline constexpr std::size_t kMaxTransferIdLength = 256;
bool isAcceptableTransferId(std::string_view id);

// The name a copy gets when `name` is taken: "photo.jpg" → "photo 2.jpg" for
// k = 2; a name without an extension gets only the blank and k
// ("README 2"). A leading dot does not start an extension (".profile 2").
std::string numberedCopyName(std::string_view name, int k);

// The user's download folder: XDG_DOWNLOAD_DIR of user-dirs.dirs, else
// $HOME/Downloads.
std::filesystem::path downloadsFolder();

}  // namespace orvik
