#include "copyengine/report/ptksummary.h"

#include <stdexcept>

#include "shared/ptkitem.h"

namespace kv {

std::string TPtkSummary::NormalizeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const bool lineBreak = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
    if (!lineBreak) {
      out += text[i];
      continue;
    }
    ++i;
    if (i + 1 >= text.size() || text[i + 1] != ' ') out += ' ';
  }
  return out;
}

int TPtkSummary::IndexOf(std::string_view text) const {
  const auto found = positions_.find(NormalizeText(text));
  return found == positions_.end() ? -1 : found->second;
}

void TPtkSummary::Add(std::string_view text) {
  std::string normal = NormalizeText(text);
  const auto [at, added] = positions_.emplace(normal, Count());
  if (!added) {
    ++counts_[static_cast<size_t>(at->second)];
    return;
  }
  messages_.push_back(std::move(normal));
  counts_.push_back(1);
}

TPtkSummaryItem TPtkSummary::GetItem(int index) const {
  if (index < 0 || index >= Count()) throw std::out_of_range("TPtkSummary: kein Eintrag " + std::to_string(index));
  const std::string& message = messages_[static_cast<size_t>(index)];
  return {message.substr(0, platform::Utf8PrefixLength(message, ptk::kMessageWidth)),
          counts_[static_cast<size_t>(index)]};
}

}  // namespace kv
