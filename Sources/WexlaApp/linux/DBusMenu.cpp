#include "DBusMenu.hpp"

#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

namespace wexla::app {

namespace {

constexpr const char* kInterface = "com.canonical.dbusmenu";

int appendValue(sd_bus_message* m, const MenuProperty& property) {
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

// The names a host asked for, none meaning all; nothing is read once `r` holds an error. A set:
// however long the host's list, each entry's properties are looked up in it cheaply.
std::set<std::string> readNames(sd_bus_message* m, int& r) {
  if (r < 0) return {};
  char** strv = nullptr;
  r = sd_bus_message_read_strv(m, &strv);
  std::set<std::string> names;
  for (char** name = strv; name != nullptr && *name != nullptr; ++name) {
    names.emplace(*name);
    std::free(*name);
  }
  std::free(strv);
  return names;
}

int appendIds(sd_bus_message* m, const std::vector<std::int32_t>& ids) {
  return sd_bus_message_append_array(m, 'i', ids.data(), ids.size() * sizeof(std::int32_t));
}

// a{sv}
int appendProperties(sd_bus_message* m, const MenuProperties& properties) {
  int r = sd_bus_message_open_container(m, 'a', "{sv}");
  for (const MenuProperty& property : properties) {
    if (r < 0) break;
    r = sd_bus_message_open_container(m, 'e', "sv");
    if (r >= 0) r = sd_bus_message_append(m, "s", property.name.c_str());
    if (r >= 0) r = appendValue(m, property);
    if (r >= 0) r = sd_bus_message_close_container(m);
  }
  return r < 0 ? r : sd_bus_message_close_container(m);
}

// (ia{sv}) for each entry: a(ia{sv})
int appendEntries(sd_bus_message* m,
                  const std::vector<std::pair<std::int32_t, MenuProperties>>& entries) {
  int r = sd_bus_message_open_container(m, 'a', "(ia{sv})");
  for (const auto& [id, properties] : entries) {
    if (r < 0) break;
    r = sd_bus_message_open_container(m, 'r', "ia{sv}");
    if (r >= 0) r = sd_bus_message_append(m, "i", id);
    if (r >= 0) r = appendProperties(m, properties);
    if (r >= 0) r = sd_bus_message_close_container(m);
  }
  return r < 0 ? r : sd_bus_message_close_container(m);
}

// (ia{sv}av)
int appendNode(sd_bus_message* m, const MenuNode& node) {
  int r = sd_bus_message_open_container(m, 'r', "ia{sv}av");
  if (r >= 0) r = sd_bus_message_append(m, "i", node.id);
  if (r >= 0) r = appendProperties(m, node.properties);
  if (r >= 0) r = sd_bus_message_open_container(m, 'a', "v");
  for (const MenuNode& child : node.children) {
    if (r < 0) break;
    r = sd_bus_message_open_container(m, 'v', "(ia{sv}av)");
    if (r >= 0) r = appendNode(m, child);
    if (r >= 0) r = sd_bus_message_close_container(m);
  }
  if (r >= 0) r = sd_bus_message_close_container(m);
  return r < 0 ? r : sd_bus_message_close_container(m);
}

int noEntry(sd_bus_error* error, std::int32_t id) {
  return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "no menu entry %d", id);
}

int noneKnown(sd_bus_error* error) {
  return sd_bus_error_set_const(error, SD_BUS_ERROR_INVALID_ARGS, "none of these menu entries");
}

// Sends the reply that `fill` writes; a negative errno when it cannot.
template <typename Fill>
int reply(sd_bus_message* call, Fill fill) {
  sd_bus_message* raw = nullptr;
  int r = sd_bus_message_new_method_return(call, &raw);
  const sd::Message message(raw);
  if (r >= 0) r = fill(raw);
  return r < 0 ? r : sd_bus_send(nullptr, raw, nullptr);
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
  const MenuChange change = layout_.show(std::move(items));
  if (bus_ == nullptr) return;
  if (change.layout) {
    sd_bus_emit_signal(bus_, path_.c_str(), kInterface, "LayoutUpdated", "ui", layout_.revision(),
                       0);
    return;
  }
  if (change.updated.empty() && change.removed.empty()) return;
  sd_bus_message* raw = nullptr;
  int r =
      sd_bus_message_new_signal(bus_, &raw, path_.c_str(), kInterface, "ItemsPropertiesUpdated");
  const sd::Message signal(raw);
  if (r >= 0) r = appendEntries(raw, change.updated);
  if (r >= 0) r = sd_bus_message_open_container(raw, 'a', "(ias)");
  for (const auto& [id, names] : change.removed) {
    if (r < 0) break;
    r = sd_bus_message_open_container(raw, 'r', "ias");
    if (r >= 0) r = sd_bus_message_append(raw, "i", id);
    if (r >= 0) r = sd_bus_message_open_container(raw, 'a', "s");
    for (const std::string& name : names) {
      if (r >= 0) r = sd_bus_message_append(raw, "s", name.c_str());
    }
    if (r >= 0) r = sd_bus_message_close_container(raw);
    if (r >= 0) r = sd_bus_message_close_container(raw);
  }
  if (r >= 0) r = sd_bus_message_close_container(raw);
  if (r >= 0) sd_bus_send(bus_, raw, nullptr);
}

void DBusMenu::choose(const std::vector<std::pair<std::int32_t, std::string>>& events) {
  std::vector<std::int32_t> clicked;
  for (const auto& [id, event] : events) {
    if (event == "clicked") clicked.push_back(id);
  }
  if (clicked.empty()) return;
  // Copies, taken before any is carried out: carrying one out changes the entries.
  std::vector<MenuItem> items;
  for (const std::int32_t id : layout_.known(clicked)) {
    if (const MenuItem* item = layout_.entry(id)) items.push_back(*item);
  }
  for (const MenuItem& item : items) chosen_(item);
}

int DBusMenu::onGetLayout(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DBusMenu*>(userdata);
  std::int32_t parent = 0;
  std::int32_t depth = -1;
  int r = sd_bus_message_read(m, "ii", &parent, &depth);
  const std::set<std::string> names = readNames(m, r);
  if (r < 0) return r;
  const std::optional<MenuNode> node = self->layout_.layout(parent, depth, names);
  if (!node) return noEntry(error, parent);
  return reply(m, [&](sd_bus_message* raw) {
    const int appended = sd_bus_message_append(raw, "u", self->layout_.revision());
    return appended < 0 ? appended : appendNode(raw, *node);
  });
}

int DBusMenu::onGetGroupProperties(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto* self = static_cast<DBusMenu*>(userdata);
  int r = 0;
  const std::vector<std::int32_t> ids = readIds(m, r);
  const std::set<std::string> names = readNames(m, r);
  if (r < 0) return r;
  std::vector<std::pair<std::int32_t, MenuProperties>> entries;
  for (const std::int32_t id : self->layout_.known(ids)) {
    entries.emplace_back(id, self->layout_.properties(id, names));
  }
  return reply(m, [&](sd_bus_message* raw) { return appendEntries(raw, entries); });
}

int DBusMenu::onGetProperty(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DBusMenu*>(userdata);
  std::int32_t id = 0;
  const char* name = nullptr;
  const int r = sd_bus_message_read(m, "is", &id, &name);
  if (r < 0) return r;
  if (!self->layout_.exists(id)) return noEntry(error, id);
  const MenuProperties found = self->layout_.properties(id, {name});
  if (found.empty()) {
    return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "entry %d has no property %s", id,
                             name);
  }
  return reply(m, [&](sd_bus_message* raw) { return appendValue(raw, found.front()); });
}

int DBusMenu::onEvent(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DBusMenu*>(userdata);
  std::int32_t id = 0;
  const char* event = nullptr;
  int r = sd_bus_message_read(m, "is", &id, &event);
  if (r < 0) return r;
  if (!self->layout_.exists(id)) return noEntry(error, id);
  const std::vector<std::pair<std::int32_t, std::string>> events{{id, event}};
  // Answered first: carrying it out may take the helper's time, or end the application.
  r = sd_bus_reply_method_return(m, "");
  self->choose(events);
  return r;
}

int DBusMenu::onEventGroup(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DBusMenu*>(userdata);
  std::vector<std::pair<std::int32_t, std::string>> events;
  std::vector<std::int32_t> unknown;
  int r = sd_bus_message_enter_container(m, 'a', "(isvu)");
  while (r >= 0 && (r = sd_bus_message_enter_container(m, 'r', "isvu")) > 0) {
    std::int32_t id = 0;
    const char* event = nullptr;
    r = sd_bus_message_read(m, "is", &id, &event);
    if (r >= 0 && self->layout_.exists(id)) {
      events.emplace_back(id, event);
    } else if (r >= 0) {
      unknown.push_back(id);
    }
    if (r >= 0) r = sd_bus_message_skip(m, "vu");
    if (r >= 0) r = sd_bus_message_exit_container(m);
  }
  if (r < 0) return r;
  if (events.empty()) return noneKnown(error);
  r = reply(m, [&](sd_bus_message* raw) { return appendIds(raw, unknown); });
  self->choose(events);
  return r;
}

int DBusMenu::onAboutToShow(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DBusMenu*>(userdata);
  std::int32_t id = 0;
  const int r = sd_bus_message_read(m, "i", &id);
  if (r < 0) return r;
  if (!self->layout_.exists(id)) return noEntry(error, id);
  const std::uint32_t before = self->layout_.revision();
  self->opening_();
  return sd_bus_reply_method_return(m, "b", self->layout_.revision() != before);
}

int DBusMenu::onAboutToShowGroup(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* self = static_cast<DBusMenu*>(userdata);
  int r = 0;
  const std::vector<std::int32_t> ids = readIds(m, r);
  if (r < 0) return r;
  std::vector<std::int32_t> unknown;
  for (const std::int32_t id : ids) {
    if (!self->layout_.exists(id)) unknown.push_back(id);
  }
  if (unknown.size() == ids.size()) return noneKnown(error);
  const std::uint32_t before = self->layout_.revision();
  self->opening_();
  std::vector<std::int32_t> updated;
  if (self->layout_.revision() != before) updated.push_back(0);
  return reply(m, [&](sd_bus_message* raw) {
    const int appended = appendIds(raw, updated);
    return appended < 0 ? appended : appendIds(raw, unknown);
  });
}

int DBusMenu::onProperty(sd_bus*, const char*, const char*, const char* property,
                         sd_bus_message* reply, void*, sd_bus_error*) {
  if (std::strcmp(property, "Version") == 0) return sd_bus_message_append(reply, "u", 3u);
  if (std::strcmp(property, "TextDirection") == 0) return sd_bus_message_append(reply, "s", "ltr");
  if (std::strcmp(property, "Status") == 0) return sd_bus_message_append(reply, "s", "normal");
  return sd_bus_message_append(reply, "as", 0);  // IconThemePath: the entries have no icons
}

}  // namespace wexla::app
