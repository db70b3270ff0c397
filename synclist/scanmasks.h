#pragma once
// Wildcard mask lists as the profile's filter texts give them.
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// ":" and ";" separate masks like ","; items are split as comma text (quotes
// keep blanks and commas), trimmed, and empty ones dropped. When nothing
// remains, defaultMask (if not empty) becomes the only mask.
std::vector<std::string> ParseMaskText(std::string_view text, std::string_view defaultMask = {});

// Whole-text, case-insensitive match against any of the masks.
bool MatchesAnyMask(std::string_view text, const std::vector<std::string>& masks);

}  // namespace kv
