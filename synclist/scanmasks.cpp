#include "synclist/scanmasks.h"

#include <algorithm>

#include "platform/text.h"

namespace kv {

std::vector<std::string> ParseMaskText(std::string_view text, std::string_view defaultMask) {
  std::string commaText(text);
  std::replace_if(commaText.begin(), commaText.end(), [](char c) { return c == ':' || c == ';'; }, ',');

  std::vector<std::string> masks;
  for (const std::string& item : platform::SplitCommaText(commaText)) {
    std::string mask = platform::Trim(item);
    if (!mask.empty()) masks.push_back(std::move(mask));
  }
  if (masks.empty() && !defaultMask.empty()) masks.emplace_back(defaultMask);
  return masks;
}

bool MatchesAnyMask(std::string_view text, const std::vector<std::string>& masks) {
  return std::any_of(masks.begin(), masks.end(),
                     [text](const std::string& mask) { return platform::MatchesMask(text, mask); });
}

}  // namespace kv
