#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "Files.hpp"
#include "HookInstaller.hpp"
#include "SettingsStore.hpp"
#include "TempDir.hpp"

namespace wexla::cli {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  fs::path file() const { return dir_.path() / ".claude" / "settings.json"; }
  SettingsStore store() const {
    return SettingsStore(file(), [] { throw HookError(); });
  }

  // The message of the error that loading the given bytes gives, or "" when it loads.
  std::string loadError(std::string_view bytes) {
    writeFile(file(), bytes);
    try {
      store().load();
      return "";
    } catch (const std::exception& error) {
      return error.what();
    }
  }

  test::TempDir dir_;
};

TEST_F(SettingsStoreTest, MissingAndZeroByteFilesAreEmptyDocuments) {
  SettingsStore::Loaded loaded = store().load();
  EXPECT_EQ(loaded.document, Json::object());
  EXPECT_FALSE(loaded.bytes);
  EXPECT_FALSE(fs::exists(file().parent_path()));  // reading creates nothing

  writeFile(file(), "");
  loaded = store().load();
  EXPECT_EQ(loaded.document, Json::object());
  EXPECT_EQ(loaded.bytes, "");
}

TEST_F(SettingsStoreTest, RefusesWhatItCannotWriteBackExactly) {
  const std::string f = file().string();
  struct Case {
    std::string bytes;
    std::string message;
  };
  const Case cases[] = {
      {"\n", f + " is not valid JSON (line 2, column 1: syntax error while parsing value - "
                 "unexpected end of input; expected '[', '{', or a literal). Nothing was changed."},
      {"1", f + " is not valid JSON (line 1, column 1: the top level is a number, not an "
                "object). Nothing was changed."},
      {"  \"text\"", f + " is not valid JSON (line 1, column 3: the top level is a string, not an "
                         "object). Nothing was changed."},
      {"{\n  \"m\u00F4 h\u00ECnh\": 1,\n  \"b\": }",
       f + " is not valid JSON (line 3, column 8: syntax error while parsing value - unexpected "
           "'}'; expected '[', '{', or a literal). Nothing was changed."},
      {"{\"a\": 18446744073709551616}",
       f + " cannot be edited safely: it holds the integer 18446744073709551616, which is too "
           "large to be kept exactly; refusing to round it. Nothing was changed."},
      {std::string("{\"a\":1}\0{\"b\":2}", 15),
       f + " is not valid JSON (line 1, column 8: a NUL byte). Nothing was changed."},
      {std::string(1001, '[') + std::string(1001, ']'),
       f + " cannot be edited safely: it is nested more than 1000 levels deep. Nothing was "
           "changed."},
  };
  for (const auto& c : cases) EXPECT_EQ(loadError(c.bytes), c.message) << c.bytes;
}

TEST_F(SettingsStoreTest, HostileBytesNeverCrashTheReader) {
  const std::string hostile[] = {
      std::string("{\"a\":\"\0\"}", 9),
      std::string("{\"a\":1}\0", 8),
      "{\"a\":\"\xFF\xFE\"}",
      "{\"a\":\"\xED\xA0\x80\"}",
      "// a comment\n{}",
      "{\"a\":1,}",
      std::string(200000, '{'),
      std::string(200000, '['),
      "\xEF\xBB\xBF",
  };
  for (const auto& bytes : hostile) {
    EXPECT_NE(loadError(bytes), "") << testing::PrintToString(bytes.substr(0, 20));
  }

  // Within the limits everything loads: the widest integers, deep nesting, a big file.
  std::string big = "{\"rules\": [";
  for (int i = 0; i < 200000; ++i)
    big += (i ? ",\"Bash(task " : "\"Bash(task ") + std::to_string(i) + ")\"";
  EXPECT_EQ(loadError(big + "]}"), "");
  EXPECT_EQ(loadError("{\"a\":" + std::string(999, '[') + std::string(999, ']') + "}"), "");
  EXPECT_EQ(loadError("{\"a\":-9223372036854775808,\"b\":18446744073709551615}"), "");
  EXPECT_EQ(loadError("{\"c\":1e400}"), file().string() +
                                            " is not valid JSON (line 1, column 10: "
                                            "number overflow parsing '1e400'). "
                                            "Nothing was changed.");
}

TEST_F(SettingsStoreTest, DuplicateMembersKeepTheFirstPlaceAndTheLastValue) {
  writeFile(file(), R"({"a": 1, "b": {"x": 1, "x": [2]}, "a": 3, "c": 4})");
  EXPECT_EQ(store().load().document.dump(), R"({"a":3,"b":{"x":[2]},"c":4})");
}

TEST_F(SettingsStoreTest, TopLevelArrayIsTheAgentsOwnError) {
  writeFile(file(), "[]");
  EXPECT_THROW(store().load(), HookError);
}

TEST_F(SettingsStoreTest, SaveKeepsModeMakesTheBackupOnceAndWritesUtf8) {
  writeFile(file(), "{\"k\": 1}");
  ::chmod(file().c_str(), 0600);
  SettingsStore::Loaded loaded = store().load();
  loaded.document["url"] = "https://example.com/a/b";
  loaded.document["text"] = "gi\u1EEF m\u00E1y";
  ASSERT_TRUE(store().save(loaded.document, loaded));

  EXPECT_EQ(readFile(file()),
            "{\n  \"k\": 1,\n  \"url\": \"https://example.com/a/b\",\n  \"text\": \"gi\u1EEF "
            "m\u00E1y\"\n}");
  EXPECT_EQ(modeOf(file()), 0600);
  EXPECT_EQ(readFile(store().backupPath()), "{\"k\": 1}");
  EXPECT_EQ(modeOf(store().backupPath()), 0600);

  loaded = store().load();
  ASSERT_TRUE(store().save(Json::object(), loaded));
  EXPECT_EQ(readFile(store().backupPath()), "{\"k\": 1}");  // never replaced
  EXPECT_EQ(readFile(file()), "{}");
  // No temporary file is left beside the settings.
  EXPECT_EQ(std::distance(fs::directory_iterator(file().parent_path()), {}), 2);
}

TEST_F(SettingsStoreTest, ALinkedSettingsFileStaysALink) {
  const fs::path real = dir_.path() / "dotfiles" / "claude.json";
  writeFile(real, "{}");
  fs::create_directories(file().parent_path());
  fs::create_symlink("../dotfiles/claude.json", file());

  const SettingsStore::Loaded loaded = store().load();
  ASSERT_TRUE(store().save(Json{{"a", 1}}, loaded));
  EXPECT_TRUE(fs::is_symlink(file()));
  EXPECT_EQ(readFile(real), "{\n  \"a\": 1\n}");
  EXPECT_EQ(readFile(store().backupPath()), "{}");
}

TEST_F(SettingsStoreTest, ABackupThatCannotBeWrittenDoesNotStopTheEdit) {
  writeFile(file(), "{}");
  fs::create_directories(store().backupPath());  // a directory where the backup would go
  const SettingsStore::Loaded loaded = store().load();
  ASSERT_TRUE(store().save(Json{{"a", 1}}, loaded));
  EXPECT_EQ(readFile(file()), "{\n  \"a\": 1\n}");
}

TEST_F(SettingsStoreTest, AConcurrentWriterIsNeverOverwritten) {
  writeFile(file(), "{\"a\": 1}");
  int calls = 0;
  store().edit([&](Json& settings) {
    if (++calls == 1) writeFile(file(), "{\"agent\": true}");  // the agent writes meanwhile
    settings["ours"] = calls;
    return true;
  });
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(Json::parse(readFile(file())), Json::parse(R"({"agent":true,"ours":2})"));

  // A file that never holds still is left alone with a clear message.
  try {
    store().edit([&](Json&) {
      writeFile(file(), "{\"n\": " + std::to_string(++calls) + "}");
      return true;
    });
    ADD_FAILURE() << "overwrote a file that kept changing";
  } catch (const SettingsError& error) {
    EXPECT_EQ(std::string(error.what()),
              file().string() +
                  " kept changing while Wexla was editing it; nothing was written. "
                  "Try again when the agent is idle.");
  }
  EXPECT_EQ(readFile(file()), "{\"n\": " + std::to_string(calls) + "}");  // the agent's, exactly
  EXPECT_EQ(std::distance(fs::directory_iterator(file().parent_path()), {}), 2);  // and a backup
}

TEST(HookCommand, QuotesPathsThatAShellWouldSplit) {
  struct Case {
    const char* path;
    const char* command;
  };
  const Case cases[] = {
      {"/usr/local/bin/wexlactl", "/usr/local/bin/wexlactl busy"},
      {"/opt/tools-1.2/wexla_ctl+x@y:z,w%/wexlactl",
       "/opt/tools-1.2/wexla_ctl+x@y:z,w%/wexlactl busy"},
      {"/Applications/My Tools/wexlactl", "'/Applications/My Tools/wexlactl' busy"},
      {"/home/o'neil/bin/wexlactl", "'/home/o'\\''neil/bin/wexlactl' busy"},
      {"/tmp/$HOME/`x`/*/wexlactl", "'/tmp/$HOME/`x`/*/wexlactl' busy"},
      {"/tmp/c\u00F4ng c\u1EE5/wexlactl", "'/tmp/c\u00F4ng c\u1EE5/wexlactl' busy"},
      {"wexlactl", "wexlactl busy"},
  };
  for (const auto& c : cases) EXPECT_EQ(hookCommand(c.path), c.command);
}

TEST(HookEnvironment, EmptyHomeFallsBackToThePasswordDatabase) {
  const char* saved = std::getenv("HOME");
  const std::string previous = saved ? saved : "";
  ::setenv("HOME", "", 1);
  const HookEnvironment empty = HookEnvironment::current("wexlactl");
  ::setenv("HOME", "/tmp/h", 1);
  const HookEnvironment set = HookEnvironment::current("wexlactl");
  ::setenv("HOME", previous.c_str(), 1);

  EXPECT_FALSE(empty.home.empty());
  EXPECT_TRUE(empty.home.is_absolute());
  EXPECT_EQ(set.home, "/tmp/h");
  EXPECT_TRUE(fs::path(set.executable).is_absolute());
}

}  // namespace
}  // namespace wexla::cli
