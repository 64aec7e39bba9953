// A temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace orvik::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  static void writeFile(const std::filesystem::path& file, const std::string& contents);
  static std::string readFile(const std::filesystem::path& file);
  // The names in `folder`, sorted.
  static std::vector<std::string> listing(const std::filesystem::path& folder);

 private:
  std::filesystem::path path_;
};

}  // namespace orvik::testing
