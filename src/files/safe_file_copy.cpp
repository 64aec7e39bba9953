#include "files/safe_file_copy.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "files/documents_folder.h"
#include "platform/file_io.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

// Far more than any folder holds; ends the search on a folder that refuses
// every name for a reason other than the name being taken.
constexpr int kMaxNumberedName = 10000;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool closeChecked() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool copyContents(int from, int to) {
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (!platform::writeAll(to, std::string_view(buffer.data(), static_cast<std::size_t>(got)))) return false;
  }
}

// The whole of `source` in a new temporary file inside `folder`; its path, or
// none (and nothing left behind) on failure.
std::optional<fs::path> stageCopy(const fs::path& source, const fs::path& folder) {
  Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat sourceStat {};
  if (in.get() < 0 || ::fstat(in.get(), &sourceStat) != 0 || !S_ISREG(sourceStat.st_mode)) return std::nullopt;

  std::string pattern = (folder / ".orvik-save-XXXXXX").string();
  Fd out(::mkostemp(pattern.data(), O_CLOEXEC));
  if (out.get() < 0) return std::nullopt;
  const fs::path staged = pattern;
  const bool copied = copyContents(in.get(), out.get()) && ::fchmod(out.get(), sourceStat.st_mode & 0666) == 0 &&
                      ::fsync(out.get()) == 0 && out.closeChecked();
  if (!copied) {
    ::unlink(staged.c_str());
    return std::nullopt;
  }
  return staged;
}

enum class PlaceStatus { placed, taken, failed };

// Moves `staged` to `destination` unless something is there already.
PlaceStatus placeWithoutReplacing(const fs::path& staged, const fs::path& destination) {
  if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0) {
    return PlaceStatus::placed;
  }
  if (errno == EEXIST) return PlaceStatus::taken;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return PlaceStatus::failed;
  // File systems without the no-replace rename: a hard link fails the same
  // way when the name is taken.
  if (::link(staged.c_str(), destination.c_str()) == 0) {
    ::unlink(staged.c_str());
    return PlaceStatus::placed;
  }
  return errno == EEXIST ? PlaceStatus::taken : PlaceStatus::failed;
}

}  // namespace

SaveCopyStatus copyFileReplacing(const fs::path& source, const fs::path& destination) {
  std::error_code error;
  if (fs::equivalent(source, destination, error)) return SaveCopyStatus::sameFile;
  const fs::path folder = destination.parent_path().empty() ? fs::path(".") : destination.parent_path();
  const auto staged = stageCopy(source, folder);
  if (!staged) return SaveCopyStatus::failed;
  if (::rename(staged->c_str(), destination.c_str()) != 0) {
    ::unlink(staged->c_str());
    return SaveCopyStatus::failed;
  }
  return SaveCopyStatus::saved;
}

std::optional<fs::path> copyFileUnderFreeName(const fs::path& source, const fs::path& folder, std::string_view name) {
  const auto staged = stageCopy(source, folder);
  if (!staged) return std::nullopt;
  for (int k = 1; k <= kMaxNumberedName; ++k) {
    const fs::path candidate = folder / (k == 1 ? std::string(name) : numberedCopyName(name, k));
    std::error_code error;
    if (fs::exists(fs::symlink_status(candidate, error))) continue;
    switch (placeWithoutReplacing(*staged, candidate)) {
      case PlaceStatus::placed:
        return candidate;
      case PlaceStatus::taken:
        continue;
      case PlaceStatus::failed:
        ::unlink(staged->c_str());
        return std::nullopt;
    }
  }
  ::unlink(staged->c_str());
  return std::nullopt;
}

}  // namespace orvik
