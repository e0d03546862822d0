#include "MenuLayout.hpp"

#include <algorithm>
#include <set>

namespace wexla::app {

namespace {

// An entry and everything under it, as ids count them.
std::int32_t span(const MenuItem& item) {
  std::int32_t count = 1;
  for (const MenuItem& child : item.items) count += span(child);
  return count;
}

// The entry with `id` among `items`, whose first has the id `first`.
const MenuItem* entryAt(const std::vector<MenuItem>& items, std::int32_t first, std::int32_t id) {
  for (const MenuItem& item : items) {
    if (first == id) return &item;
    const std::int32_t next = first + span(item);
    if (id < next) return entryAt(item.items, first + 1, id);
    first = next;
  }
  return nullptr;
}

// A tick box for the entries that turn something on and off: what is ticked, and what would
// be ticked once chosen (Keep awake offers `on` while it is not ticked).
bool drawsCheckMark(const MenuItem& item) {
  return item.checked || item.kind == MenuItem::Kind::startAtLogin ||
         (item.kind == MenuItem::Kind::command && item.argument == "on");
}

// Hosts take "_" as the mark of the next letter's shortcut; "__" shows one "_".
std::string labelOf(const std::string& title) {
  std::string label;
  for (const char c : title) label += c == '_' ? std::string("__") : std::string(1, c);
  return label;
}

// The properties of an entry (nothing for the root) that differ from the hosts' defaults.
MenuProperties propertiesOf(const MenuItem* item) {
  if (item == nullptr) return {{"children-display", 's', "submenu"}};
  if (item->kind == MenuItem::Kind::separator) return {{"type", 's', "separator"}};
  MenuProperties properties{{"label", 's', labelOf(item->title)}};
  if (!item->enabled) properties.push_back({"enabled", 'b', {}, 0});
  if (drawsCheckMark(*item)) {
    properties.push_back({"toggle-type", 's', "checkmark"});
    properties.push_back({"toggle-state", 'i', {}, item->checked ? 1 : 0});
  }
  if (item->kind == MenuItem::Kind::submenu) {
    properties.push_back({"children-display", 's', "submenu"});
  }
  return properties;
}

MenuProperties among(MenuProperties properties, const std::set<std::string>& names) {
  if (names.empty()) return properties;
  std::erase_if(properties,
                [&](const MenuProperty& property) { return !names.contains(property.name); });
  return properties;
}

MenuNode nodeOf(std::int32_t id, const MenuItem* item, const std::vector<MenuItem>& children,
                std::int32_t depth, const std::set<std::string>& names) {
  MenuNode node{id, among(propertiesOf(item), names), {}};
  if (depth == 0) return node;
  std::int32_t childId = id + 1;
  for (const MenuItem& child : children) {
    node.children.push_back(
        nodeOf(childId, &child, child.items, depth < 0 ? depth : depth - 1, names));
    childId += span(child);
  }
  return node;
}

// Whether the same ids stand for the same sort of entry: a host then keeps what it built.
bool sameShape(const std::vector<MenuItem>& a, const std::vector<MenuItem>& b) {
  const auto sort = [](const MenuItem& item) {
    return item.kind == MenuItem::Kind::separator || item.kind == MenuItem::Kind::submenu
               ? item.kind
               : MenuItem::Kind::label;
  };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](const auto& x, const auto& y) {
    return sort(x) == sort(y) && sameShape(x.items, y.items);
  });
}

// The entries of the same shape, walked in step; `next` is the id of the first.
void compare(const std::vector<MenuItem>& before, const std::vector<MenuItem>& after,
             std::int32_t& next, MenuChange& change) {
  for (std::size_t i = 0; i < after.size(); ++i) {
    const std::int32_t id = next++;
    const MenuProperties was = propertiesOf(&before[i]);
    MenuProperties now = propertiesOf(&after[i]);
    std::vector<std::string> gone;
    for (const MenuProperty& old : was) {
      if (std::none_of(now.begin(), now.end(),
                       [&](const MenuProperty& p) { return p.name == old.name; })) {
        gone.push_back(old.name);
      }
    }
    if (!gone.empty()) change.removed.emplace_back(id, std::move(gone));
    if (was != now) change.updated.emplace_back(id, std::move(now));
    compare(before[i].items, after[i].items, next, change);
  }
}

}  // namespace

MenuChange MenuLayout::show(std::vector<MenuItem> items) {
  MenuChange change;
  if (!sameShape(items_, items)) {
    change.layout = true;
    ++revision_;
  } else {
    std::int32_t first = 1;
    compare(items_, items, first, change);
  }
  items_ = std::move(items);
  count_ = 0;
  for (const MenuItem& item : items_) count_ += span(item);
  return change;
}

const MenuItem* MenuLayout::entry(std::int32_t id) const {
  return id > 0 ? entryAt(items_, 1, id) : nullptr;
}

MenuProperties MenuLayout::properties(std::int32_t id, const std::set<std::string>& names) const {
  if (!exists(id)) return {};
  return among(propertiesOf(entry(id)), names);
}

std::optional<MenuNode> MenuLayout::layout(std::int32_t parent, std::int32_t depth,
                                           const std::set<std::string>& names) const {
  if (!exists(parent)) return std::nullopt;
  const MenuItem* item = entry(parent);
  return nodeOf(parent, item, item != nullptr ? item->items : items_, depth < 0 ? -1 : depth,
                names);
}

std::vector<std::int32_t> MenuLayout::known(const std::vector<std::int32_t>& ids) const {
  std::vector<std::int32_t> found;
  if (ids.empty()) {
    for (std::int32_t id = 0; exists(id); ++id) found.push_back(id);
    return found;
  }
  std::set<std::int32_t> seen;
  for (const std::int32_t id : ids) {
    if (exists(id) && seen.insert(id).second) found.push_back(id);
  }
  return found;
}

}  // namespace wexla::app
