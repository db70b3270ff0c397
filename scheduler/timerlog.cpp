#include "scheduler/timerlog.h"

#include "platform/text.h"
#include "platform/time.h"

namespace kv {
namespace {

constexpr std::string_view kStateSection = "State";
constexpr std::string_view kActiveKey = "Active";

}  // namespace

std::string TTimerLog::SectionOf(int64_t day) {
  return platform::FormatDateShort(platform::CivilFromDateTime(static_cast<platform::DateTime>(day)));
}

void TTimerLog::Clean(int64_t today) {
  const std::string keep = SectionOf(today);
  for (const std::string& section : ini_.ReadSections()) {
    if (platform::SameText(section, keep) || platform::SameText(section, kStateSection)) continue;
    ini_.EraseSection(section);
  }
}

bool TTimerLog::IsDoneToday(std::string_view profileNo, int64_t day) const {
  return ini_.ValueExists(SectionOf(day), profileNo);
}

void TTimerLog::MarkDone(std::string_view profileNo, int64_t day) {
  ini_.WriteString(SectionOf(day), profileNo, "Done");
}

void TTimerLog::SetActive(std::string_view profileNo) {
  // The write re-reads the file and replaces it only when the value differs.
  ini_.WriteString(kStateSection, kActiveKey, profileNo);
}

}  // namespace kv
