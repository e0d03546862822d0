// The tray icon and the notices on the whole road, with a stand-in desktop (the tray's watcher
// and a notification server) on the private session bus. The test reads the icon and its menu
// over the bus as a tray host does, and clicks as a person would.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <map>

#include "Files.hpp"
#include "WholeRoad.hpp"

namespace wexla::test {
namespace {

const std::string kTrouble =
    "Wexla không giữ được máy thức / Wexla cannot keep the machine awake | helper không chạy — máy "
    "vẫn có thể ngủ / helper not running — the machine may sleep";

// One entry of the menu as dbusmenu carries it.
struct Entry {
  std::int32_t id = 0;
  std::map<std::string, std::string> properties;  // each value as text
  std::vector<Entry> children;
};

int readEntry(sd_bus_message* m, Entry& entry) {
  int r = sd_bus_message_enter_container(m, 'r', "ia{sv}av");
  if (r >= 0) r = sd_bus_message_read(m, "i", &entry.id);
  if (r >= 0) r = sd_bus_message_enter_container(m, 'a', "{sv}");
  while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* key = nullptr;
    const char* type = nullptr;
    const char* text = nullptr;
    int number = 0;
    r = sd_bus_message_read(m, "s", &key);
    if (r >= 0) r = sd_bus_message_peek_type(m, nullptr, &type);
    if (r >= 0) r = sd_bus_message_enter_container(m, 'v', type);
    if (r >= 0 && type[0] == 's') r = sd_bus_message_read(m, "s", &text);
    if (r >= 0 && type[0] != 's') r = sd_bus_message_read_basic(m, type[0], &number);
    if (r >= 0) entry.properties[key] = text != nullptr ? text : std::to_string(number);
    if (r >= 0) r = sd_bus_message_exit_container(m);
    if (r >= 0) r = sd_bus_message_exit_container(m);
  }
  if (r >= 0) r = sd_bus_message_exit_container(m);
  if (r >= 0) r = sd_bus_message_enter_container(m, 'a', "v");
  while (r >= 0 && (r = sd_bus_message_enter_container(m, 'v', "(ia{sv}av)")) > 0) {
    r = readEntry(m, entry.children.emplace_back());
    if (r >= 0) r = sd_bus_message_exit_container(m);
  }
  if (r >= 0) r = sd_bus_message_exit_container(m);
  return r < 0 ? r : sd_bus_message_exit_container(m);
}

// The entries as one line: each label ("-" for a separator), ☐ or ☑ before a tick box, in
// parentheses when it cannot be chosen, and ">N" after a submenu of N entries.
std::string render(const std::vector<Entry>& entries) {
  std::string line;
  for (const Entry& entry : entries) {
    auto p = entry.properties;
    std::string text = p["type"] == "separator" ? "-" : p["label"];
    if (p["toggle-type"] == "checkmark") text = (p["toggle-state"] == "1" ? "☑" : "☐") + text;
    if (p["enabled"] == "0") text = "(" + text + ")";
    if (p["children-display"] == "submenu") text += " >" + std::to_string(entry.children.size());
    line += (line.empty() ? "" : ", ") + text;
  }
  return line;
}

class Tray : public WholeRoad {
 protected:
  void SetUp() override {
    startRoad();
    bus_ = session_->connect();
    // What the icon and its menu announce, counted by signal.
    for (const char* interface : {"org.kde.StatusNotifierItem", "com.canonical.dbusmenu"}) {
      const std::string rule = std::string("type='signal',interface='") + interface + "'";
      ASSERT_GE(
          sd_bus_add_match(
              bus_.get(), nullptr, rule.c_str(),
              [](sd_bus_message* m, void* counts, sd_bus_error*) {
                ++(*static_cast<std::map<std::string, int>*>(counts))[sd_bus_message_get_member(m)];
                return 0;
              },
              &signals_),
          0);
    }
  }

  void startDesktop() {
    desktop_ = start({WEXLA_STANDIN_DESKTOP_PATH});
    ASSERT_EQ(desktop_->readLine(10s), "ready");
  }
  // The application's connection, which the item is registered as.
  std::string item() const { return session_->owner("dev.wexla.app"); }

  // A property of the item as text; a Boolean as 0 or 1, the tooltip as "ICON TITLE: TEXT".
  std::string property(const char* name) {
    const std::map<std::string, const char*> types{
        {"ItemIsMenu", "b"}, {"Menu", "o"}, {"ToolTip", "(sa(iiay)ss)"}};
    const char* type = types.contains(name) ? types.at(name) : "s";
    sd_bus_message* raw = nullptr;
    if (sd_bus_get_property(bus_.get(), item().c_str(), "/StatusNotifierItem",
                            "org.kde.StatusNotifierItem", name, nullptr, &raw, type) < 0) {
      return "(none)";
    }
    const sd::Message reply(raw);
    const char *icon = "", *title = "", *text = "";
    int flag = 0;
    if (type[0] == 'b')
      return sd_bus_message_read(raw, "b", &flag) >= 0 ? std::to_string(flag) : "";
    if (type[0] != '(') return sd_bus_message_read(raw, type, &text) >= 0 ? text : "";
    if (sd_bus_message_enter_container(raw, 'r', "sa(iiay)ss") >= 0 &&
        sd_bus_message_read(raw, "s", &icon) >= 0 && sd_bus_message_skip(raw, "a(iiay)") >= 0) {
      sd_bus_message_read(raw, "ss", &title, &text);
    }
    return std::string(icon) + " " + title + ": " + text;
  }

  std::vector<Entry> menu() {
    sd_bus_message* raw = nullptr;
    Entry root;
    std::uint32_t revision = 0;
    if (sd_bus_call_method(bus_.get(), item().c_str(), "/MenuBar", "com.canonical.dbusmenu",
                           "GetLayout", nullptr, &raw, "iias", 0, -1, 0) >= 0) {
      const sd::Message reply(raw);
      EXPECT_GE(sd_bus_message_read(raw, "u", &revision), 0);
      EXPECT_GE(readEntry(raw, root), 0);
    }
    return root.children;
  }

  // Clicks on each of `ids` in one group, as a host sends what piled up; 0 or a negative errno.
  int clickGroup(const std::vector<std::int32_t>& ids) {
    sd_bus_message* raw = nullptr;
    int r = sd_bus_message_new_method_call(bus_.get(), &raw, item().c_str(), "/MenuBar",
                                           "com.canonical.dbusmenu", "EventGroup");
    const sd::Message call(raw);
    if (r >= 0) r = sd_bus_message_open_container(raw, 'a', "(isvu)");
    for (const std::int32_t id : ids) {
      if (r >= 0) r = sd_bus_message_append(raw, "(isvu)", id, "clicked", "i", 0, 0u);
    }
    if (r >= 0) r = sd_bus_message_close_container(raw);
    if (r >= 0) r = sd_bus_call(bus_.get(), raw, 0, nullptr, nullptr);
    return r < 0 ? r : 0;
  }

  // Keeps receiving the signals until `done` holds or the limit passes; whether it held.
  bool pumpUntil(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      if (sd_bus_process(bus_.get(), nullptr) == 0) sd_bus_wait(bus_.get(), 20'000);
    }
    return done();
  }
  // Takes in what was announced so far, and forgets it.
  void forgetSignals() {
    pumpUntil(300ms, [] { return false; });
    signals_.clear();
  }

  sd::Bus bus_;
  std::map<std::string, int> signals_;
  std::unique_ptr<ChildProcess> desktop_;
};

// The application starts before the tray's watcher, and registers once the watcher comes.
TEST_F(Tray, TheIconShowsTheStateItsMenuHoldsTheMachineAndTroubleIsToldOnce) {
  startApp();
  startDesktop();
  EXPECT_EQ(desktop_->readLine(3s), "registered " + item());
  const std::string off = "off — không giữ máy thức / not holding";
  const std::pair<const char*, std::string> properties[] = {
      {"Id", "wexla"},
      {"Category", "ApplicationStatus"},
      {"Status", "Passive"},
      {"IconName", "wexla-idle"},
      {"AttentionIconName", "wexla-trouble"},
      {"Title", "Wexla"},
      {"ToolTip", "wexla-idle Wexla: " + off},
      {"ItemIsMenu", "1"},
      {"Menu", "/MenuBar"},
  };
  for (const auto& [name, value] : properties) EXPECT_EQ(property(name), value) << name;
  EXPECT_TRUE(std::filesystem::exists(property("IconThemePath") +
                                      "/hicolor/scalable/status/wexla-held.svg"));

  // The Mac's entries; "2 hours" holds the machine for two hours, clicked thrice in one group.
  std::vector<Entry> entries = menu();
  EXPECT_EQ(render(entries), "(" + off +
                                 "), -, ☐Giữ máy thức / Keep awake, 1 giờ / 1 hour, 2 giờ / 2 "
                                 "hours, (Tắt / Off), -, Hook cho agent AI / AI agent hooks >23, "
                                 "-, Thoát Wexla / Quit Wexla");
  ASSERT_EQ(entries.size(), 10u);
  EXPECT_EQ(clickGroup({entries[4].id, entries[4].id, entries[4].id}), 0);
  EXPECT_EQ(logind_->readLine(2s), lockedBy(*helper_));
  EXPECT_NE(wexlactl({"status"}).find("còn 2h00m / holding until"), std::string::npos);
  EXPECT_TRUE(
      pumpUntil(2s, [&] { return signals_["NewIcon"] == 1 && signals_["NewStatus"] == 1; }));
  EXPECT_EQ(property("IconName"), "wexla-held");
  EXPECT_EQ(property("Status"), "Active");
  EXPECT_TRUE(render(menu()).starts_with("(timer — "));

  // A flood of agent heartbeats changes the icon's texts once, not once per text.
  forgetSignals();
  post(std::vector<std::string>(2000, "busy"));
  pumpUntil(1500ms, [] { return false; });
  for (const char* name : {"NewToolTip", "ItemsPropertiesUpdated"}) {
    EXPECT_GE(signals_[name], 1) << name;
    EXPECT_LE(signals_[name], 2) << name << ": one, or two across a minute";
  }
  for (const char* name : {"NewIcon", "NewStatus", "NewTitle", "LayoutUpdated"}) {
    EXPECT_EQ(signals_[name], 0) << name;
  }

  // The helper goes away: told once; told again once it is back.
  helper_->signal(SIGKILL);
  EXPECT_EQ(desktop_->readLine(10s), "notify 0 wexla-trouble.svg | " + kTrouble);
  // The icon is redrawn a moment after the notice goes out.
  EXPECT_TRUE(pumpUntil(2s, [&] { return property("IconName") == "wexla-trouble"; }));
  EXPECT_EQ(property("Status"), "NeedsAttention");
  startHelper();
  const std::optional<std::string> back = desktop_->readLine(32s);
  EXPECT_TRUE(back && back->starts_with("notify 1 wexla-held.svg | Wexla giữ máy thức trở lại / "
                                        "Wexla holds the machine awake again | timer — "))
      << back.value_or("(nothing)");
}

// A host's pile of clicks starts a run per entry and a few runs at most, each told once (so the
// notices count the runs) even with notices turned off in the settings, which silence only
// trouble; a group or a menu that names no entry of ours is an error.
TEST_F(Tray, AGroupOfClicksRunsAFewWexlactlAndNamesOfNoEntryErr) {
  writeFile(dir_.path() / ".config/wexla/settings.json", R"({"notifications": false})");
  startDesktop();
  startApp();
  EXPECT_EQ(desktop_->readLine(3s), "registered " + item());
  const std::vector<Entry> entries = menu();
  std::vector<std::int32_t> hooks;
  for (const Entry& hook : entries.at(7).children) {
    if (hook.properties.contains("label")) hooks.push_back(hook.id);
  }
  ASSERT_EQ(hooks.size(), 16u);
  EXPECT_EQ(clickGroup({}), -EINVAL);
  EXPECT_EQ(clickGroup({999, -5}), -EINVAL);
  EXPECT_EQ(sd_bus_call_method(bus_.get(), item().c_str(), "/MenuBar", "com.canonical.dbusmenu",
                               "AboutToShowGroup", nullptr, nullptr, "ai", 1, 999),
            -EINVAL);
  // 300 clicks on Uninstall Claude Code hooks, then 300 over every hook entry.
  std::vector<std::int32_t> spread;
  while (spread.size() < 300) spread.push_back(hooks[spread.size() % hooks.size()]);
  for (const auto& [ids, runs] :
       {std::pair(std::vector<std::int32_t>(300, hooks[1]), 1u), std::pair(spread, 4u)}) {
    ASSERT_EQ(clickGroup(ids), 0);
    unsigned notices = 0;
    while (const auto line = desktop_->readLine(1500ms)) notices += line->starts_with("notify 0 ");
    EXPECT_EQ(notices, runs);
  }
  EXPECT_EQ(wexlactl({"on"}), "on — giữ máy thức tới khi tắt / holding until off\n");
  EXPECT_EQ(logind_->readLine(2s), lockedBy(*helper_));
  helper_->signal(SIGKILL);
  EXPECT_TRUE(pumpUntil(5s, [&] { return property("IconName") == "wexla-trouble"; }));
  EXPECT_EQ(desktop_->readLine(3s), std::nullopt);
}

}  // namespace
}  // namespace wexla::test
