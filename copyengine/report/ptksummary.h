#pragma once
// The error report's message counter: every distinct message of the failed
// records once, with how often it occurred, in order of first occurrence.
// Messages that differ only in case count as one.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace kv {

struct TPtkSummaryItem {
  std::string message;  // at most 255 bytes, cut at a whole character
  int32_t count = 0;
};

class TPtkSummary {
 public:
  // Each CR LF becomes one blank, or nothing when a blank follows it
  // already; so a message ending in CR LF ends in a blank.
  static std::string NormalizeText(std::string_view text);

  // Position of the normalised text, compared without regard to case; -1
  // when absent.
  int IndexOf(std::string_view text) const;
  void Add(std::string_view text);
  // std::out_of_range outside 0..Count()-1.
  TPtkSummaryItem GetItem(int index) const;
  int Count() const { return static_cast<int>(messages_.size()); }

 private:
  std::vector<std::string> messages_;
  std::vector<int32_t> counts_;
  std::map<std::string, int, platform::TextLess> positions_;
};

}  // namespace kv
