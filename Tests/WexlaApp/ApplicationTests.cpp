#include <gtest/gtest.h>

#include "FakeWorld.hpp"

namespace wexla::app {
namespace {

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

}  // namespace
}  // namespace wexla::app
