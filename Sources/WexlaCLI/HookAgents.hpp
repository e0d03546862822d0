#pragma once

#include <span>
#include <string>
#include <string_view>

#include "HookEditor.hpp"

namespace wexla::cli {

// Every agent whose hooks wexlactl installs, in the order of its hook words: adding an agent is
// adding a row.
std::span<const AgentHooks> hookAgents();

// The agent whose hook words use `word` (install-WORD-hooks); none for another word.
const AgentHooks* findHookAgent(std::string_view word);

// One line for each agent: its name, its file, and whether our hook is there now.
std::string hooksReport(const HookEnvironment& environment);

}  // namespace wexla::cli
