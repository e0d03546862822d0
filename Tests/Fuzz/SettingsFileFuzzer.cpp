// Any bytes as an agent's settings file, for each installer that merges into one. Failures: a
// crash, a hang, a write or a backup after a failed read, success on a file the agent would ignore
// whole, or a change to anything the installer does not own (down to the user's entries beside
// ours).
#include <unistd.h>  // mkdtemp, on macOS

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "Files.hpp"
#include "HookAgents.hpp"

namespace wexla::cli {
namespace {

namespace fs = std::filesystem;
using test::readFile;

void check(bool holds) {
  if (!holds) std::abort();
}

bool isArrayOfObjects(const Json& value) {
  return value.is_array() &&
         std::all_of(value.begin(), value.end(), [](const Json& v) { return v.is_object(); });
}

// The document without what the installer owns by its rule of ownership: its entries in the
// agent's events, the groups and events that removing them leaves empty, and Cursor's version.
Json withoutOwned(Json document, const AgentHooks& agent) {
  if (agent.writesVersion) document.erase("version");
  const auto hooks = document.find("hooks");
  if (hooks == document.end() || !hooks->is_object()) return document;
  for (const auto event : agent.events) {
    const auto items = hooks->find(std::string(event));
    if (items == hooks->end() || !isArrayOfObjects(*items)) continue;
    Json kept = Json::array();
    for (Json& item : *items) {
      if (!agent.grouped && agent.isOurs(item)) continue;
      const auto entries = item.find("hooks");
      if (agent.grouped && entries != item.end() && isArrayOfObjects(*entries)) {
        entries->erase(std::remove_if(entries->begin(), entries->end(), agent.isOurs),
                       entries->end());
        if (entries->empty()) continue;
      }
      kept.push_back(std::move(item));
    }
    *items = std::move(kept);
    if (items->empty()) hooks->erase(items);
  }
  if (hooks->empty()) document.erase(hooks);
  return document;
}

void exercise(const AgentHooks& agent, const std::string& bytes, const fs::path& home) {
  const fs::path file = agentFile(agent, {home, {}});
  const fs::path backup = file.string() + ".wexla-backup";
  fs::remove(backup);
  test::writeFile(file, bytes);
  std::optional<Json> before;
  try {
    before = SettingsStore(file, agent.notAnObject).load().document;
  } catch (...) {
  }
  for (const auto operation : {&installHooks, &uninstallHooks}) {
    const std::string old = readFile(file);
    bool failed = false;
    try {
      operation(agent, {home, "/usr/local/bin/wexlactl"});
    } catch (...) {
      failed = true;
    }
    const std::string now = readFile(file);
    if (!before) return check(failed && now == old && !fs::exists(backup));
    check(!failed || now == old);
    if (failed) continue;
    const Json after = Json::parse(now);  // what we wrote must read back
    check(withoutOwned(after, agent) == withoutOwned(*before, agent));
    const auto& known = agent.rootMembers;
    for (const auto& member : after.items()) {
      check(operation != &installHooks || known.empty() ||
            std::find(known.begin(), known.end(), member.key()) != known.end());
    }
  }
}

void exerciseAll(const std::string& bytes) {
  static const fs::path home = [] {
    std::string pattern = (fs::temp_directory_path() / "wexla-fuzz-XXXXXX").string();
    check(::mkdtemp(pattern.data()) != nullptr);
    ::unsetenv("QWEN_HOME");  // the agents' folders lie in the temporary home alone
    return fs::path(pattern);
  }();
  for (const AgentHooks& agent : hookAgents()) {
    if (agent.ownFileText == nullptr) exercise(agent, bytes, home);
  }
}

}  // namespace
}  // namespace wexla::cli

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  wexla::cli::exerciseAll(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
