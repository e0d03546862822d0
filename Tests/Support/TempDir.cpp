#include "TempDir.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <iostream>
#include <string>
#include <system_error>

namespace wexla::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "wexla-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  if (test != nullptr && test->result()->Failed()) {
    std::cerr << "kept the failed test's files in " << path_ << '\n';
    return;
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace wexla::test
