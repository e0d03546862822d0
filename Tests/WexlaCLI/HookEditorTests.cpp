#include <gtest/gtest.h>

#include "CodexHookInstaller.hpp"
#include "CursorHookInstaller.hpp"
#include "GeminiHookInstaller.hpp"
#include "HookInstaller.hpp"

namespace wexla::cli {
namespace {

using Events = std::vector<std::string>;
const AgentHooks& claude = ClaudeHooks::agent();
const AgentHooks& codex = CodexHooks::agent();
const AgentHooks& gemini = GeminiHooks::agent();
const AgentHooks& cursor = CursorHooks::agent();

// Claude Code drops members it does not know, our marker among them, so our command counts too;
// Codex and Cursor go by the command alone.
TEST(HookOwnership, MarkerOrCommand) {
  // clang-format off
  const std::tuple<const char*, bool, bool, bool> cases[] = {
      // entry                                        Claude Codex  Gemini
      {R"({"command":"/usr/local/bin/wexlactl busy"})", true,  true,  true},
      {R"({"command":"'/My Tools/wexlactl' busy"})",    true,  true,  true},
      {R"({"command":"/b/wexlactl busy || true"})",     false, false, true},
      {R"({"command":"/b/wexlactl busy --quiet"})",     false, false, false},
      {R"({"command":"/b/wexlactl status"})",           false, false, false},
      {R"({"command":"/opt/other busy"})",              false, false, false},
      {R"({"command":42})",                             false, false, false},
      {R"({"_origin":"wexla"})",                        true,  false, false},
      {R"({"name":"wexla"})",                           false, false, true},
      {R"({"_origin":"Wexla","name":"WEXLA"})",         false, false, false},
      {R"({"_origin":["wexla"],"name":true})",          false, false, false},
  };
  // clang-format on
  for (const auto& [text, ofClaude, ofCodex, ofGemini] : cases) {
    const Json entry = Json::parse(text);
    EXPECT_EQ(claude.isOurs(entry), ofClaude) << text;
    EXPECT_EQ(codex.isOurs(entry), ofCodex) << text;
    EXPECT_EQ(cursor.isOurs(entry), ofCodex) << text;
    EXPECT_EQ(gemini.isOurs(entry), ofGemini) << text;
  }
}

// Only events without an entry of ours get one, after the user's groups; Gemini's entries from
// before " || true" get it, keeping their path; Codex trusts an entry by its text and Cursor's
// "version" is the user's, so neither is rewritten.
TEST(AddHooks, OnlyWhereOursIsMissing) {
  // clang-format off
  const std::tuple<const AgentHooks&, Events, Events, const char*, const char*> cases[] = {
      // agent, events added, events updated, the document before, after
      {claude, {"UserPromptSubmit"}, {},
       R"({"hooks":{"PreToolUse":[{"matcher":"Bash","hooks":[{"command":"lint"},{"command":"/old/wexlactl busy"}]}],"UserPromptSubmit":[{"hooks":[{"command":"x"}]}]}})",
       R"({"hooks":{"PreToolUse":[{"matcher":"Bash","hooks":[{"command":"lint"},{"command":"/old/wexlactl busy"}]}],"UserPromptSubmit":[{"hooks":[{"command":"x"}]},{"hooks":[{"type":"command","command":"/b/wexlactl busy","_origin":"wexla"}]}]}})"},
      {gemini, {"BeforeAgent"}, {"BeforeTool"},
       R"({"hooks":{"BeforeTool":[{"hooks":[{"command":"lint"},{"name":"wexla","command":"/old/wexlactl busy","timeout":5}]}],"BeforeAgent":[{"hooks":[{"_origin":"wexla"}]}]}})",
       R"({"hooks":{"BeforeTool":[{"hooks":[{"command":"lint"},{"name":"wexla","command":"/old/wexlactl busy || true","timeout":5}]}],"BeforeAgent":[{"hooks":[{"_origin":"wexla"}]},{"hooks":[{"type":"command","command":"/b/wexlactl busy || true","name":"wexla"}]}]}})"},
      {codex, {"UserPromptSubmit"}, {},
       R"({"description":"d","hooks":{"PreToolUse":[{"hooks":[{"command":"/old/wexlactl busy"}]}]}})",
       R"({"description":"d","hooks":{"PreToolUse":[{"hooks":[{"command":"/old/wexlactl busy"}]}],"UserPromptSubmit":[{"hooks":[{"type":"command","command":"/b/wexlactl busy"}]}]}})"},
      {cursor, {"beforeShellExecution", "afterFileEdit", "beforeSubmitPrompt"}, {},
       R"({"hooks":{"afterFileEdit":[{"command":"fmt"}]},"version":"2"})",
       R"({"hooks":{"afterFileEdit":[{"command":"fmt"},{"command":"/b/wexlactl busy"}],"beforeShellExecution":[{"command":"/b/wexlactl busy"}],"beforeSubmitPrompt":[{"command":"/b/wexlactl busy"}]},"version":"2"})"},
  };
  // clang-format on
  for (const auto& [agent, added, updated, before, after] : cases) {
    Json settings = Json::parse(before);
    const HookChanges changes = addHooks(settings, agent, "/b/wexlactl busy", "f");
    EXPECT_EQ(changes.added, added) << before;
    EXPECT_EQ(changes.updated, updated) << before;
    EXPECT_EQ(settings.dump(), Json::parse(after).dump()) << before;
  }
}

TEST(AddHooks, RefusesWhatItWouldHaveToReplaceOrWhatTheAgentWouldIgnore) {
  // clang-format off
  const std::tuple<const AgentHooks&, const char*, const char*> cases[] = {
      {claude, R"({"hooks":[]})", R"("hooks" is not an object)"},
      {claude, R"({"hooks":{"UserPromptSubmit":[{"hooks":[]},"x"]}})", R"("hooks"."UserPromptSubmit" is not an array of objects)"},
      {codex, R"({"$schema":"s","description":"d","hooks":{}})", R"(Codex ignores this whole file while its top level holds "$schema" (only "hooks" and "description" may stand there))"},
      // Even with our hook in place: Codex would run none of it.
      {codex, R"({"hooks":{"PreToolUse":[{"hooks":[{"command":"/a/wexlactl busy"}]}],"UserPromptSubmit":[{"hooks":[{"command":"/a/wexlactl busy"}]}]},"version":1,"a\"b":2})",
       R"(Codex ignores this whole file while its top level holds "version", "a\"b" (only "hooks" and "description" may stand there))"},
  };
  // clang-format on
  for (const auto& [agent, text, message] : cases) {
    Json settings = Json::parse(text);
    try {
      addHooks(settings, agent, "/b/wexlactl busy", "f");
      ADD_FAILURE() << "accepted " << text;
    } catch (const SettingsError& error) {
      EXPECT_EQ(error.what(), "f: " + std::string(message) +
                                  " \u2014 refusing to modify it. Fix it by hand first.");
    }
    EXPECT_EQ(settings, Json::parse(text));
  }
}

// Groups and events that lose their last entry go, but only when an entry of ours went; what
// the agent could not read (a spoilt array, a group without usable "hooks") is left alone.
TEST(RemoveHooks, OnlyOursAndWhatItLeavesEmpty) {
  // clang-format off
  const std::tuple<const AgentHooks&, const char*, std::int64_t, const char*> cases[] = {
      {claude, R"({"a":1,"hooks":{"PreToolUse":[{"matcher":"*","hooks":[{"_origin":"wexla"},{"command":"mine"},{"command":"/x/wexlactl busy"}]}],"UserPromptSubmit":[{"hooks":[]},{"hooks":[{"_origin":"wexla"}]}],"Stop":[]}})",
       3, R"({"a":1,"hooks":{"PreToolUse":[{"matcher":"*","hooks":[{"command":"mine"}]}],"Stop":[]}})"},
      {claude, R"({"hooks":{"PreToolUse":["x",{"hooks":[{"_origin":"wexla"}]}],"UserPromptSubmit":[{"hooks":[{"_origin":"wexla"}]}]}})",
       1, R"({"hooks":{"PreToolUse":["x",{"hooks":[{"_origin":"wexla"}]}]}})"},
      {codex, R"({"hooks":{"PreToolUse":[{},{"matcher":"x"},{"hooks":"y"},{"hooks":[1]},{"hooks":[{"command":"/w/wexlactl busy"}]}]}})",
       1, R"({"hooks":{"PreToolUse":[{},{"matcher":"x"},{"hooks":"y"},{"hooks":[1]}]}})"},
      {gemini, R"({"hooks":{"BeforeTool":[{"hooks":[{"_origin":"wexla"},{"name":"wexla"},{"command":"/x/wexlactl busy || true"}]}],"AfterTool":[{"hooks":[{"name":"wexla"}]}]}})",
       2, R"({"hooks":{"BeforeTool":[{"hooks":[{"_origin":"wexla"}]}],"AfterTool":[{"hooks":[{"name":"wexla"}]}]}})"},
      {cursor, R"({"version":1,"hooks":{"stop":[{"command":"/x/wexlactl busy"}],"afterFileEdit":[{"command":"/x/wexlactl busy"},{"command":"fmt"}],"beforeSubmitPrompt":[{"command":"/y/wexlactl busy"}]}})",
       2, R"({"version":1,"hooks":{"stop":[{"command":"/x/wexlactl busy"}],"afterFileEdit":[{"command":"fmt"}]}})"},
  };
  // clang-format on
  for (const auto& [agent, before, removed, after] : cases) {
    Json settings = Json::parse(before);
    EXPECT_EQ(removeHooks(settings, agent), removed) << before;
    EXPECT_EQ(settings.dump(), Json::parse(after ? after : before).dump()) << before;
  }
}

}  // namespace
}  // namespace wexla::cli
