#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wexla::test {

// The documented examples of arguments and the command text they give (nothing: usage).
inline const std::vector<std::pair<std::vector<std::string>, std::optional<std::string>>>
    kCommandTextExamples = {
        {{}, std::nullopt},
        {{"help"}, std::nullopt},
        {{"-h", "status"}, std::nullopt},
        {{"on"}, "on"},
        {{"off"}, "off"},
        {{"status"}, "status"},
        {{"busy"}, "busy"},
        {{"busy", "10"}, "busy 10"},
        {{"extend", "30"}, "extend 30"},
        {{"2h"}, "extend 120"},
        {{"45m"}, "extend 45"},
        {{"45"}, "extend 45"},
        {{"45\u02BC"}, "extend 45"},
        {{"007m"}, "extend 7"},
        {{"0h"}, "extend 0"},
        {{"2H"}, "2H"},
        {{"2h30m"}, "2h30m"},
        {{"2h", "now"}, "2h now"},
        {{"99999999999999999999m"}, "extend 0"},
        {{""}, ""},
};

}  // namespace wexla::test
