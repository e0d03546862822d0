#include <gtest/gtest.h>

#include "Files.hpp"
#include "HookInstaller.hpp"
#include "SettingsStore.hpp"
#include "TempDir.hpp"

namespace wexla::cli {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

class SettingsStoreTest : public ::testing::Test {
 protected:
  fs::path file() const { return dir_.path() / ".claude" / "settings.json"; }
  SettingsStore store() const {
    return SettingsStore(file(), [] { throw HookError(); });
  }
  void saveWith(const char* member, const Json& value) {
    SettingsStore::Loaded loaded = store().load();
    loaded.document[member] = value;
    ASSERT_TRUE(store().save(loaded.document, loaded));
  }

  test::TempDir dir_;
};

// The document as read (written compactly), or why it is refused: anything that could not be
// written back exactly.
TEST_F(SettingsStoreTest, ReadsOnlyWhatItCanWriteBackExactly) {
  const std::string f = file().string() + " ";
  const std::string invalid = f + "is not valid JSON (line ";
  const std::string unsafe = f + "cannot be edited safely: it ";
  const std::string unchanged = ". Nothing was changed.";
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {"", "{}"},
      {R"({"a": 1, "b": {"x": 1, "x": [2]}, "a": 3, "c": 4})", R"({"a":3,"b":{"x":[2]},"c":4})"},
      {R"({"a":-9223372036854775808,"b":18446744073709551615,"c":1e3})", R"({"a":-9223372036854775808,"b":18446744073709551615,"c":1000.0})"},
      {R"({"a": 18446744073709551616})", unsafe + "holds the integer 18446744073709551616, which is too large to be kept exactly; refusing to round it" + unchanged},
      {std::string(1001, '[') + std::string(1001, ']'), unsafe + "is nested more than 1000 levels deep" + unchanged},
      {"\n", invalid + "2, column 1: syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal)" + unchanged},
      {"{\n  \"m\u00F4 h\u00ECnh\": }", invalid + "2, column 14: syntax error while parsing value - unexpected '}'; expected '[', '{', or a literal)" + unchanged},
      {"  \"text\"", invalid + "1, column 3: the top level is a string, not an object)" + unchanged},
      {std::string("{\"a\":1}\0{\"b\":2}", 15), invalid + "1, column 8: a NUL byte)" + unchanged},
  };
  // clang-format on
  for (const auto& [bytes, result] : cases) {
    writeFile(file(), bytes);
    try {
      EXPECT_EQ(store().load().document.dump(), result) << bytes;
    } catch (const std::exception& error) {
      EXPECT_EQ(error.what(), result) << bytes;
    }
  }
}

// The backup is made once and never through a link: a link where it would go may point at any
// file. Not being able to make it does not stop the edit.
TEST_F(SettingsStoreTest, TheBackupIsNeverWrittenThroughALink) {
  writeFile(file(), "{}");
  fs::create_symlink(dir_.path() / "elsewhere", store().backupPath());
  saveWith("a", 1);
  EXPECT_EQ(readFile(file()), "{\n  \"a\": 1\n}");
  EXPECT_FALSE(fs::exists(dir_.path() / "elsewhere"));
}

// Each link of a chain stays a link, each relative target read from its link's own directory.
// The file keeps its mode, and the backup gets it.
TEST_F(SettingsStoreTest, ALinkedSettingsFileStaysALink) {
  const fs::path dotfiles = dir_.path() / "dotfiles";
  writeFile(dotfiles / "claude.json", "{}");
  fs::permissions(dotfiles / "claude.json", fs::perms(0600));
  fs::create_symlink("claude.json", dotfiles / "current.json");
  fs::create_directories(file().parent_path());
  fs::create_symlink("../dotfiles/current.json", file());
  saveWith("a", 1);
  EXPECT_TRUE(fs::is_symlink(file()));
  EXPECT_TRUE(fs::is_symlink(dotfiles / "current.json"));
  EXPECT_EQ(readFile(dotfiles / "claude.json"), "{\n  \"a\": 1\n}");
  EXPECT_EQ(readFile(store().backupPath()), "{}");
  EXPECT_EQ(fs::status(file()).permissions(), fs::perms(0600));
  EXPECT_EQ(fs::status(store().backupPath()).permissions(), fs::perms(0600));
}

TEST_F(SettingsStoreTest, AConcurrentWriterIsNeverOverwritten) {
  writeFile(file(), "{\"a\": 1}");
  int calls = 0;
  store().edit([&](Json& settings) {
    if (++calls == 1) writeFile(file(), "{\"agent\": true}");  // the agent writes meanwhile
    settings["ours"] = calls;
    return true;
  });
  EXPECT_EQ(readFile(file()), "{\n  \"agent\": true,\n  \"ours\": 2\n}");

  // A file that never holds still is left as the agent last wrote it, with a clear message.
  try {
    store().edit([&](Json&) {
      writeFile(file(), "{\"n\": " + std::to_string(++calls) + "}");
      return true;
    });
    ADD_FAILURE() << "overwrote a file that kept changing";
  } catch (const SettingsError& error) {
    EXPECT_EQ(error.what(), file().string() +
                                " kept changing while Wexla was editing it; nothing was written. "
                                "Try again when the agent is idle.");
  }
  EXPECT_EQ(readFile(file()), "{\"n\": " + std::to_string(calls) + "}");
  EXPECT_EQ(std::distance(fs::directory_iterator(file().parent_path()), {}), 2);  // and a backup
}

// An empty HOME must never mean the current directory.
TEST(HookEnvironment, AnEmptyHomeFallsBackToThePasswordDatabase) {
  const std::string saved = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", "", 1);
  const HookEnvironment environment = HookEnvironment::current("wexlactl");
  ::setenv("HOME", saved.c_str(), 1);
  EXPECT_TRUE(environment.home.is_absolute()) << environment.home;
}

}  // namespace
}  // namespace wexla::cli
