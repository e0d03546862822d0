#include <gtest/gtest.h>

#include "FakeWorld.hpp"
#include "MenuChoices.hpp"

namespace wexla::app {
namespace {

// Records what the menu asked of it; the runs wait until the test ends them.
struct FakePlatform final : MenuPlatform {
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
  const std::pair<MenuItem, const char*> rows[] = {
      {entry(startAtLogin), "login"},  {entry(installHelper), "install"},
      {entry(openLoginItems), "open"}, {entry(uninstallHelper), "uninstall"},
      {entry(quit), "quit"},           {entry(hook, "x"), "run x"},
      {entry(label), nullptr},         {entry(separator), nullptr},
      {entry(submenu), nullptr},       {entry(quit, "", false), nullptr},
  };
  for (const auto& [item, call] : rows) {
    FakePlatform platform;
    MenuChoices(app, platform, false).choose(item, kStart);
    EXPECT_EQ(platform.calls, call ? Calls{call} : Calls{}) << (call ? call : item.title);
  }
  FakePlatform platform;
  MenuChoices choices(app, platform, false);
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
  for (const char* word : {"b", "c", "d", "e"})
    choices.choose(entry(MenuItem::Kind::hook, word), kStart);
  EXPECT_EQ(platform.calls, (Calls{"run a", "run b", "run c", "run d"}));
  platform.calls.clear();
  platform.runs.at("a")(0, "installed\n");
  platform.runs.at("b")(1, "refused: not a JSON object\n");
  platform.runs.at("c")(-1, "");
  choices.choose(entry(MenuItem::Kind::hook, "a"), kStart);
  EXPECT_EQ(platform.calls,
            (Calls{"installed", "! refused: not a JSON object",
                   "! không chạy được wexlactl / wexlactl could not run", "run a"}));
  EXPECT_EQ(choices.running(), 2u);
  EXPECT_EQ(hookMessage(0, "\n", true),
            "không chạy được wexlactl trong Wexla.app / wexlactl in Wexla.app could not run");
}

}  // namespace
}  // namespace wexla::app
