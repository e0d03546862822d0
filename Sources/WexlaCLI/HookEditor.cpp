#include "HookEditor.hpp"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>

namespace wexla::cli {

namespace {

constexpr std::string_view kAlreadyInstalled =
    "Wexla hooks already installed \u2014 nothing to do.";
constexpr std::string_view kNothingFound = "No Wexla hooks found.";

bool isArrayOfObjects(const Json& value) {
  return value.is_array() &&
         std::all_of(value.begin(), value.end(), [](const Json& v) { return v.is_object(); });
}

// True when the group's "hooks" is an array of objects holding an entry of ours.
bool groupHasOurs(const Json& group, const AgentHooks& agent) {
  const auto hooks = group.find("hooks");
  if (hooks == group.end() || !isArrayOfObjects(*hooks)) return false;
  return std::any_of(hooks->begin(), hooks->end(), agent.isOurs);
}

bool eventHasOurs(const Json& items, const AgentHooks& agent) {
  if (agent.grouped) {
    return std::any_of(items.begin(), items.end(),
                       [&](const Json& group) { return groupHasOurs(group, agent); });
  }
  return std::any_of(items.begin(), items.end(), agent.isOurs);
}

// Drops our entries from an array of entries; returns how many went.
std::int64_t dropOurs(Json& entries, const AgentHooks& agent) {
  const auto kept = std::remove_if(entries.begin(), entries.end(), agent.isOurs);
  const auto removed = std::distance(kept, entries.end());
  entries.erase(kept, entries.end());
  return removed;
}

// The groups of one event without our entries; a group left without entries goes too.
std::int64_t pruneGroups(Json& groups, const AgentHooks& agent) {
  std::int64_t removed = 0;
  Json kept = Json::array();
  for (Json& group : groups) {
    const auto hooks = group.find("hooks");
    if (group.empty() || hooks == group.end() || !isArrayOfObjects(*hooks)) {
      kept.push_back(std::move(group));
      continue;
    }
    removed += dropOurs(*hooks, agent);
    if (!hooks->empty()) kept.push_back(std::move(group));
  }
  groups = std::move(kept);
  return removed;
}

[[noreturn]] void refuse(const std::string& file, const std::string& member, const char* expected) {
  throw SettingsError(file + ": " + member + " is not " + expected +
                      " \u2014 refusing to modify it. Fix it by hand first.");
}

// A file with a top-level member the agent does not know is ignored by it whole.
void refuseUnknownRootMembers(const Json& settings, const AgentHooks& agent,
                              const std::string& file) {
  std::string unknown;
  for (const auto& member : settings.items()) {
    const auto& known = agent.rootMembers;
    if (std::find(known.begin(), known.end(), member.key()) != known.end()) continue;
    unknown += (unknown.empty() ? "" : ", ") + Json(member.key()).dump();
  }
  if (unknown.empty()) return;
  std::string allowed;
  for (const std::string_view name : agent.rootMembers) {
    allowed += (allowed.empty() ? "\"" : " and \"") + std::string(name) + "\"";
  }
  throw SettingsError(file + ": " + agent.name +
                      " ignores this whole file while its top level holds " + unknown + " (only " +
                      allowed +
                      " may stand there) \u2014 refusing to modify it. Fix it by hand first.");
}

// Brings every entry of ours in one event's items to today's form; true when any changed.
bool updateOurs(Json& items, const AgentHooks& agent) {
  bool changed = false;
  const auto update = [&](Json& entry) {
    if (agent.isOurs(entry) && agent.update(entry)) changed = true;
  };
  for (Json& item : items) {
    if (!agent.grouped) {
      update(item);
      continue;
    }
    const auto hooks = item.find("hooks");
    if (hooks == item.end() || !isArrayOfObjects(*hooks)) continue;
    for (Json& entry : *hooks) update(entry);
  }
  return changed;
}

std::string joined(const std::vector<std::string>& events) {
  std::string text;
  for (const std::string& event : events) text += (text.empty() ? "" : " + ") + event;
  return text;
}

std::string restarted(const AgentHooks& agent) {
  return agent.restarted ? agent.restarted : agent.name;
}

// Our own file is a few hundred bytes; reading a flood put in its place would only cost time.
constexpr std::size_t kOwnFileLimit = 65536;

std::vector<std::string> allEvents(const AgentHooks& agent) {
  return {agent.events.begin(), agent.events.end()};
}

HookChanges mergeSettings(const AgentHooks& agent, const std::filesystem::path& path,
                          const std::string& executable) {
  const std::string command = hookCommand(executable);
  HookChanges changes;
  SettingsStore(path, agent.notAnObject).edit([&](Json& settings) {
    changes = addHooks(settings, agent, command, path.string());
    return !changes.empty();
  });
  return changes;
}

// What lies where our own file goes: nothing, a file of ours, or anyone else's.
struct FoundFile {
  std::optional<std::string> bytes;
  bool ours = false;
};

FoundFile findOwnFile(const AgentHooks& agent, const std::filesystem::path& path) {
  FoundFile found{readIfPresent(path, kOwnFileLimit)};
  found.ours =
      found.bytes && found.bytes->size() <= kOwnFileLimit && agent.isOurFile(agent, *found.bytes);
  return found;
}

HookChanges writeOwnFile(const AgentHooks& agent, const std::filesystem::path& path,
                         const std::string& executable) {
  const std::string text = agent.ownFileText(agent, executable);
  const FoundFile found = findOwnFile(agent, path);
  if (found.bytes == text) return {};
  if (found.bytes && !found.ours) {
    throw SettingsError(path.string() +
                        " was not written by Wexla \u2014 refusing to replace it. Move it "
                        "elsewhere first.");
  }
  if (!replaceFile(path, text, found.bytes)) {
    throw SettingsError(path.string() +
                        " changed while Wexla was writing it; nothing was written. Try again.");
  }
  if (found.bytes) return {{}, allEvents(agent)};
  return {allEvents(agent), {}};
}

std::int64_t removeOwnFile(const AgentHooks& agent, const std::filesystem::path& path) {
  if (!findOwnFile(agent, path).ours) return 0;
  std::filesystem::remove(path);
  return static_cast<std::int64_t>(agent.events.size());
}

std::int64_t removeFromSettings(const AgentHooks& agent, const std::filesystem::path& path) {
  std::int64_t removed = 0;
  SettingsStore(path, agent.notAnObject).edit([&](Json& settings) {
    removed = removeHooks(settings, agent);
    return removed > 0;
  });
  return removed;
}

}  // namespace

bool runsOurCommandOrTrue(const Json& entry, const char* member) {
  const auto command = entry.find(member);
  if (command == entry.end() || !command->is_string()) return false;
  std::string_view text = command->get_ref<const std::string&>();
  if (text.ends_with(kCannotFail)) text.remove_suffix(kCannotFail.size());
  return isOurCommand(text);
}

std::string ownHooksFileText(const AgentHooks& agent, const std::string& executable) {
  Json document = Json::object();
  addHooks(document, agent, hookCommand(executable), {});
  return document.dump(2, ' ', false, Json::error_handler_t::strict) + '\n';
}

bool isOurHooksFile(const AgentHooks& agent, const std::string& bytes) {
  Json document;
  try {
    document = parseSettings(bytes, {});
  } catch (const SettingsError&) {
    return false;
  }
  if (removeHooks(document, agent) == 0) return false;
  if (agent.writesVersion) document.erase("version");
  return document.empty();
}

std::filesystem::path agentFile(const AgentHooks& agent, const HookEnvironment& environment) {
  const char* value = agent.directoryVariable ? std::getenv(agent.directoryVariable) : nullptr;
  // Empty counts as unset, as for HOME.
  if (value == nullptr || *value == '\0') {
    return environment.home / agent.directory / agent.file;
  }
  const std::filesystem::path directory(value);
  if (!directory.is_absolute()) {
    throw SettingsError(std::string(agent.directoryVariable) + " is set to \"" + value +
                        "\", which is not an absolute path \u2014 refusing to guess where " +
                        agent.name + " looks. Set it to an absolute path, or unset it.");
  }
  return directory / agent.file;
}

bool isMarkedOurs(const Json& entry, const char* marker) {
  const auto value = entry.find(marker);
  return value != entry.end() && value->is_string() &&
         value->get_ref<const std::string&>() == "wexla";
}

bool isOurCommand(std::string_view command) {
  return command.find("wexlactl") != std::string_view::npos && command.ends_with(" busy");
}

bool runsOurCommand(const Json& entry) {
  const auto value = entry.find("command");
  return value != entry.end() && value->is_string() &&
         isOurCommand(value->get_ref<const std::string&>());
}

HookChanges addHooks(Json& settings, const AgentHooks& agent, const std::string& command,
                     const std::string& file) {
  if (!agent.rootMembers.empty()) refuseUnknownRootMembers(settings, agent, file);
  const auto hooks = settings.find("hooks");
  if (hooks != settings.end() && !hooks->is_object()) refuse(file, "\"hooks\"", "an object");

  HookChanges changes;
  std::vector<std::pair<std::string, Json*>> present;  // the events that have our hook
  for (const std::string_view event : agent.events) {
    const std::string name(event);
    if (hooks != settings.end()) {
      const auto items = hooks->find(name);
      if (items != hooks->end()) {
        if (!isArrayOfObjects(*items)) {
          refuse(file, "\"hooks\".\"" + name + "\"", "an array of objects");
        }
        if (eventHasOurs(*items, agent)) {
          present.emplace_back(name, &*items);
          continue;
        }
      }
    }
    changes.added.push_back(name);
  }
  if (agent.update != nullptr) {
    for (const auto& [name, items] : present) {
      if (updateOurs(*items, agent)) changes.updated.push_back(name);
    }
  }
  if (changes.added.empty()) return changes;

  if (agent.writesVersion && !settings.contains("version")) settings["version"] = 1;
  Json& target = settings["hooks"];
  if (target.is_null()) target = Json::object();
  for (const std::string& event : changes.added) {
    Json entry = agent.makeEntry(command);
    Json& items = target[event];
    if (items.is_null()) items = Json::array();
    items.push_back(agent.grouped ? Json{{"hooks", Json::array({std::move(entry)})}}
                                  : std::move(entry));
  }
  return changes;
}

std::int64_t removeHooks(Json& settings, const AgentHooks& agent) {
  const auto found = settings.find("hooks");
  if (found == settings.end() || !found->is_object()) return 0;

  Json hooks = *found;
  std::int64_t removed = 0;
  for (const std::string_view event : agent.events) {
    const auto items = hooks.find(std::string(event));
    if (items == hooks.end() || !isArrayOfObjects(*items)) continue;
    removed += agent.grouped ? pruneGroups(*items, agent) : dropOurs(*items, agent);
    if (items->empty()) hooks.erase(items);
  }
  if (removed == 0) return 0;

  if (hooks.empty()) {
    settings.erase("hooks");
  } else {
    settings["hooks"] = std::move(hooks);
  }
  return removed;
}

std::string installHooks(const AgentHooks& agent, const HookEnvironment& environment) {
  const std::filesystem::path path = agentFile(agent, environment);
  const std::string file = path.string();
  const HookChanges changes = agent.ownFileText
                                  ? writeOwnFile(agent, path, environment.executable)
                                  : mergeSettings(agent, path, environment.executable);
  if (changes.empty()) return std::string(kAlreadyInstalled);

  const std::string what =
      changes.added.empty()
          ? "\u2713 Updated Wexla's \"busy\" heartbeat for " + joined(changes.updated)
          : "\u2713 Added Wexla's \"busy\" heartbeat to " + joined(changes.added);
  const std::string step =
      agent.afterInstall ? agent.afterInstall : "Restart " + restarted(agent) + " to load it.";
  std::string text = what + " in\n  " + file + "\n  ";
  // A file of our own has no backup: nothing of the person's was in it.
  if (!agent.ownFileText) {
    text += "(backup: " + file + ".wexla-backup)." + (agent.afterInstall ? "\n  " : " ");
  }
  return text + step + "\n  Undo any time: wexlactl uninstall-" + agent.word + "-hooks";
}

std::string uninstallHooks(const AgentHooks& agent, const HookEnvironment& environment) {
  const std::filesystem::path path = agentFile(agent, environment);
  const std::int64_t removed =
      agent.ownFileText ? removeOwnFile(agent, path) : removeFromSettings(agent, path);
  if (removed == 0) return std::string(kNothingFound);
  return "\u2713 Removed Wexla hooks (" + std::to_string(removed) + "). Restart " +
         restarted(agent) + " to apply.";
}

std::string hookState(const AgentHooks& agent, const HookEnvironment& environment) {
  try {
    const std::filesystem::path path = agentFile(agent, environment);
    HookChanges changes;
    if (agent.ownFileText) {
      const FoundFile found = findOwnFile(agent, path);
      if (!found.bytes) return "not installed";
      if (found.bytes == agent.ownFileText(agent, environment.executable)) return "installed";
      if (!found.ours) return "not installed (the file there is not Wexla's)";
      changes.updated = allEvents(agent);
    } else {
      Json settings = SettingsStore(path, agent.notAnObject).load().document;
      changes = addHooks(settings, agent, hookCommand(environment.executable), path.string());
    }
    if (changes.added.size() == agent.events.size()) return "not installed";
    if (!changes.added.empty()) return "partly installed (not for " + joined(changes.added) + ")";
    if (!changes.updated.empty()) return "installed, out of date (install again)";
    return "installed";
  } catch (const std::exception& error) {
    return std::string("cannot be read: ") + error.what();
  }
}

}  // namespace wexla::cli
