#include <gtest/gtest.h>

#include "FakeWorld.hpp"
#include "MenuChoices.hpp"

namespace wexla::app {
namespace {

// Records what the menu asked of it; the runs wait until the test ends them.
class FakePlatform final : public MenuPlatform {
 public:
  Calls calls;
  std::map<std::string, Finished> runs;

  void runWexlactl(const std::string& word, Finished finished) override {
    calls.push_back("run " + word);
    runs.emplace(word, std::move(finished));
  }
  void tell(const std::string& message, bool problem) override {
    calls.push_back((problem ? "! " : "") + message);
  }
  void quit() override { calls.push_back("quit"); }
  void toggleStartAtLogin() override { calls.push_back("login"); }
  void installHelper() override { calls.push_back("install"); }
  void openLoginItems() override { calls.push_back("open"); }
  void uninstallHelper() override { calls.push_back("uninstall"); }
  void end(const std::string& word, int status, const std::string& output) {
    Finished finished = std::move(runs.at(word));
    runs.erase(word);
    finished(status, output);
  }
};

MenuItem entry(MenuItem::Kind kind, std::string argument = {}, bool enabled = true) {
  MenuItem item;
  item.kind = kind;
  item.argument = std::move(argument);
  item.enabled = enabled;
  return item;
}

TEST_F(ApplicationTest, EachEntryIsCarriedOutByItsKind) {
  using enum MenuItem::Kind;
  const std::pair<MenuItem, std::string> rows[] = {
      {entry(startAtLogin), "login"},
      {entry(installHelper), "install"},
      {entry(openLoginItems), "open"},
      {entry(uninstallHelper), "uninstall"},
      {entry(quit), "quit"},
      {entry(hook, "install-kilo-hooks"), "run install-kilo-hooks"},
      {entry(label), ""},
      {entry(separator), ""},
      {entry(submenu), ""},
      {entry(quit, "", false), ""},
  };
  for (const auto& [item, expected] : rows) {
    FakePlatform platform;
    MenuChoices choices(app, platform, false);
    choices.choose(item, kStart);
    EXPECT_EQ(platform.calls, expected.empty() ? Calls{} : Calls{expected}) << expected;
  }
  FakePlatform platform;
  MenuChoices choices(app, platform, false);
  world.answer = HelperAnswer::yes;
  choices.choose(entry(command, "on"), kStart);
  EXPECT_TRUE(app.holds().manual());
  choices.choose(entry(endManual), kStart);
  EXPECT_FALSE(app.holds().manual());
}

// A flood of clicks starts each word once and a few words at most; each result is told once.
TEST_F(ApplicationTest, HookWordsRunOnceAtATimeAndAFewAtMost) {
  FakePlatform platform;
  MenuChoices choices(app, platform, false);
  for (int i = 0; i < 300; ++i) choices.choose(entry(MenuItem::Kind::hook, "a"), kStart);
  for (const char* word : {"b", "c", "d", "e", "f"}) {
    choices.choose(entry(MenuItem::Kind::hook, word), kStart);
  }
  EXPECT_EQ(platform.calls, (Calls{"run a", "run b", "run c", "run d"}));
  platform.calls.clear();
  platform.end("a", 0, "installed\n");
  platform.end("b", 1, "refused: not a JSON object\n");
  choices.choose(entry(MenuItem::Kind::hook, "a"), kStart);
  EXPECT_EQ(platform.calls, (Calls{"installed", "! refused: not a JSON object", "run a"}));
  EXPECT_EQ(choices.running(), 3u);
}

TEST(HookMessage, SaysWhatRanOrThatNothingCould) {
  const std::string bundled =
      "không chạy được wexlactl trong Wexla.app / wexlactl in Wexla.app could not run";
  const std::string plain = "không chạy được wexlactl / wexlactl could not run";
  EXPECT_EQ(hookMessage(1, "refused: not a JSON object\n", false), "refused: not a JSON object");
  EXPECT_EQ(hookMessage(-1, "", true), bundled);
  EXPECT_EQ(hookMessage(-1, "", false), plain);
  EXPECT_EQ(hookMessage(0, "\n", false), plain);
}

}  // namespace
}  // namespace wexla::app
