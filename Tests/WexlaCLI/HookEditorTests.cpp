#include <gtest/gtest.h>

#include <random>

#include "CodexHookInstaller.hpp"
#include "CursorHookInstaller.hpp"
#include "GeminiHookInstaller.hpp"
#include "HookEditor.hpp"
#include "HookInstaller.hpp"

namespace wexla::cli {
namespace {

const std::string kCommand = "/usr/local/bin/wexlactl busy";
using Events = std::vector<std::string>;

Json doc(const char* text) { return Json::parse(text); }

std::vector<const AgentHooks*> allAgents() {
  return {&ClaudeHooks::agent(), &CodexHooks::agent(), &GeminiHooks::agent(),
          &CursorHooks::agent()};
}

TEST(HookOwnership, CommandTextRule) {
  struct Case {
    Json entry;
    bool ours;
  };
  const Case cases[] = {
      {{{"command", "/usr/local/bin/wexlactl busy"}}, true},
      {{{"command", "'/Users/me/My Tools/wexlactl' busy"}}, true},
      {{{"command", "/old/place/wexlactl busy"}, {"type", "other"}}, true},
      {{{"command", "/usr/local/bin/wexlactl busy --quiet"}}, false},
      {{{"command", "/opt/other busy"}}, false},
      {{{"command", "/opt/WEXLACTL busy"}}, false},
      {{{"command", "wexlactl  busy"}}, true},
      {{{"command", "wexlactl\tbusy"}}, false},
      {{{"command", 42}}, false},
      {{{"type", "command"}}, false},
      {Json::object(), false},
  };
  for (const auto& c : cases) EXPECT_EQ(runsOurCommand(c.entry), c.ours) << c.entry.dump();
}

// Claude Code drops members it does not know, our marker among them, so the command counts too.
TEST(HookOwnership, MarkerOrCommandRule) {
  struct Case {
    Json entry;
    bool claude;
    bool gemini;
  };
  const Case cases[] = {
      {{{"_origin", "wexla"}}, true, false},
      {{{"name", "wexla"}}, false, true},
      {{{"_origin", "Wexla"}}, false, false},
      {{{"name", "WEXLA"}}, false, false},
      {{{"_origin", true}}, false, false},
      {{{"_origin", Json::array({"wexla"})}}, false, false},
      {{{"command", kCommand}}, true, true},
      {{{"command", kCommand + " || true"}}, false, true},  // Gemini's form
      {{{"command", "lint"}, {"_origin", "someone"}, {"name", "lint"}}, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClaudeHooks::agent().isOurs(c.entry), c.claude) << c.entry.dump();
    EXPECT_EQ(GeminiHooks::agent().isOurs(c.entry), c.gemini) << c.entry.dump();
  }
}

TEST(AddHooks, OnlyEventsWithoutOursAndAlwaysAfterTheUsersGroups) {
  struct Case {
    const AgentHooks* agent;
    const char* before;
    Events added;
    const char* after;
    Events updated = {};
  };
  const Case cases[] = {
      // An entry of ours with an old path counts; the other event gets a group.
      {&ClaudeHooks::agent(),
       R"({"hooks":{"PreToolUse":[{"hooks":[{"type":"command","command":"/old/wexlactl busy","_origin":"wexla"}]}]}})",
       {"UserPromptSubmit"},
       R"({"hooks":{"PreToolUse":[{"hooks":[{"type":"command","command":"/old/wexlactl busy","_origin":"wexla"}]}],
                    "UserPromptSubmit":[{"hooks":[{"type":"command","command":"/usr/local/bin/wexlactl busy","_origin":"wexla"}]}]}})"},
      // Ours inside the user's own group counts, and so does our command stripped of its marker.
      {&ClaudeHooks::agent(),
       R"({"hooks":{"PreToolUse":[{"matcher":"Bash","hooks":[{"type":"command","command":"lint"},{"_origin":"wexla"}]}],
                    "UserPromptSubmit":[{"hooks":[{"type":"command","command":"'/My Tools/wexlactl' busy"}]}]}})",
       {},
       R"({"hooks":{"PreToolUse":[{"matcher":"Bash","hooks":[{"type":"command","command":"lint"},{"_origin":"wexla"}]}],
                    "UserPromptSubmit":[{"hooks":[{"type":"command","command":"'/My Tools/wexlactl' busy"}]}]}})"},
      // Gemini's marker is "name"; "_origin" means nothing there. Flat entries stay as they are.
      {&GeminiHooks::agent(),
       R"({"hooks":{"BeforeTool":[{"command":"x","matcher":"y"},{"hooks":[{"_origin":"wexla"}]}],
                    "BeforeAgent":[{"hooks":[{"name":"wexla","command":"anything"}]}]}})",
       {"BeforeTool"},
       R"({"hooks":{"BeforeTool":[{"command":"x","matcher":"y"},{"hooks":[{"_origin":"wexla"}]},
                                  {"hooks":[{"type":"command","command":"/usr/local/bin/wexlactl busy || true","name":"wexla"}]}],
                    "BeforeAgent":[{"hooks":[{"name":"wexla","command":"anything"}]}]}})"},
      // Gemini entries written before " || true" get it, keeping their path.
      {&GeminiHooks::agent(),
       R"({"hooks":{"BeforeTool":[{"hooks":[{"command":"lint"},{"name":"wexla","command":"/old/wexlactl busy","timeout":5}]}],
                    "BeforeAgent":[{"hooks":[{"command":"'/My Tools/wexlactl' busy || true"}]}]}})",
       {},
       R"({"hooks":{"BeforeTool":[{"hooks":[{"command":"lint"},{"name":"wexla","command":"/old/wexlactl busy || true","timeout":5}]}],
                    "BeforeAgent":[{"hooks":[{"command":"'/My Tools/wexlactl' busy || true"}]}]}})",
       {"BeforeTool"}},
      // Codex: recognised by command text, user groups keep their places, entries never rewritten.
      {&CodexHooks::agent(),
       R"({"description":"mine","hooks":{"Stop":[],"PreToolUse":[{"matcher":"Bash","hooks":[{"type":"command","command":"/a/wexlactl busy"}]}],
                    "UserPromptSubmit":[{"hooks":[{"type":"command","command":"audit"}]}]}})",
       {"UserPromptSubmit"},
       R"({"description":"mine","hooks":{"Stop":[],"PreToolUse":[{"matcher":"Bash","hooks":[{"type":"command","command":"/a/wexlactl busy"}]}],
                    "UserPromptSubmit":[{"hooks":[{"type":"command","command":"audit"}]},
                                        {"hooks":[{"type":"command","command":"/usr/local/bin/wexlactl busy"}]}]}})"},
      // Cursor: an existing version of any kind is kept, and one is added only with a write.
      {&CursorHooks::agent(),
       R"({"hooks":{"afterFileEdit":[{"command":"fmt"}]},"version":"2"})",
       {"beforeShellExecution", "afterFileEdit", "beforeSubmitPrompt"},
       R"({"hooks":{"afterFileEdit":[{"command":"fmt"},{"command":"/usr/local/bin/wexlactl busy"}],
                    "beforeShellExecution":[{"command":"/usr/local/bin/wexlactl busy"}],
                    "beforeSubmitPrompt":[{"command":"/usr/local/bin/wexlactl busy"}]},"version":"2"})"},
      {&CursorHooks::agent(),
       R"({"hooks":{"beforeShellExecution":[{"command":"/x/wexlactl busy"}],"afterFileEdit":[{"command":"/x/wexlactl busy"}],
                    "beforeSubmitPrompt":[{"command":"fmt"},{"command":"/x/wexlactl busy"}]}})",
       {},
       R"({"hooks":{"beforeShellExecution":[{"command":"/x/wexlactl busy"}],"afterFileEdit":[{"command":"/x/wexlactl busy"}],
                    "beforeSubmitPrompt":[{"command":"fmt"},{"command":"/x/wexlactl busy"}]}})"},
  };
  for (const auto& c : cases) {
    Json settings = doc(c.before);
    const HookChanges changes = addHooks(settings, *c.agent, kCommand, "f");
    EXPECT_EQ(changes.added, c.added) << c.before;
    EXPECT_EQ(changes.updated, c.updated) << c.before;
    EXPECT_EQ(settings.dump(), doc(c.after).dump()) << c.before;
  }
}

TEST(AddHooks, RefusesMembersOfAnUnexpectedTypeAndChangesNothing) {
  struct Case {
    const char* settings;
    const char* message;
    const AgentHooks* agent = &ClaudeHooks::agent();
  };
  const Case cases[] = {
      {R"({"hooks":[]})", "f: \"hooks\" is not an object"},
      {R"({"hooks":"none"})", "f: \"hooks\" is not an object"},
      {R"({"hooks":{"PreToolUse":"x"}})", "f: \"hooks\".\"PreToolUse\" is not an array of objects"},
      {R"({"hooks":{"UserPromptSubmit":[{"hooks":[]},"x"]}})",
       "f: \"hooks\".\"UserPromptSubmit\" is not an array of objects"},
      {R"({"hooks":{"UserPromptSubmit":{}}})",
       "f: \"hooks\".\"UserPromptSubmit\" is not an array of objects"},
      // Codex would ignore the file, our hook included, even with the hook already there.
      {R"({"$schema":"https://json.schemastore.org/codex-hooks.json","description":"d","hooks":{}})",
       "f: Codex ignores this whole file while its top level holds \"$schema\" (only \"hooks\" "
       "and \"description\" may stand there)",
       &CodexHooks::agent()},
      {R"({"hooks":{"PreToolUse":[{"hooks":[{"command":"/a/wexlactl busy"}]}],"UserPromptSubmit":[{"hooks":[{"command":"/a/wexlactl busy"}]}]},"version":1,"a\"b":2})",
       "f: Codex ignores this whole file while its top level holds \"version\", \"a\\\"b\" (only "
       "\"hooks\" and \"description\" may stand there)",
       &CodexHooks::agent()},
  };
  for (const auto& c : cases) {
    Json settings = doc(c.settings);
    try {
      addHooks(settings, *c.agent, kCommand, "f");
      ADD_FAILURE() << "accepted " << c.settings;
    } catch (const SettingsError& error) {
      EXPECT_EQ(std::string(error.what()),
                std::string(c.message) + " \u2014 refusing to modify it. Fix it by hand first.");
    }
    EXPECT_EQ(settings, doc(c.settings));
  }
}

TEST(RemoveHooks, CountsEntriesAndPrunesOnlyWhenSomethingWentAway) {
  struct Case {
    const AgentHooks* agent;
    const char* before;
    std::int64_t removed;
    const char* after;  // same as before when nothing was removed
  };
  const Case cases[] = {
      // Two of ours in one group count two; the user's entry keeps the group alive.
      {&ClaudeHooks::agent(),
       R"({"a":1,"hooks":{"PreToolUse":[{"matcher":"*","hooks":[{"_origin":"wexla"},{"command":"mine"},{"_origin":"wexla"}]}]}})",
       2, R"({"a":1,"hooks":{"PreToolUse":[{"matcher":"*","hooks":[{"command":"mine"}]}]}})"},
      // Empty groups and empty event arrays go only together with a removal.
      {&ClaudeHooks::agent(),
       R"({"hooks":{"PreToolUse":[{"hooks":[]},{"hooks":[{"_origin":"wexla"}]}],"UserPromptSubmit":[],"Stop":[]}})",
       1, R"({"hooks":{"Stop":[]}})"},
      {&ClaudeHooks::agent(), R"({"hooks":{"PreToolUse":[{"hooks":[]}],"UserPromptSubmit":[]}})", 0,
       nullptr},
      // A spoilt array keeps everything in it, ours included.
      {&ClaudeHooks::agent(),
       R"({"hooks":{"PreToolUse":["x",{"hooks":[{"_origin":"wexla"}]}],"UserPromptSubmit":[{"hooks":[{"_origin":"wexla"}]}]}})",
       1, R"({"hooks":{"PreToolUse":["x",{"hooks":[{"_origin":"wexla"}]}]}})"},
      // Our command whose marker Claude Code dropped goes too.
      {&ClaudeHooks::agent(),
       R"({"hooks":{"UserPromptSubmit":[{"hooks":[{"command":"'/My Tools/wexlactl' busy"},{"command":"wexlactl busy --x"}]}]}})",
       1, R"({"hooks":{"UserPromptSubmit":[{"hooks":[{"command":"wexlactl busy --x"}]}]}})"},
      // Groups that are empty or have no usable "hooks" stay.
      {&CodexHooks::agent(),
       R"({"hooks":{"PreToolUse":[{},{"matcher":"x"},{"hooks":"y"},{"hooks":[1]},{"hooks":[{"command":"/w/wexlactl busy"}]}]}})",
       1, R"({"hooks":{"PreToolUse":[{},{"matcher":"x"},{"hooks":"y"},{"hooks":[1]}]}})"},
      {&CodexHooks::agent(), R"({"hooks":["x"]})", 0, nullptr},
      {&CodexHooks::agent(), R"({"hooks":"x"})", 0, nullptr},
      {&GeminiHooks::agent(),
       R"({"hooks":{"BeforeTool":[{"hooks":[{"_origin":"wexla"},{"name":"wexla"},{"command":"/x/wexlactl busy || true"}]}],"AfterTool":[{"hooks":[{"name":"wexla"}]}]}})",
       2,
       R"({"hooks":{"BeforeTool":[{"hooks":[{"_origin":"wexla"}]}],"AfterTool":[{"hooks":[{"name":"wexla"}]}]}})"},
      // Cursor keeps "version" whatever happens and drops emptied events.
      {&CursorHooks::agent(),
       R"({"version":1,"hooks":{"stop":[{"command":"/x/wexlactl busy"}],"afterFileEdit":[{"command":"/x/wexlactl busy"},{"command":"/y/wexlactl busy"}],"beforeSubmitPrompt":[]}})",
       2, R"({"version":1,"hooks":{"stop":[{"command":"/x/wexlactl busy"}]}})"},
      {&CursorHooks::agent(), R"({"hooks":{"beforeSubmitPrompt":[]}})", 0, nullptr},
  };
  for (const auto& c : cases) {
    Json settings = doc(c.before);
    EXPECT_EQ(removeHooks(settings, *c.agent), c.removed) << c.before;
    EXPECT_EQ(settings.dump(), doc(c.after ? c.after : c.before).dump()) << c.before;
  }
}

// Documents of every shape without entries of ours; "hooks" and the managed events, where
// present, have the types the installers accept.
class DocumentGenerator {
 public:
  explicit DocumentGenerator(unsigned seed) : random_(seed) {}

  Json settings(const AgentHooks& agent) {
    Json document = Json::object();
    const int others = agent.rootMembers.empty() ? 1 : 0;  // Codex allows none
    for (int i = pick(0, 4) * others; i > 0; --i) document[key()] = value(3);
    if (pick(0, 3) > 0) {
      Json hooks = Json::object();
      std::vector<std::string> events{"Stop", "SessionStart"};
      events.insert(events.end(), agent.events.begin(), agent.events.end());
      std::shuffle(events.begin(), events.end(), random_);
      for (const auto& event : events) {
        if (pick(0, 2) == 0) continue;
        Json items = Json::array();
        for (int i = pick(1, 3); i > 0; --i) {
          items.push_back(agent.grouped ? group() : userEntry());
        }
        hooks[event] = items;
      }
      if (!hooks.empty()) document["hooks"] = hooks;
    }
    for (int i = pick(0, 2) * others; i > 0; --i) document[key()] = value(2);
    if (agent.writesVersion && !document.contains("version")) document["version"] = value(0);
    return document;
  }

 private:
  int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  std::string key() {
    static const char* const keys[] = {"model", "env", "permissions", "x/y", "ключ",      "_origin",
                                       "name",  "a",   "statusLine",  "",    "mcpServers"};
    return keys[pick(0, std::size(keys) - 1)] + std::to_string(pick(0, 9));
  }

  Json value(int depth) {
    switch (pick(0, depth > 0 ? 7 : 5)) {
      case 0:
        return nullptr;
      case 1:
        return pick(0, 1) == 1;
      case 2:
        return pick(-1000000, 1000000);
      case 3:
        return pick(0, 1000) / 8.0;
      case 4:
        return "s/" + std::to_string(pick(0, 99)) + " \u00E1";
      case 5:
        return "wexla";
      case 6: {
        Json array = Json::array();
        for (int i = pick(0, 3); i > 0; --i) array.push_back(value(depth - 1));
        return array;
      }
      default: {
        Json object = Json::object();
        for (int i = pick(0, 3); i > 0; --i) object[key()] = value(depth - 1);
        return object;
      }
    }
  }

  Json userEntry() {
    Json entry = {{"type", "command"}, {"command", pick(0, 1) ? "wexlactl busy --x" : "lint ."}};
    if (pick(0, 2) == 0) entry["timeout"] = pick(1, 600);
    if (pick(0, 3) == 0) entry["_origin"] = "someone";
    if (pick(0, 3) == 0) entry["name"] = "lint";
    return entry;
  }

  Json group() {
    Json g = Json::object();
    if (pick(0, 1) == 1) g["matcher"] = "Bash|Edit";
    switch (pick(0, 4)) {
      case 0:
        g["hooks"] = "not a list";
        break;
      case 1:
        g["hooks"] = Json::array({1, userEntry()});
        break;
      default: {
        Json hooks = Json::array();
        for (int i = pick(1, 3); i > 0; --i) hooks.push_back(userEntry());
        g["hooks"] = hooks;
      }
    }
    if (pick(0, 4) == 0) g["extra"] = value(1);
    return g;
  }

  std::mt19937 random_;
};

// Install then uninstall gives the user's document back, member order included. What does not
// come back by design: an empty "hooks" object, empty event arrays and groups with an empty
// "hooks" array (pruned once an entry of ours went), and Cursor's "version" (added, then kept).
// The generator makes none of those.
TEST(HookRoundTrip, InstallThenUninstallRestoresTheDocument) {
  DocumentGenerator generator(20261206);
  for (int i = 0; i < 300; ++i) {
    for (const AgentHooks* agent : allAgents()) {
      const Json original = generator.settings(*agent);
      Json settings = original;
      const Events added = addHooks(settings, *agent, kCommand, "f").added;
      ASSERT_EQ(added.size(), agent->events.size()) << original.dump();
      ASSERT_EQ(removeHooks(settings, *agent), static_cast<std::int64_t>(added.size()));
      ASSERT_EQ(settings.dump(), original.dump()) << agent->relativePath;
    }
  }
}

}  // namespace
}  // namespace wexla::cli
