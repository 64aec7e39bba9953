#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <glib.h>

namespace orvik::platform {

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool writeFileAtomically(const std::filesystem::path& file, std::string_view data) {
  std::string pattern = file.string() + ".XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return false;
  // mkostemp makes the file 0600: what the stores keep is the user's alone.
  const bool written = writeAll(fd, data) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(pattern.c_str(), file.c_str()) != 0) {
    ::unlink(pattern.c_str());
    return false;
  }
  return true;
}

FileContents readWholeFile(const std::filesystem::path& file) {
  FileContents contents;
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    contents.status = errno == ENOENT ? ReadStatus::missing : ReadStatus::failed;
    return contents;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      contents.bytes.clear();
      return contents;
    }
    if (n == 0) break;
    contents.bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  contents.status = ReadStatus::ok;
  return contents;
}

bool isValidUtf8(std::string_view text) {
  // g_utf8_validate_len refuses embedded NUL bytes, which are valid UTF-8;
  // validate the pieces between them.
  while (!text.empty()) {
    const std::size_t nul = text.find('\0');
    const std::string_view piece = text.substr(0, nul);
    if (!g_utf8_validate_len(piece.data(), piece.size(), nullptr)) return false;
    if (nul == std::string_view::npos) break;
    text.remove_prefix(nul + 1);
  }
  return true;
}

}  // namespace orvik::platform
