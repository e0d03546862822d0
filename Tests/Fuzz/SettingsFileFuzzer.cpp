// Any bytes as an agent's settings file, for each of the four installers. Failures: a crash, a
// hang, a write after a failed read, or a change to anything the installer does not own (down to
// the user's entries beside ours in the same event and group).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "CodexHookInstaller.hpp"
#include "CursorHookInstaller.hpp"
#include "Files.hpp"
#include "GeminiHookInstaller.hpp"
#include "HookInstaller.hpp"

namespace {

namespace fs = std::filesystem;
using wexla::cli::AgentHooks;
using wexla::cli::Json;
using wexla::test::readFile;

const fs::path& home() {
  static const fs::path dir = [] {
    std::string pattern = (fs::temp_directory_path() / "wexla-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return fs::path(pattern);
  }();
  return dir;
}

void check(bool holds) {
  if (!holds) std::abort();
}

bool isArrayOfObjects(const Json& value) {
  return value.is_array() &&
         std::all_of(value.begin(), value.end(), [](const Json& v) { return v.is_object(); });
}

// The document without what the installer owns: its entries in the agent's events (by the same
// rule of ownership), the groups and events that removing them leaves empty, and Cursor's version.
Json withoutOwned(Json document, const AgentHooks& agent) {
  if (!document.is_object()) return document;
  if (agent.writesVersion) document.erase("version");
  const auto hooks = document.find("hooks");
  if (hooks == document.end() || !hooks->is_object()) return document;
  for (const auto event : agent.events) {
    const auto items = hooks->find(std::string(event));
    if (items == hooks->end() || !isArrayOfObjects(*items)) continue;
    Json kept = Json::array();
    for (Json& item : *items) {
      if (!agent.grouped) {
        if (!agent.isOurs(item)) kept.push_back(std::move(item));
        continue;
      }
      const auto entries = item.find("hooks");
      if (entries != item.end() && isArrayOfObjects(*entries)) {
        entries->erase(std::remove_if(entries->begin(), entries->end(), agent.isOurs),
                       entries->end());
        if (entries->empty()) continue;
      }
      kept.push_back(std::move(item));
    }
    if (kept.empty()) {
      hooks->erase(items);
    } else {
      *items = std::move(kept);
    }
  }
  if (hooks->empty()) document.erase(hooks);
  return document;
}

void exercise(const AgentHooks& agent, const std::string& bytes) {
  const wexla::cli::HookEnvironment environment{home(), "/usr/local/bin/wexlactl"};
  const fs::path file = home() / agent.relativePath;
  const fs::path backup = file.string() + ".wexla-backup";
  fs::create_directories(file.parent_path());
  fs::remove(backup);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;

  std::optional<Json> before;
  try {
    before = wexla::cli::SettingsStore(file, agent.notAnObject).load().document;
  } catch (...) {
  }
  for (const bool install : {true, false}) {
    const std::string old = readFile(file);
    bool failed = false;
    try {
      install ? wexla::cli::installHooks(agent, environment)
              : wexla::cli::uninstallHooks(agent, environment);
    } catch (...) {
      failed = true;
    }
    const std::string now = readFile(file);
    if (!before) {
      check(failed && now == old && !fs::exists(backup));  // nothing written on a failed read
      return;
    }
    if (failed) {
      check(now == old);
      continue;
    }
    const Json after = Json::parse(now);  // what we wrote must read back
    check(withoutOwned(after, agent) == withoutOwned(*before, agent));
    // Never report success on a file that the agent ignores whole.
    for (const auto& member : after.items()) {
      const auto& known = agent.rootMembers;
      check(!install || known.empty() ||
            std::find(known.begin(), known.end(), member.key()) != known.end());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const AgentHooks* agent :
       {&wexla::cli::ClaudeHooks::agent(), &wexla::cli::CodexHooks::agent(),
        &wexla::cli::GeminiHooks::agent(), &wexla::cli::CursorHooks::agent()}) {
    exercise(*agent, bytes);
  }
  return 0;
}
