#pragma once

#include <filesystem>

namespace wexla::test {

// A fresh directory for one test. It is removed when the test passed and kept, with a line
// saying where, when it failed, so the files can be looked at.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace wexla::test
