#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kestrava::testing {

// A fresh folder under the temporary directory, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kestrava-test.XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Writes a file (folders created as needed) and gives it the permission bits.
  std::filesystem::path write(const std::string& relative, const std::string& text,
                              std::filesystem::perms perms = std::filesystem::perms::owner_read |
                                                             std::filesystem::perms::owner_write) {
    std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    std::filesystem::permissions(file, perms);
    return file;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace kestrava::testing
