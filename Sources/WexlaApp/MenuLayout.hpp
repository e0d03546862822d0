#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "MenuModel.hpp"

namespace wexla::app {

// A property of a menu entry as a tray host reads it: a text ('s'), a Boolean ('b', 0 or 1) or a
// number ('i'). Only the properties that differ from the host's defaults are given.
struct MenuProperty {
  std::string name;
  char type = 's';
  std::string text;
  std::int32_t number = 0;

  bool operator==(const MenuProperty&) const = default;
};
using MenuProperties = std::vector<MenuProperty>;

// An entry with the entries under it, as far down as a host asked.
struct MenuNode {
  std::int32_t id = 0;
  MenuProperties properties;
  std::vector<MenuNode> children;
};

// What the hosts must hear after the entries were shown anew: entries came or went (`layout`:
// they fetch it all again), or only labels, ticks and the like changed (`updated`, each entry
// with its properties now, and `removed`, the names of those gone back to their defaults).
struct MenuChange {
  bool layout = false;
  std::vector<std::pair<std::int32_t, MenuProperties>> updated;
  std::vector<std::pair<std::int32_t, std::vector<std::string>>> removed;
};

// The menu as a tray host numbers it. An entry's id is its place, depth first, counting from 1
// (0 is the root), which stays put while only labels and ticks change.
class MenuLayout {
 public:
  MenuChange show(std::vector<MenuItem> items);
  // Of the layout: it moves on only when entries come or go.
  std::uint32_t revision() const { return revision_; }

  bool exists(std::int32_t id) const { return id >= 0 && id <= count_; }
  // The entry with this id; nothing for the root or an id that does not exist.
  const MenuItem* entry(std::int32_t id) const;
  // Those of `names` (none meaning all) that the entry has; nothing for an unknown id.
  MenuProperties properties(std::int32_t id, const std::set<std::string>& names = {}) const;
  // `parent` and the entries under it, `depth` levels down (any negative: all of them); nothing
  // for an unknown id.
  std::optional<MenuNode> layout(std::int32_t parent, std::int32_t depth,
                                 const std::set<std::string>& names = {}) const;
  // The ids of `ids` that exist, each once, in the order first named: a host's list costs what
  // the menu holds, however long it is. None named means every one, the root first.
  std::vector<std::int32_t> known(const std::vector<std::int32_t>& ids) const;

 private:
  std::vector<MenuItem> items_;
  std::int32_t count_ = 0;  // of the entries, the last one's id
  std::uint32_t revision_ = 1;
};

}  // namespace wexla::app
