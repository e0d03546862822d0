#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

namespace wexla::test {

// A fresh directory for one test. It is removed when the test passed and kept, with a line
// saying where, when it failed, so the files can be looked at.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "wexla-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    path_ = pattern;
  }
  ~TempDir() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    if (test != nullptr && test->result()->Failed()) {
      std::cerr << "kept the failed test's files in " << path_ << '\n';
      return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace wexla::test
