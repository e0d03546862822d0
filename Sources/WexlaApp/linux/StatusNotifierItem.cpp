#include "StatusNotifierItem.hpp"

#include <sys/syslog.h>

#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "AppLog.hpp"
#include "NameOwner.hpp"

namespace wexla::app {

namespace {

constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kMenuPath = "/MenuBar";
constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr int kRetries = 5;
constexpr std::chrono::seconds kRetryAfter{1};

void emit(sd_bus* bus, const char* member) {
  sd_bus_emit_signal(bus, kItemPath, kItemInterface, member, "");
}

// What the item shows in each state: its icon in the hicolor theme, and its status, by which
// hosts hide a passive item and raise one that needs attention.
struct Look {
  const char* icon;
  const char* status;
};

Look lookOf(Indicator indicator) {
  switch (indicator) {
    case Indicator::held:
      return {"wexla-held", "Active"};
    case Indicator::trouble:
      return {"wexla-trouble", "NeedsAttention"};
    default:
      return {"wexla-idle", "Passive"};
  }
}

}  // namespace

const char* iconName(Indicator indicator) { return lookOf(indicator).icon; }

std::string iconThemePath() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  const std::filesystem::path folder = program.parent_path();
  for (const auto& themes : {folder / ".." / "share" / "icons", folder / "icons"}) {
    if (std::filesystem::exists(themes / "hicolor/scalable/status/wexla-idle.svg", error)) {
      return std::filesystem::weakly_canonical(themes, error).string();
    }
  }
  return {};
}

const sd_bus_vtable StatusNotifierItem::kVTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Category", "s", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Id", "s", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Title", "s", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", onProperty, 0, 0),
    SD_BUS_PROPERTY("WindowId", "i", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconName", "s", onProperty, 0, 0),
    SD_BUS_PROPERTY("IconThemePath", "s", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconPixmap", "a(iiay)", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("OverlayIconName", "s", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("OverlayIconPixmap", "a(iiay)", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionIconName", "s", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionIconPixmap", "a(iiay)", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionMovieName", "s", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", onProperty, 0, 0),
    SD_BUS_PROPERTY("ItemIsMenu", "b", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Menu", "o", onProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    // The menu is all there is: a click on the icon opens it, the rest does nothing.
    SD_BUS_METHOD("ContextMenu", "ii", "", onIgnored, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Activate", "ii", "", onIgnored, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SecondaryActivate", "ii", "", onIgnored, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Scroll", "is", "", onIgnored, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("NewTitle", "", 0),
    SD_BUS_SIGNAL("NewIcon", "", 0),
    SD_BUS_SIGNAL("NewAttentionIcon", "", 0),
    SD_BUS_SIGNAL("NewOverlayIcon", "", 0),
    SD_BUS_SIGNAL("NewToolTip", "", 0),
    SD_BUS_SIGNAL("NewStatus", "s", 0),
    SD_BUS_VTABLE_END,
};

StatusNotifierItem::StatusNotifierItem(sd_bus* bus, sd_event* event, TrayOwner& owner,
                                       std::string themePath)
    : bus_(bus),
      event_(event),
      owner_(owner),
      themePath_(std::move(themePath)),
      menu_([this](const MenuItem& item) { owner_.choose(item); }, [this] { refresh(); }) {}

int StatusNotifierItem::start() {
  sd_bus_slot* slot = nullptr;
  int r = sd_bus_add_object_vtable(bus_, &slot, kItemPath, kItemInterface, kVTable, this);
  if (r < 0) return r;
  item_.reset(slot);
  if ((r = menu_.attach(bus_, kMenuPath)) < 0) return r;
  sd_event_source* source = nullptr;
  if ((r = sd_event_add_defer(event_, &source, &onRefresh, this)) < 0) return r;
  refresh_.reset(source);
  sd_event_source_set_priority(source, SD_EVENT_PRIORITY_IDLE);
  sd_event_source_set_enabled(source, SD_EVENT_OFF);
  if ((r = sd_event_add_time(event_, &source, CLOCK_MONOTONIC, 0, 0, &onRetry, this)) < 0) {
    return r;
  }
  retry_.reset(source);
  sd_event_source_set_enabled(source, SD_EVENT_OFF);
  refresh();
  const std::string rule = nameOwnerRule(kWatcherName);
  if ((r = sd_bus_add_match_async(bus_, &slot, rule.c_str(), &onWatcherChanged, nullptr, this)) <
      0) {
    return r;
  }
  watcher_.reset(slot);
  // Hosts know the item by the connection's own name: some follow its signals only by the name
  // it was registered with, and a signal always carries the connection's own.
  const char* unique = nullptr;
  if ((r = sd_bus_get_unique_name(bus_, &unique)) < 0) return r;
  name_ = unique;
  registerItem();
  return 0;
}

void StatusNotifierItem::changed() {
  if (refresh_) sd_event_source_set_enabled(refresh_.get(), SD_EVENT_ONESHOT);
}

void StatusNotifierItem::refresh() {
  const Indicator shown = owner_.indicator();
  std::string status = owner_.statusLine();
  // The first time, before any host asked, there is nothing to announce.
  const bool known = indicator_.has_value();
  const bool newIcon = known && indicator_ != shown;
  const bool newLine = known && status != status_;
  indicator_ = shown;
  status_ = std::move(status);
  if (newIcon) {
    emit(bus_, "NewIcon");
    sd_bus_emit_signal(bus_, kItemPath, kItemInterface, "NewStatus", "s", lookOf(shown).status);
  }
  if (newIcon || newLine) emit(bus_, "NewToolTip");  // it carries both
  menu_.show(owner_.menu());
}

void StatusNotifierItem::registerItem() {
  sd_bus_slot* slot = nullptr;
  if (sd_bus_call_method_async(bus_, &slot, kWatcherName, kWatcherPath, kWatcherName,
                               "RegisterStatusNotifierItem", &onRegistered, this, "s",
                               name_.c_str()) >= 0) {
    pending_.reset(slot);
  }
}

int StatusNotifierItem::onProperty(sd_bus*, const char*, const char*, const char* property,
                                   sd_bus_message* reply, void* userdata, sd_bus_error*) {
  auto* self = static_cast<StatusNotifierItem*>(userdata);
  const Indicator shown = self->indicator_.value_or(Indicator::idle);
  const char* icon = iconName(shown);
  const auto is = [property](const char* name) { return std::strcmp(property, name) == 0; };
  if (is("Category")) return sd_bus_message_append(reply, "s", "ApplicationStatus");
  if (is("Id")) return sd_bus_message_append(reply, "s", "wexla");
  // The item's name in the host's lists; what it says now is the tooltip's.
  if (is("Title")) return sd_bus_message_append(reply, "s", "Wexla");
  if (is("Status")) return sd_bus_message_append(reply, "s", lookOf(shown).status);
  if (is("WindowId")) return sd_bus_message_append(reply, "i", 0);
  if (is("IconName")) return sd_bus_message_append(reply, "s", icon);
  if (is("IconThemePath")) return sd_bus_message_append(reply, "s", self->themePath_.c_str());
  if (is("ToolTip")) {
    return sd_bus_message_append(reply, "(sa(iiay)ss)", icon, 0, "Wexla", self->status_.c_str());
  }
  if (is("ItemIsMenu")) return sd_bus_message_append(reply, "b", 1);
  if (is("Menu")) return sd_bus_message_append(reply, "o", kMenuPath);
  // Shown while the item needs attention, which is trouble and nothing else.
  if (is("AttentionIconName")) {
    return sd_bus_message_append(reply, "s", iconName(Indicator::trouble));
  }
  if (std::strstr(property, "Pixmap") != nullptr) return sd_bus_message_append(reply, "a(iiay)", 0);
  return sd_bus_message_append(reply, "s", "");  // the overlay and the attention movie: none
}

int StatusNotifierItem::onIgnored(sd_bus_message* m, void*, sd_bus_error*) {
  return sd_bus_reply_method_return(m, "");
}

int StatusNotifierItem::onRegistered(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto* self = static_cast<StatusNotifierItem*>(userdata);
  const sd_bus_error* error = sd_bus_message_get_error(m);
  if (error == nullptr) {
    self->toldNoWatcher_ = false;
    log(LOG_INFO,
        "the tray icon is registered with the desktop's StatusNotifierWatcher as " + self->name_);
    return 0;
  }
  const std::string why = error->message != nullptr ? error->message : error->name;
  if (sd_bus_error_has_name(error, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
      sd_bus_error_has_name(error, SD_BUS_ERROR_NAME_HAS_NO_OWNER)) {
    // Its name changing hands brings us back.
    if (!std::exchange(self->toldNoWatcher_, true)) {
      log(LOG_INFO, "no tray icon for now: nothing on the session bus shows one (" + why +
                        "); it appears when the desktop's StatusNotifierWatcher starts");
    }
  } else if (self->retries_ < kRetries && self->retry_) {
    // A watcher may own its name a moment before it answers on it.
    ++self->retries_;
    sd::fireAfter(self->retry_.get(), kRetryAfter);
  } else {
    log(LOG_WARNING, "the desktop's StatusNotifierWatcher did not take the tray icon: " + why);
  }
  return 0;
}

int StatusNotifierItem::onWatcherChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
  const char* previous = nullptr;
  const char* next = nullptr;
  if (readNameOwners(m, &previous, &next) && next[0] != '\0') {
    auto* self = static_cast<StatusNotifierItem*>(userdata);
    self->retries_ = 0;
    self->registerItem();
  }
  return 0;
}

int StatusNotifierItem::onRetry(sd_event_source*, std::uint64_t, void* userdata) {
  static_cast<StatusNotifierItem*>(userdata)->registerItem();
  return 0;
}

int StatusNotifierItem::onRefresh(sd_event_source*, void* userdata) {
  static_cast<StatusNotifierItem*>(userdata)->refresh();
  return 0;
}

}  // namespace wexla::app
