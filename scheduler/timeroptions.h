#pragma once
// What the scheduler's settings window edits, without the window: the four
// run options of "Timer.ini" and the error-report address of one profile in
// "Timer.dat". The window (scheduler/windows/timeroptionswindow.h) shows and
// changes these values; loading and writing them back happen here.
#include <string>
#include <string_view>
#include <vector>

#include "scheduler/runlauncher.h"

namespace kv {

// The pages of the settings window and the tree node (absolute index) that
// shows each; an index outside the tree shows none.
enum class TOptionsPage { None, Info, Start, KDel, DelAgain, Mail };
TOptionsPage PageOfNode(int absoluteIndex);

// The mail settings of the profile the window was opened for.
struct TProfileMail {
  // False when no profile was selected, or its section is not (or no
  // longer) in "Timer.dat": nothing is shown and nothing written for it.
  bool hasProfile = false;
  bool active = false;    // the profile has a mail address
  std::string address;    // its address, else the proposed service address
};

class TTimerOptionsModel {
 public:
  explicit TTimerOptionsModel(std::string iniFileName) : iniFileName_(std::move(iniFileName)) {}

  TRunOptions LoadOptions() const { return ReadRunOptions(iniFileName_); }

  // The folder of "Timer.dat", ending in "\" (or "/").
  void SetScheduleFolder(std::string folder) { scheduleFolder_ = std::move(folder); }
  // Remembers the profile number (the section of "Timer.dat"; "" for none)
  // and reads its mail settings. Without an address of its own the field
  // proposes the registry's ServiceAdress.
  TProfileMail LoadProfileMail(std::string_view profileNo);

  // Writes everything back, as every close of the window does: the four
  // options, and for a profile that is still in "Timer.dat" its Mail key
  // (the address when active, else the key is removed). Returns one German
  // line per file that could not be written; empty when all went well.
  std::vector<std::string> Save(const TRunOptions& options, bool mailActive, std::string_view address) const;

  std::string ScheduleFileName() const { return scheduleFolder_ + "Timer.dat"; }

 private:
  bool ProfileInSchedule() const;

  std::string iniFileName_;
  std::string scheduleFolder_;
  std::string profileNo_;
};

}  // namespace kv
