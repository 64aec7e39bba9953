#include "installer/safe_unpack.h"

#include <sys/stat.h>

#include <memory>

#include <archive.h>
#include <archive_entry.h>

namespace orvik::installer {
namespace {

struct ArchiveCloser {
  void operator()(archive* a) const {
    archive_read_free(a);
  }
};
struct WriterCloser {
  void operator()(archive* a) const {
    archive_write_free(a);
  }
};

std::string withoutDotSlash(std::string name) {
  while (name.rfind("./", 0) == 0) name.erase(0, 2);
  return name;
}

bool hasParentComponent(const std::filesystem::path& path) {
  for (const auto& part : path) {
    if (part == "..") return true;
  }
  return false;
}

}  // namespace

UnpackStatus checkEntryPath(const std::string& raw) {
  auto name = withoutDotSlash(raw);
  if (!name.empty() && name.front() == '/') return UnpackStatus::absolutePath;
  if (hasParentComponent(name)) return UnpackStatus::parentReference;
  return UnpackStatus::ok;
}

bool linkStaysInside(const std::string& entry, const std::string& target) {
  if (target.empty() || target.front() == '/') return false;
  auto resolved = (std::filesystem::path(withoutDotSlash(entry)).parent_path() / target).lexically_normal();
  return !resolved.empty() && !hasParentComponent(resolved) && resolved != ".";
}

UnpackResult unpackArchive(const std::filesystem::path& archivePath, const std::filesystem::path& givenRoot) {
  // The link guard refuses any link on the way to an entry, the root's own
  // path included: resolve it first.
  std::error_code error;
  auto root = std::filesystem::canonical(givenRoot, error);
  if (error) return {UnpackStatus::writeFailed, ""};
  std::unique_ptr<archive, ArchiveCloser> reader(archive_read_new());
  archive_read_support_filter_all(reader.get());
  archive_read_support_format_tar(reader.get());
  archive_read_support_format_gnutar(reader.get());
  if (archive_read_open_filename(reader.get(), archivePath.c_str(), 64 * 1024) != ARCHIVE_OK) {
    return {UnpackStatus::unreadable, ""};
  }
  std::unique_ptr<archive, WriterCloser> writer(archive_write_disk_new());
  // libarchive's own guards stay on behind ours (entries are written by
  // absolute path under the root, so only its ".." and link guards apply);
  // ownership is never restored.
  archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                   ARCHIVE_EXTRACT_SECURE_NODOTDOT);
  archive_entry* entry = nullptr;
  for (;;) {
    int read = archive_read_next_header(reader.get(), &entry);
    if (read == ARCHIVE_EOF) break;
    if (read != ARCHIVE_OK) return {UnpackStatus::unreadable, ""};
    const char* rawName = archive_entry_pathname(entry);
    std::string name = rawName ? rawName : "";
    if (auto status = checkEntryPath(name); status != UnpackStatus::ok) return {status, name};
    auto relative = withoutDotSlash(name);
    if (relative.empty() || relative == ".") continue;  // the archive's root folder itself

    mode_t type = archive_entry_filetype(entry);
    const char* hardlink = archive_entry_hardlink(entry);
    if (hardlink) {
      if (checkEntryPath(hardlink) != UnpackStatus::ok || withoutDotSlash(hardlink).empty()) {
        return {UnpackStatus::linkOutside, name};
      }
      archive_entry_set_hardlink(entry, (root / withoutDotSlash(hardlink)).c_str());
    } else if (type == AE_IFLNK) {
      const char* target = archive_entry_symlink(entry);
      if (!target || !linkStaysInside(relative, target)) return {UnpackStatus::linkOutside, name};
    } else if (type != AE_IFREG && type != AE_IFDIR) {
      return {UnpackStatus::specialFile, name};
    }
    if (archive_entry_perm(entry) & (S_ISUID | S_ISGID | S_ISVTX)) return {UnpackStatus::privilegeBits, name};

    archive_entry_set_pathname(entry, (root / relative).c_str());
    if (archive_write_header(writer.get(), entry) != ARCHIVE_OK) return {UnpackStatus::writeFailed, name};
    if (!hardlink && type == AE_IFREG && archive_entry_size(entry) > 0) {
      const void* block = nullptr;
      size_t size = 0;
      la_int64_t offset = 0;
      for (;;) {
        int r = archive_read_data_block(reader.get(), &block, &size, &offset);
        if (r == ARCHIVE_EOF) break;
        if (r != ARCHIVE_OK) return {UnpackStatus::unreadable, name};
        if (archive_write_data_block(writer.get(), block, size, offset) != ARCHIVE_OK) {
          return {UnpackStatus::writeFailed, name};
        }
      }
    }
    if (archive_write_finish_entry(writer.get()) != ARCHIVE_OK) return {UnpackStatus::writeFailed, name};
  }
  if (archive_write_close(writer.get()) != ARCHIVE_OK) return {UnpackStatus::writeFailed, ""};
  return {UnpackStatus::ok, ""};
}

const char* describe(UnpackStatus status) {
  switch (status) {
    case UnpackStatus::ok: return "ok";
    case UnpackStatus::unreadable: return "not a readable archive";
    case UnpackStatus::absolutePath: return "absolute path";
    case UnpackStatus::parentReference: return "\"..\" in a path";
    case UnpackStatus::linkOutside: return "link leaving the archive";
    case UnpackStatus::specialFile: return "device node, FIFO or socket";
    case UnpackStatus::privilegeBits: return "set-user-ID, set-group-ID or sticky bit";
    case UnpackStatus::writeFailed: return "could not write";
  }
  return "?";
}

}  // namespace orvik::installer
