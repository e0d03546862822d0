#include "DBusMenu.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace wexla::app {

namespace {

constexpr const char* kInterface = "com.canonical.dbusmenu";

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

struct Property {
  const char* name;
  char type;  // 's', 'b' or 'i'
  std::string text;
  std::int32_t number = 0;
};

// The properties of an entry (nothing for the root) that differ from dbusmenu's defaults.
std::vector<Property> propertiesOf(const MenuItem* item) {
  if (item == nullptr) return {{"children-display", 's', "submenu"}};
  if (item->kind == MenuItem::Kind::separator) return {{"type", 's', "separator"}};
  std::vector<Property> properties{{"label", 's', labelOf(item->title)}};
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

int appendValue(sd_bus_message* m, const Property& property) {
  const char signature[2] = {property.type, '\0'};
  if (property.type == 's') return sd_bus_message_append(m, "v", "s", property.text.c_str());
  return sd_bus_message_append(m, "v", signature, property.number);
}

// The ids a host named; nothing is read once `r` holds an error.
std::vector<std::int32_t> readIds(sd_bus_message* m, int& r) {
  if (r < 0) return {};
  const void* data = nullptr;
  std::size_t size = 0;
  r = sd_bus_message_read_array(m, 'i', &data, &size);
  std::vector<std::int32_t> ids(r >= 0 ? size / sizeof(std::int32_t) : 0);
  if (!ids.empty()) std::memcpy(ids.data(), data, ids.size() * sizeof(std::int32_t));
  return ids;
}

// The names a host asked for, none meaning all; nothing is read once `r` holds an error.
std::vector<std::string> readNames(sd_bus_message* m, int& r) {
  if (r < 0) return {};
  char** strv = nullptr;
  r = sd_bus_message_read_strv(m, &strv);
  std::vector<std::string> names;
  for (char** name = strv; name != nullptr && *name != nullptr; ++name) {
    names.emplace_back(*name);
    std::free(*name);
  }
  std::free(strv);
  return names;
}

int appendProperties(sd_bus_message* m, const MenuItem* item,
                     const std::vector<std::string>& names) {
  int r = sd_bus_message_open_container(m, 'a', "{sv}");
  for (const Property& property : propertiesOf(item)) {
    if (r < 0) break;
    if (!names.empty() && std::find(names.begin(), names.end(), property.name) == names.end()) {
      continue;
    }
    r = sd_bus_message_open_container(m, 'e', "sv");
    if (r >= 0) r = sd_bus_message_append(m, "s", property.name);
    if (r >= 0) r = appendValue(m, property);
    if (r >= 0) r = sd_bus_message_close_container(m);
  }
  return r < 0 ? r : sd_bus_message_close_container(m);
}

// (ia{sv}av): the entry, then its children down to `depth` levels (-1: all of them).
int appendLayout(sd_bus_message* m, std::int32_t id, const MenuItem* item,
                 const std::vector<MenuItem>& children, int depth,
                 const std::vector<std::string>& names) {
  int r = sd_bus_message_open_container(m, 'r', "ia{sv}av");
  if (r >= 0) r = sd_bus_message_append(m, "i", id);
  if (r >= 0) r = appendProperties(m, item, names);
  if (r >= 0) r = sd_bus_message_open_container(m, 'a', "v");
  std::int32_t childId = id + 1;
  for (const MenuItem& child : children) {
    if (r < 0 || depth == 0) break;
    r = sd_bus_message_open_container(m, 'v', "(ia{sv}av)");
    if (r >= 0) r = appendLayout(m, childId, &child, child.items, depth - 1, names);
    if (r >= 0) r = sd_bus_message_close_container(m);
    childId += span(child);
  }
  if (r >= 0) r = sd_bus_message_close_container(m);
  return r < 0 ? r : sd_bus_message_close_container(m);
}

int noEntry(sd_bus_error* error, std::int32_t id) {
  return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "no menu entry %d", id);
}

}  // namespace

const sd_bus_vtable DBusMenu::kVTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("GetLayout", "iias", "u(ia{sv}av)", onGetLayout, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetGroupProperties", "aias", "a(ia{sv})", onGetGroupProperties,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetProperty", "is", "v", onGetProperty, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Event", "isvu", "", onEvent, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("EventGroup", "a(isvu)", "ai", onEventGroup, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("AboutToShow", "i", "b", onAboutToShow, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("AboutToShowGroup", "ai", "aiai", onAboutToShowGroup, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("Version", "u", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("TextDirection", "s", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconThemePath", "as", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_SIGNAL("ItemsPropertiesUpdated", "a(ia{sv})a(ias)", 0),
    SD_BUS_SIGNAL("LayoutUpdated", "ui", 0),
    SD_BUS_SIGNAL("ItemActivationRequested", "iu", 0),
    SD_BUS_VTABLE_END,
};

DBusMenu::DBusMenu(std::function<void(const MenuItem&)> chosen, std::function<void()> opening)
    : chosen_(std::move(chosen)), opening_(std::move(opening)) {}

int DBusMenu::attach(sd_bus* bus, const char* path) {
  sd_bus_slot* slot = nullptr;
  const int r = sd_bus_add_object_vtable(bus, &slot, path, kInterface, kVTable, this);
  if (r < 0) return r;
  slot_.reset(slot);
  bus_ = bus;
  path_ = path;
  return 0;
}

void DBusMenu::show(std::vector<MenuItem> items) {
  if (items == items_) return;
  items_ = std::move(items);
  ++revision_;
  if (bus_ != nullptr) {
    sd_bus_emit_signal(bus_, path_.c_str(), kInterface, "LayoutUpdated", "ui", revision_, 0);
  }
}

DBusMenu::Found DBusMenu::find(std::int32_t id) const {
  if (id == 0) return {nullptr, true};
  const MenuItem* item = id > 0 ? entryAt(items_, 1, id) : nullptr;
  return {item, item != nullptr};
}

void DBusMenu::choose(std::int32_t id, const char* event) {
  const Found found = find(id);
  if (std::strcmp(event, "clicked") != 0 || found.item == nullptr || !found.item->enabled) return;
  using Kind = MenuItem::Kind;
  const Kind kind = found.item->kind;
  if (kind == Kind::label || kind == Kind::separator || kind == Kind::submenu) return;
  // A copy: carrying it out changes the entries.
  const MenuItem item = *found.item;
  chosen_(item);
}

int DBusMenu::onGetLayout(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DBusMenu*>(userdata);
  std::int32_t parent = 0;
  std::int32_t depth = -1;
  int r = sd_bus_message_read(m, "ii", &parent, &depth);
  const std::vector<std::string> names = readNames(m, r);
  if (r < 0) return r;
  const Found found = self->find(parent);
  if (!found.exists) return noEntry(error, parent);
  sd_bus_message* raw = nullptr;
  r = sd_bus_message_new_method_return(m, &raw);
  const sd::Message reply(raw);
  if (r >= 0) r = sd_bus_message_append(raw, "u", self->revision_);
  if (r >= 0) {
    r = appendLayout(raw, parent, found.item, found.item ? found.item->items : self->items_, depth,
                     names);
  }
  return r < 0 ? r : sd_bus_send(nullptr, raw, nullptr);
}

int DBusMenu::onGetGroupProperties(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto* self = static_cast<DBusMenu*>(userdata);
  int r = 0;
  std::vector<std::int32_t> ids = readIds(m, r);
  const std::vector<std::string> names = readNames(m, r);
  if (r < 0) return r;
  if (ids.empty()) {  // all of them
    ids.push_back(0);
    for (std::int32_t id = 1; self->find(id).exists; ++id) ids.push_back(id);
  }
  sd_bus_message* raw = nullptr;
  r = sd_bus_message_new_method_return(m, &raw);
  const sd::Message reply(raw);
  if (r >= 0) r = sd_bus_message_open_container(raw, 'a', "(ia{sv})");
  for (const std::int32_t id : ids) {
    const Found found = self->find(id);
    if (r < 0) break;
    if (!found.exists) continue;
    r = sd_bus_message_open_container(raw, 'r', "ia{sv}");
    if (r >= 0) r = sd_bus_message_append(raw, "i", id);
    if (r >= 0) r = appendProperties(raw, found.item, names);
    if (r >= 0) r = sd_bus_message_close_container(raw);
  }
  if (r >= 0) r = sd_bus_message_close_container(raw);
  return r < 0 ? r : sd_bus_send(nullptr, raw, nullptr);
}

int DBusMenu::onGetProperty(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DBusMenu*>(userdata);
  std::int32_t id = 0;
  const char* name = nullptr;
  int r = sd_bus_message_read(m, "is", &id, &name);
  if (r < 0) return r;
  const Found found = self->find(id);
  if (!found.exists) return noEntry(error, id);
  for (const Property& property : propertiesOf(found.item)) {
    if (std::strcmp(property.name, name) != 0) continue;
    sd_bus_message* raw = nullptr;
    r = sd_bus_message_new_method_return(m, &raw);
    const sd::Message reply(raw);
    if (r >= 0) r = appendValue(raw, property);
    return r < 0 ? r : sd_bus_send(nullptr, raw, nullptr);
  }
  return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "entry %d has no property %s", id,
                           name);
}

int DBusMenu::onEvent(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DBusMenu*>(userdata);
  std::int32_t id = 0;
  const char* event = nullptr;
  int r = sd_bus_message_read(m, "is", &id, &event);
  if (r < 0) return r;
  if (!self->find(id).exists) return noEntry(error, id);
  const std::string what = event;
  // Answered first: carrying it out may take the helper's time, or end the application.
  r = sd_bus_reply_method_return(m, "");
  self->choose(id, what.c_str());
  return r;
}

int DBusMenu::onEventGroup(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto* self = static_cast<DBusMenu*>(userdata);
  std::vector<std::pair<std::int32_t, std::string>> events;
  std::vector<std::int32_t> unknown;
  int r = sd_bus_message_enter_container(m, 'a', "(isvu)");
  while (r >= 0 && (r = sd_bus_message_enter_container(m, 'r', "isvu")) > 0) {
    std::int32_t id = 0;
    const char* event = nullptr;
    r = sd_bus_message_read(m, "is", &id, &event);
    if (r >= 0 && self->find(id).exists) {
      events.emplace_back(id, event);
    } else if (r >= 0) {
      unknown.push_back(id);
    }
    if (r >= 0) r = sd_bus_message_skip(m, "vu");
    if (r >= 0) r = sd_bus_message_exit_container(m);
  }
  if (r < 0) return r;
  sd_bus_message* raw = nullptr;
  r = sd_bus_message_new_method_return(m, &raw);
  const sd::Message reply(raw);
  if (r >= 0) {
    r = sd_bus_message_append_array(raw, 'i', unknown.data(),
                                    unknown.size() * sizeof(std::int32_t));
  }
  if (r >= 0) r = sd_bus_send(nullptr, raw, nullptr);
  for (const auto& [id, event] : events) self->choose(id, event.c_str());
  return r;
}

int DBusMenu::onAboutToShow(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto* self = static_cast<DBusMenu*>(userdata);
  std::int32_t id = 0;
  const int r = sd_bus_message_read(m, "i", &id);
  if (r < 0) return r;
  const std::uint32_t before = self->revision_;
  self->opening_();
  return sd_bus_reply_method_return(m, "b", self->revision_ != before);
}

int DBusMenu::onAboutToShowGroup(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto* self = static_cast<DBusMenu*>(userdata);
  int r = 0;
  const std::vector<std::int32_t> ids = readIds(m, r);
  if (r < 0) return r;
  const std::uint32_t before = self->revision_;
  self->opening_();
  std::vector<std::int32_t> updated;
  std::vector<std::int32_t> unknown;
  if (self->revision_ != before) updated.push_back(0);
  for (const std::int32_t id : ids) {
    if (!self->find(id).exists) unknown.push_back(id);
  }
  sd_bus_message* raw = nullptr;
  r = sd_bus_message_new_method_return(m, &raw);
  const sd::Message reply(raw);
  for (const auto* list : {&updated, &unknown}) {
    if (r >= 0) {
      r = sd_bus_message_append_array(raw, 'i', list->data(), list->size() * sizeof(std::int32_t));
    }
  }
  return r < 0 ? r : sd_bus_send(nullptr, raw, nullptr);
}

int DBusMenu::onProperty(sd_bus*, const char*, const char*, const char* property,
                         sd_bus_message* reply, void*, sd_bus_error*) {
  if (std::strcmp(property, "Version") == 0) return sd_bus_message_append(reply, "u", 3u);
  if (std::strcmp(property, "TextDirection") == 0) return sd_bus_message_append(reply, "s", "ltr");
  if (std::strcmp(property, "Status") == 0) return sd_bus_message_append(reply, "s", "normal");
  return sd_bus_message_append(reply, "as", 0);  // IconThemePath: the entries have no icons
}

}  // namespace wexla::app
