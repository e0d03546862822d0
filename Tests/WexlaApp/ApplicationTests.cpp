// The application's core with a fake helper, process watch and timer, on a clock of the test's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>

#include "Application.hpp"
#include "MenuModel.hpp"
#include "Notices.hpp"
#include "StatusText.hpp"

namespace wexla::app {
namespace {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

// 2026-12-06 13:10:00 UTC; the boot clock starts at an arbitrary reading.
const Now kStart{Instant(1000s), WallTime(std::chrono::seconds(1796562600))};

class FakeWorld final : public HelperConnection,
                        public ProcessWatch,
                        public WakeTimer,
                        public ApplicationListener {
 public:
  Calls calls;                         // "set 1", "set 0", "heartbeat", "check", "release"
  std::optional<HelperAnswer> answer;  // answers every call at once when set
  std::vector<std::pair<std::string, Reply>> waiting;  // otherwise they wait here, by call
  std::set<std::int32_t> running{4242, 4243};
  std::optional<Instant> wake;
  Calls logged;

  void setDisableSleep(bool on, Reply reply) override { record(on ? "set 1" : "set 0", reply); }
  void heartbeat() override { calls.push_back("heartbeat"); }
  void currentDisableSleep(Reply reply) override { record("check", reply); }
  void releaseBeforeExit(std::chrono::milliseconds limit) override {
    EXPECT_EQ(limit, 1000ms);
    calls.push_back("release");
  }
  std::set<std::int32_t> watched;
  bool watch(std::int32_t pid) override {
    if (running.contains(pid)) watched.insert(pid);
    return running.contains(pid);
  }
  void unwatch(std::int32_t pid) override { watched.erase(pid); }
  void wakeAt(std::optional<Instant> when) override { wake = when; }
  void linkChanged(LinkState state) override { logged.emplace_back(linkLogMessage(state)); }

 private:
  void record(const char* call, Reply& reply) {
    calls.push_back(call);
    if (answer) {
      reply(*answer, now);
    } else {
      waiting.emplace_back(call, std::move(reply));
    }
  }

 public:
  Instant now = kStart.boot;
};

class ApplicationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }

  Now at(Instant::duration offset) {
    return {kStart.boot + offset, kStart.wallAt(kStart.boot + offset)};
  }

  FakeWorld world;
  Application app{Settings{}, world, world, world, world};
};

const std::string kOff = "off — không giữ máy thức / not holding";
const std::string kOn = "on — giữ máy thức tới khi tắt / holding until off";
const std::string kUse = " — dùng / use: on, off, 2h, 45m, extend 30, while PID, status";

// Each row starts from a fresh application: the texts at their minute, then the last reply.
TEST_F(ApplicationTest, TextsChangeTheHoldsAndGetTheirReply) {
  struct Row {
    std::vector<std::pair<int, std::string>> texts;
    std::optional<std::string> reply;
    HelperAnswer answer = HelperAnswer::yes;  // to every call to the helper
  };
  const std::string timer80 = "timer — giữ tới 14:30, còn 1h20m / holding until 14:30, 1h20m left";
  const std::string agent10 =
      "agent — agent AI đang bận, giữ tới 13:20 / AI agent busy, holding "
      "until 13:20";
  // clang-format off
  const Row rows[] = {
      {{{0, "status"}}, kOff},
      {{{0, "on"}}, kOn},
      {{{0, "on"}, {5, "off"}}, kOff},
      {{{0, "extend 80"}}, timer80},
      {{{0, "extend 20"}, {0, "extend 60"}}, timer80},
      {{{0, "extend 50"}, {30, "status"}}, "timer — giữ tới 14:00, còn 20m / holding until 14:00, 20m left"},
      {{{0, "extend 10"}, {20, "extend 80"}}, "timer — giữ tới 14:50, còn 1h20m / holding until 14:50, 1h20m left"},
      {{{0, "extend 0"}}, kOff},
      {{{0, "extend 10080"}, {0, "extend 10080"}}, "timer — giữ tới 2026-12-13 13:10, còn 168h00m / holding until 2026-12-13 13:10, 168h00m left"},
      {{{0, "extend 99999999999999999999"}}, "timer — giữ tới 2026-12-13 13:10, còn 168h00m / holding until 2026-12-13 13:10, 168h00m left"},
      {{{0, "busy"}}, std::nullopt},
      {{{0, "busybox 3"}}, std::nullopt},
      {{{0, "working 90"}, {0, "status"}}, "agent — agent AI đang bận, giữ tới 14:40 / AI agent busy, holding until 14:40"},
      {{{0, "heartbeat 1441"}, {0, "status"}}, agent10},
      {{{0, "busy 30"}, {5, "busy 1"}, {5, "status"}}, "agent — agent AI đang bận, giữ tới 13:40 / AI agent busy, holding until 13:40"},
      {{{0, "busy"}, {10, "status"}}, kOff},
      {{{0, " busy"}}, agent10},
      {{{0, "while 4242"}, {0, "while 4243"}, {0, "while 4242"}}, "while — giữ khi tiến trình 4242, 4243 còn chạy / holding while process 4242, 4243 runs"},
      {{{0, "while 007"}}, "không có tiến trình 007 / no process 007"},
      {{{0, "while 99999999999"}}, "không có tiến trình 99999999999 / no process 99999999999"},
      {{{0, "while 0"}}, "không hiểu \"while 0\"" + kUse},
      {{{0, "while -1"}}, "không hiểu \"while -1\"" + kUse},
      {{{0, "on"}, {0, "extend 80"}, {0, "busy"}, {0, "while 4242"}, {0, "\tstatus  "}}, kOn + "; " + timer80 + "; " + agent10 + "; while — giữ khi tiến trình 4242 còn chạy / holding while process 4242 runs"},
      {{{0, "on"}, {0, "while 4242"}, {0, "off"}, {0, "status json"}}, R"({"held": false, "holds": [], "helper": "idle"})"},
      {{{0, "extend 80"}, {0, "while 4243"}, {0, "status  json"}}, R"({"held": true, "holds": [{"kind": "timer", "until": "2026-12-06T14:30:00+00:00"}, {"kind": "while", "until": null, "pids": [4243]}], "helper": "ok"})"},
      {{{0, ""}}, "không hiểu \"\"" + kUse},
      {{{0, "On"}}, "không hiểu \"On\"" + kUse},
      {{{0, "on now"}}, "không hiểu \"on now\"" + kUse},
      {{{0, "say \"hi\""}}, "không hiểu \"say \"hi\"\"" + kUse},
      {{{0, "extend -5"}}, "không hiểu \"extend -5\"" + kUse},
      {{{0, "on"}}, kOn + " ⚠ helper không chạy — máy vẫn có thể ngủ / helper not running — the machine may sleep", HelperAnswer::unreachable},
      {{{0, "on"}}, kOn + " ⚠ helper từ chối ứng dụng này / the helper refused this application", HelperAnswer::refused},
      {{{0, "on"}, {0, "status json"}}, R"({"held": false, "holds": [{"kind": "manual", "until": null}], "helper": "refused"})", HelperAnswer::refused},
      {{{0, "on"}, {0, "status json"}}, R"({"held": false, "holds": [{"kind": "manual", "until": null}], "helper": "unreachable"})", HelperAnswer::unreachable},
      {{{0, "on"}}, kOn + " ⚠ helper đã tự nhả (pin yếu hoặc máy quá nóng) / the helper let go (low battery or too hot)", HelperAnswer::no},
      {{{0, "on"}, {0, "status"}}, kOn + " ⚠ helper chưa kiểm tra được quyền — đang thử lại / the helper could not check permission — retrying", HelperAnswer::unchecked},
      {{{0, "on"}, {0, "status json"}}, R"({"held": false, "holds": [{"kind": "manual", "until": null}], "helper": "unchecked"})", HelperAnswer::unchecked},
  };
  // clang-format on
  for (const Row& row : rows) {
    FakeWorld fresh;
    fresh.answer = row.answer;
    Application application(Settings{}, fresh, fresh, fresh, fresh);
    std::optional<std::string> reply;
    for (const auto& [minute, text] : row.texts) {
      reply = application.handle(text, at(std::chrono::minutes(minute)));
    }
    EXPECT_EQ(reply, row.reply) << row.texts.back().second;
  }
}

// The helper link over time: one step a row, at its second, with the calls it makes.
TEST_F(ApplicationTest, TheHelperLinkKeepsItsTiming) {
  struct Step {
    int second;
    std::string action;  // a command text, "tick", "lost", "exit 4242", "quit", or a call and
                         // its answer ("check no"), given to the newest such call waiting
    Calls calls;         // made by this step
    LinkState state;
    std::optional<int> wake;  // the second the timer is set to
  };
  using enum LinkState;
  // clang-format off
  const Step steps[] = {
      {0, "on", {"set 1"}, pending, std::nullopt},
      {0, "set yes", {}, held, 5},
      {5, "tick", {"heartbeat"}, held, 10},
      {10, "tick", {"heartbeat"}, held, 15},
      {15, "tick", {"heartbeat", "check"}, held, 20},   // its answer is still on the way
      {20, "tick", {"heartbeat"}, held, 25},
      {25, "tick", {"heartbeat"}, held, 30},
      {30, "tick", {"heartbeat"}, held, 35},              // one check under way at a time
      {31, "check no", {}, released, 91},                 // let go: asked again in a minute
      {35, "tick", {}, released, 91},
      {91, "tick", {"set 1"}, released, std::nullopt},
      {92, "set yes", {}, held, 97},
      {97, "tick", {"heartbeat"}, held, 102},
      {102, "tick", {"heartbeat"}, held, 107},
      {107, "tick", {"heartbeat", "check"}, held, 112},
      {108, "check unreachable", {}, unreachable, 138},
      {138, "tick", {"set 1"}, unreachable, std::nullopt},
      {139, "set refused", {}, refused, 169},
      {169, "tick", {"set 1"}, refused, std::nullopt},
      {170, "set yes", {}, held, 175},
      {171, "lost", {}, unreachable, 201},                // the helper left the bus
      {180, "off", {"set 0"}, idle, std::nullopt},        // one release, then nothing
      {181, "set yes", {}, idle, std::nullopt},
      {200, "tick", {}, idle, std::nullopt},
      {201, "while 4242", {"set 1"}, pending, std::nullopt},
      {202, "exit 4242", {}, idle, std::nullopt},         // the set under way is not crossed
      {202, "set yes", {"set 0"}, idle, std::nullopt},    // a late yes holds nothing: let go
      {203, "extend 1", {}, pending, 263},
      {203, "set yes", {"set 1"}, pending, 263},
      {204, "set yes", {}, held, 209},
      {263, "tick", {"set 0"}, idle, std::nullopt},       // the timer ran out
      {264, "set yes", {}, idle, std::nullopt},
      {300, "on", {"set 1"}, pending, std::nullopt},
      {300, "set busy", {}, pending, 301},                // the bus's limit: soon, not "down"
      {301, "tick", {"set 1"}, pending, std::nullopt},
      {301, "quit", {"release"}, pending, std::nullopt},
  };
  // clang-format on
  const std::map<std::string, HelperAnswer> answers{{"yes", HelperAnswer::yes},
                                                    {"no", HelperAnswer::no},
                                                    {"unreachable", HelperAnswer::unreachable},
                                                    {"refused", HelperAnswer::refused},
                                                    {"busy", HelperAnswer::busy}};
  for (const Step& step : steps) {
    const Now now = at(std::chrono::seconds(step.second));
    const std::string where = "at " + std::to_string(step.second) + " s: " + step.action;
    world.now = now.boot;
    world.calls.clear();
    const std::size_t blank = step.action.find(' ');
    const auto answer =
        blank == std::string::npos ? answers.end() : answers.find(step.action.substr(blank + 1));
    if (step.action == "tick") {
      app.tick(now);
    } else if (step.action == "lost") {
      app.helperLost(now);
    } else if (step.action == "quit") {
      app.quit();
    } else if (step.action == "exit 4242") {
      app.processEnded(4242, now);
    } else if (answer != answers.end()) {
      const std::string call = step.action.substr(0, blank);
      auto waiting = std::find_if(world.waiting.rbegin(), world.waiting.rend(),
                                  [&](const auto& entry) { return entry.first.starts_with(call); });
      ASSERT_NE(waiting, world.waiting.rend()) << where;
      const auto reply = std::move(waiting->second);
      world.waiting.erase(std::next(waiting).base());
      reply(answer->second, now.boot);
    } else {
      EXPECT_TRUE(app.handle(step.action, now)) << where;
    }
    EXPECT_EQ(world.calls, step.calls) << where;
    EXPECT_EQ(app.link(), step.state) << where;
    const std::optional<Instant> wake =
        step.wake ? std::optional(at(std::chrono::seconds(*step.wake)).boot) : std::nullopt;
    EXPECT_EQ(world.wake, wake) << where;
  }
  EXPECT_EQ(world.logged.size(), 15u);  // one line per change of the link, none for repeats
}

// What the person is told as the link changes, one step a row with the helper's answer to every
// call from then on: once as trouble begins, with the status's warning ("!"), once when the
// helper holds again, with the status ("+"); nothing per retry or text, nor when the holds end,
// and trouble at most three times a minute.
TEST_F(ApplicationTest, ThePersonIsToldOnceWhenTheHelperStopsHoldingAndOnceWhenItHoldsAgain) {
  using enum HelperAnswer;
  const std::string warn = "! helper ";
  // clang-format off
  const std::tuple<int, const char*, HelperAnswer, std::string> steps[] = {
      {0, "on", yes, ""},                       // the first hold is no news
      {5, "lost", yes, warn + "không chạy — máy vẫn có thể ngủ / helper not running — the machine may sleep"},
      {6, "busy 1", yes, ""},
      {35, "tick", unreachable, ""},            // a retry that fails
      {65, "tick", refused, ""},                // the same trouble for another reason
      {95, "tick", yes, "+ " + kOn},
      {110, "tick", no, warn + "đã tự nhả (pin yếu hoặc máy quá nóng) / the helper let go (low battery or too hot)"},
      {170, "tick", yes, "+ " + kOn},
      {175, "off", yes, ""},
      {176, "on", unreachable, warn + "không chạy — máy vẫn có thể ngủ / helper not running — the machine may sleep"},
      {177, "off", yes, ""},                    // the holds ended: nothing to tell
      {178, "extend 5", refused, warn + "từ chối ứng dụng này / the helper refused this application"},
      {179, "off", yes, ""},
      {180, "on", unreachable, warn + "không chạy — máy vẫn có thể ngủ / helper not running — the machine may sleep"},
      {181, "off", yes, ""},
      {182, "on", unreachable, ""},             // a fourth in a minute waits for the next
      {240, "tick", unreachable, warn + "không chạy — máy vẫn có thể ngủ / helper not running — the machine may sleep"},
  };
  // clang-format on
  Notices told(true);
  Notices silent(false);
  for (const auto& [second, action, answer, expected] : steps) {
    const Now now = at(std::chrono::seconds(second));
    world.answer = answer;
    world.now = now.boot;
    const std::string what(action);
    if (what == "tick") {
      app.tick(now);
    } else if (what == "lost") {
      app.helperLost(now);
    } else {
      app.handle(what, now);
    }
    const auto notice = told.after(app, now);
    std::string text;
    if (notice) text = (notice->kind == Notice::Kind::trouble ? "! " : "+ ") + notice->body;
    EXPECT_EQ(text, expected) << "at " << second << " s: " << action;
    if (notice && notice->kind == Notice::Kind::heldAgain) {
      EXPECT_EQ(notice->title, "Wexla giữ máy thức trở lại / Wexla holds the machine awake again");
    }
    EXPECT_EQ(silent.after(app, now), std::nullopt) << "turned off, at " << second << " s";
  }
}

// Each process holds for itself, and every watch stops when the holds end.
TEST_F(ApplicationTest, ProcessHoldsEndOneByOne) {
  world.answer = HelperAnswer::yes;
  app.handle("while 4242", kStart);
  app.handle("while 4243", kStart);
  app.processEnded(4242, kStart);
  EXPECT_EQ(app.statusLine(kStart),
            "while — giữ khi tiến trình 4243 còn chạy / holding while process 4243 runs");
  EXPECT_EQ(world.watched, std::set<std::int32_t>{4243});
  app.handle("off", kStart);
  EXPECT_TRUE(world.watched.empty());
}

// The menu each state leaves, one row a state: the symbol, then each entry as its command text,
// wexlactl word or kind (a label below the status line as its title), ticked with "✓" and greyed
// out in parentheses. "untick" chooses the ticked Keep awake.
TEST_F(ApplicationTest, TheMenuFollowsTheApplication) {
  const auto entries = [](const std::vector<MenuItem>& items) {
    std::string text;
    for (const MenuItem& item : items) {
      static const char* const kKinds[] = {
          "status",           "-",        "", "hooks", "", "login", "quit", "untick", "install",
          "open-login-items", "uninstall"};
      std::string entry =
          item.argument.empty() ? kKinds[static_cast<int>(item.kind)] : item.argument;
      if (item.kind == MenuItem::Kind::label && &item != &items.front()) entry = item.title;
      if (item.checked) entry = "✓" + entry;
      text += (text.empty() ? "" : ", ") + (item.enabled ? entry : "(" + entry + ")");
    }
    return text;
  };
  struct Row {
    std::vector<std::string> actions;
    std::optional<HelperAnswer> answer;  // to every call to the helper
    LoginItem login;
    HelperInstall helper;
    Indicator symbol;
    std::string menu;
  };
  using enum Indicator;
  using enum HelperInstall;
  const std::string top = "(status), -, on, extend 60, extend 120, off, -, hooks, -, ";
  // clang-format off
  const Row rows[] = {
      {{"status"}, HelperAnswer::yes, LoginItem::unavailable, unavailable, idle,
       "(status), -, on, extend 60, extend 120, (off), -, hooks, -, quit"},
      {{"on"}, HelperAnswer::yes, LoginItem::off, notRegistered, held,
       "(status), -, ✓untick, extend 60, extend 120, off, -, hooks, -, (Helper chưa được cài / Helper not installed), install, -, login, -, quit"},
      {{"extend 60"}, HelperAnswer::refused, LoginItem::on, awaitingApproval, trouble,
       top + "(Helper đang chờ được cho phép / Helper awaiting approval), open-login-items, uninstall, -, ✓login, -, quit"},
      {{"busy"}, std::nullopt, LoginItem::unavailable, enabled, idle,  // the helper's answer is on the way
       top + "(Helper đã được cài / Helper installed), uninstall, -, quit"},
      // Unticking ends the manual hold alone: the agent's stays.
      {{"busy", "on", "untick"}, HelperAnswer::yes, LoginItem::off, notFound, held,
       top + "(macOS không tìm thấy helper / macOS cannot find the helper), install, -, login, -, quit"},
      {{"on", "untick"}, HelperAnswer::yes, LoginItem::unavailable, byHand, idle,
       "(status), -, on, extend 60, extend 120, (off), -, hooks, -, (Helper đã được cài bằng tay / Helper installed by hand), -, quit"},
  };
  // clang-format on
  for (const Row& row : rows) {
    FakeWorld fresh;
    fresh.answer = row.answer;
    Application application(Settings{}, fresh, fresh, fresh, fresh);
    for (const std::string& action : row.actions) {
      if (action != "untick") {
        application.handle(action, kStart);
        continue;
      }
      const auto items = menuItems(application, kStart, row.login, row.helper);
      ASSERT_EQ(items[2].kind, MenuItem::Kind::endManual) << row.menu;
      application.endManualHold(kStart);
    }
    EXPECT_EQ(indicator(application, kStart), row.symbol) << row.menu;
    EXPECT_EQ(entries(menuItems(application, kStart, row.login, row.helper)), row.menu);
  }
  EXPECT_EQ(entries(menuItems(app, kStart, LoginItem::off)[7].items),
            "install-claude-hooks, uninstall-claude-hooks, -, install-codex-hooks, "
            "uninstall-codex-hooks, -, install-gemini-hooks, uninstall-gemini-hooks, -, "
            "install-cursor-hooks, uninstall-cursor-hooks");
  const std::string couldNotRun =
      "không chạy được wexlactl trong Wexla.app / wexlactl in Wexla.app could not run";
  EXPECT_EQ(hookMessage(1, "refused: not a JSON object\n"), "refused: not a JSON object");
  EXPECT_EQ(hookMessage(-1, ""), couldNotRun);
  EXPECT_EQ(hookMessage(0, "\n"), couldNotRun);
}

TEST(StatusText, TimesAreShownInLocalTime) {
  ::setenv("TZ", "XYZ-7", 1);  // seven hours east of UTC
  ::tzset();
  const WallTime start = kStart.wall;
  EXPECT_EQ(clockText(start + 24h, start), "20:10");
  EXPECT_EQ(clockText(start + 24h + 1s, start), "2026-12-07 20:10");
  EXPECT_EQ(rfc3339(start), "2026-12-06T20:10:00+07:00");
  ::setenv("TZ", "<-0330>3:30", 1);
  ::tzset();
  EXPECT_EQ(rfc3339(start), "2026-12-06T09:40:00-03:30");
  ::setenv("TZ", "XXX-5:30:15", 1);
  ::tzset();
  EXPECT_EQ(rfc3339(start), "2026-12-06T13:10:00Z");
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  const std::pair<Instant::duration, const char*> lefts[] = {
      {1s, "1m"},       {59min + 1s, "1h00m"},  {60min, "1h00m"},
      {61min, "1h01m"}, {26h + 5min, "26h05m"}, {168h, "168h00m"},
  };
  for (const auto& [left, text] : lefts) EXPECT_EQ(timeLeftText(left), text);
}

// busyMinutes is the agent hold of a heartbeat that names no time; a member that cannot be used
// gives its own default, the others keep their values.
TEST_F(ApplicationTest, AnUnusableSettingsFileGivesTheDefaultsAndSaysWhy) {
  // clang-format off
  const std::tuple<const char*, std::int64_t, bool, bool> rows[] = {
      {"{}", 10, true, false},
      {R"({"busyMinutes": 30, "theme": "dark"})", 30, true, false},
      {R"({"busyMinutes": 1440})", 1440, true, false},
      {R"({"busyMinutes": 0})", 10, true, true},
      {R"({"busyMinutes": 1441})", 10, true, true},
      {R"({"busyMinutes": 18446744073709551615})", 10, true, true},
      {R"({"busyMinutes": 12.5})", 10, true, true},
      {R"({"busyMinutes": "30"})", 10, true, true},
      {"[30]", 10, true, true},
      {R"({"notifications": false})", 10, false, false},
      {R"({"busyMinutes": 30, "notifications": "no"})", 30, true, true},
      {R"({"busyMinutes": 0, "notifications": false})", 10, false, true},
      {"{\"busyMinutes\": 30", 10, true, true},
  };
  // clang-format on
  for (const auto& [text, minutes, notifications, problem] : rows) {
    const SettingsReading reading = parseSettings(text);
    EXPECT_EQ(!reading.problem.empty(), problem) << text;
    EXPECT_EQ(reading.settings.notifications, notifications) << text;
    Application application(reading.settings, world, world, world, world);
    application.handle("busy", kStart);
    const std::string until = clockText(kStart.wall + std::chrono::minutes(minutes), kStart.wall);
    EXPECT_EQ(application.statusLine(kStart), "agent — agent AI đang bận, giữ tới " + until +
                                                  " / AI agent busy, holding until " + until)
        << text;
  }
}

}  // namespace
}  // namespace wexla::app
