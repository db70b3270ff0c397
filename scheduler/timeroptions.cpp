#include "scheduler/timeroptions.h"

#include "platform/errors.h"
#include "platform/inifile.h"
#include "platform/registry.h"
#include "scheduler/schedulefile.h"

namespace kv {
namespace {

constexpr std::string_view kOptionsSection = "Options";
constexpr std::string_view kMailKey = "Mail";
constexpr std::string_view kServiceValue = "ServiceAdress";

std::string WriteFailure(const std::string& fileName) {
  return "Die Einstellungen konnten nicht in \"" + fileName +
         "\" gespeichert werden: " + platform::SysErrorMessage(platform::GetLastError());
}

bool WriteOptions(platform::IniFile& ini, const TRunOptions& options) {
  return ini.WriteBool(kOptionsSection, "ShowProcess", options.showProcess) &&
         ini.WriteBool(kOptionsSection, "Minimized", options.minimized) &&
         ini.WriteInteger(kOptionsSection, "CriticDel", options.criticDel) &&
         ini.WriteBool(kOptionsSection, "CheckDeleteAgain", options.checkDeleteAgain);
}

}  // namespace

TOptionsPage PageOfNode(int absoluteIndex) {
  switch (absoluteIndex) {
    case 0:
    case 4:  // "Profilbezogen" has no page of its own
      return TOptionsPage::Info;
    case 1:
      return TOptionsPage::Start;
    case 2:
      return TOptionsPage::KDel;
    case 3:
      return TOptionsPage::DelAgain;
    case 5:
      return TOptionsPage::Mail;
    default:
      return TOptionsPage::None;
  }
}

// A section counts as there while it holds a key: the profile editor
// removes a profile's section whole, and writing Mail into a missing one
// would bring it back (or make a section "[]" when nothing was selected).
bool TTimerOptionsModel::ProfileInSchedule() const {
  return !profileNo_.empty() && platform::IniFile(ScheduleFileName()).SectionExists(profileNo_);
}

TProfileMail TTimerOptionsModel::LoadProfileMail(std::string_view profileNo) {
  profileNo_ = std::string(profileNo);
  TProfileMail mail;
  if (!ProfileInSchedule()) return mail;
  mail.hasProfile = true;
  mail.address = platform::IniFile(ScheduleFileName()).ReadString(profileNo_, kMailKey, "");
  mail.active = !mail.address.empty();
  if (!mail.active) {
    const platform::Registry user(platform::Hive::CurrentUser);
    if (user.KeyExists(kUserKey)) mail.address = user.ReadString(kUserKey, kServiceValue).value_or("");
  }
  return mail;
}

std::vector<std::string> TTimerOptionsModel::Save(const TRunOptions& options, bool mailActive,
                                                  std::string_view address) const {
  std::vector<std::string> failures;
  platform::IniFile ini(iniFileName_);
  if (!WriteOptions(ini, options)) failures.push_back(WriteFailure(iniFileName_));
  if (!ProfileInSchedule()) return failures;
  platform::IniFile schedule(ScheduleFileName());
  const bool written =
      mailActive ? schedule.WriteString(profileNo_, kMailKey, address) : schedule.DeleteKey(profileNo_, kMailKey);
  if (!written) failures.push_back(WriteFailure(schedule.fileName()));
  return failures;
}

}  // namespace kv
