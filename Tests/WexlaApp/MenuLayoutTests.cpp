#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "MenuLayout.hpp"

namespace wexla::app {
namespace {

using Kind = MenuItem::Kind;

// Ids 1 to 8: a greyed label, a separator, a tick box, a submenu of three (5, 6, 7), quit.
std::vector<MenuItem> sample() {
  std::vector<MenuItem> items(5);
  items[0].title = "a_b";
  items[0].enabled = false;
  items[1].kind = Kind::separator;
  items[2] = {Kind::command, "Keep", "on", true, false, {}};
  items[3] = {Kind::submenu, "Sub", "", true, false, std::vector<MenuItem>(3)};
  items[3].items[1].kind = Kind::separator;
  items[4].title = "Quit";
  return items;
}

// Each property as name=value, a blank between.
std::string text(const MenuProperties& properties) {
  std::string line;
  for (const MenuProperty& p : properties) {
    line += (line.empty() ? "" : " ") + p.name + "=" +
            (p.type == 's' ? p.text : std::to_string(p.number));
  }
  return line;
}

// Each id, its children in parentheses.
std::string text(const MenuNode& node) {
  std::string line = std::to_string(node.id);
  for (std::size_t i = 0; i < node.children.size(); ++i) {
    line += (i == 0 ? "(" : " ") + text(node.children[i]);
  }
  return node.children.empty() ? line : line + ")";
}

TEST(MenuLayout, AHostGetsEntriesAsDeepAsItAsks) {
  MenuLayout layout;
  layout.show(sample());
  const std::string all = "0(1 2 3 4(5 6 7) 8)";
  const std::tuple<std::int32_t, std::int32_t, std::string> rows[] = {
      {0, -1, all},           {0, INT_MIN, all},  {0, 2, all}, {0, 0, "0"},
      {0, 1, "0(1 2 3 4 8)"}, {4, 1, "4(5 6 7)"}, {4, 0, "4"}, {7, -1, "7"},
      {9, -1, "(none)"},      {-1, 0, "(none)"},
  };
  for (const auto& [parent, depth, expected] : rows) {
    const auto node = layout.layout(parent, depth);
    EXPECT_EQ(node ? text(*node) : "(none)", expected) << parent << " at depth " << depth;
  }
  const std::tuple<std::int32_t, std::set<std::string>, std::string> properties[] = {
      {0, {}, "children-display=submenu"},
      {1, {}, "label=a__b enabled=0"},
      {2, {}, "type=separator"},
      {3, {}, "label=Keep toggle-type=checkmark toggle-state=0"},
      {4, {"label", "icon-name"}, "label=Sub"},
      {9, {}, ""},
  };
  for (const auto& [id, names, expected] : properties) {
    EXPECT_EQ(text(layout.properties(id, names)), expected) << id;
  }
  EXPECT_EQ(layout.known({}), (std::vector<std::int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(layout.known(std::vector<std::int32_t>(100000, 3)), std::vector<std::int32_t>{3});
  EXPECT_EQ(layout.known({5, 9, -1, 3, 5}), (std::vector<std::int32_t>{5, 3}));
}

// What the hosts hear when the entries are shown anew: one row a change of the sample.
TEST(MenuLayout, OnlyEntriesThatComeOrGoChangeTheLayout) {
  const std::pair<std::function<void(std::vector<MenuItem>&)>, std::string> rows[] = {
      {[](auto&) {}, ""},
      {[](auto& items) { items[0].title = "c"; }, "1{label=c enabled=0}"},
      {[](auto& items) { items[2] = {Kind::endManual, "Keep", "", true, true, {}}; },
       "3{label=Keep toggle-type=checkmark toggle-state=1}"},
      {[](auto& items) { items[0].enabled = true; }, "1{label=a__b} -1{enabled}"},
      {[](auto& items) { items[3].items[2].title = "z"; }, "7{label=z}"},
      {[](auto& items) { items[3].items.emplace_back(); }, "layout"},
      {[](auto& items) { items.pop_back(); }, "layout"},
      {[](auto& items) { items[1].kind = Kind::label; }, "layout"},
  };
  for (const auto& [edit, expected] : rows) {
    MenuLayout layout;
    layout.show(sample());
    std::vector<MenuItem> items = sample();
    edit(items);
    const std::uint32_t revision = layout.revision();
    const MenuChange change = layout.show(items);
    std::string line = change.layout ? "layout" : "";
    for (const auto& [id, properties] : change.updated) {
      line += std::to_string(id) + "{" + text(properties) + "}";
    }
    for (const auto& [id, names] : change.removed) {
      for (const std::string& name : names) line += " -" + std::to_string(id) + "{" + name + "}";
    }
    EXPECT_EQ(line, expected);
    EXPECT_EQ(layout.revision(), revision + (change.layout ? 1u : 0u)) << expected;
  }
}

}  // namespace
}  // namespace wexla::app
