#include <gtest/gtest.h>

#include "FakeWorld.hpp"
#include "Notices.hpp"

namespace wexla::app {
namespace {

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

}  // namespace
}  // namespace wexla::app
