#pragma once
// The run log "Timer.log" beside the program: which profiles have started
// today (section "DD.MM.YY", key = profile number, value "Done") and which
// profile is being started now (section "State", key "Active"). Sections of
// other days go at the next pass. The file is written only when its content
// changes, so a scheduler that has nothing to do leaves it alone.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/inifile.h"

namespace kv {

class TTimerLog {
 public:
  explicit TTimerLog(std::string path) : ini_(std::move(path)) {}

  // The section name of a day: "DD.MM.YY".
  static std::string SectionOf(int64_t day);

  // Erases every section but the day's and "State".
  void Clean(int64_t today);
  bool IsDoneToday(std::string_view profileNo, int64_t day) const;
  void MarkDone(std::string_view profileNo, int64_t day);
  // The profile being started; "" between starts.
  void SetActive(std::string_view profileNo);

 private:
  platform::IniFile ini_;
};

}  // namespace kv
