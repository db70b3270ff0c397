#include "shared/profitem.h"

#include <stdexcept>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/record.h"
#include "platform/text.h"

namespace kv {
namespace {

using platform::Quoted;

using platform::RecordReader;

// TProfItem layout.
constexpr size_t kOffProfileNo = 0;
constexpr size_t kWidthProfileNo = 7;
constexpr size_t kOffProfileName = 8;
constexpr size_t kWidthProfileName = 40;
constexpr size_t kOffTwoSecondTolerance = 49;
constexpr size_t kOffKeepOldStamps = 50;
constexpr size_t kOffProfilePath = 51;
constexpr size_t kOffCommandBefore = 308;
constexpr size_t kOffCommandAfter = 564;
constexpr size_t kOffStopOnCommandError = 820;
constexpr size_t kOffSafeRename = 821;
constexpr size_t kOffFindMovedFiles = 822;
constexpr size_t kOffExtLogOn = 832;
constexpr size_t kOffExtLogPath = 833;
constexpr size_t kOffExtLogSeparator = 1089;
constexpr size_t kWidthExtLogSeparator = 5;
constexpr size_t kOffExtLogAppend = 1095;
constexpr size_t kOffExtLogDone = 1096;
constexpr size_t kOffExtLogErrors = 1097;
constexpr size_t kOffDeleteMode = 1098;
constexpr size_t kPathWidth = 255;

bool Flag(const RecordReader& r, size_t offset) { return r.U8(offset) != 0; }

}  // namespace

TProfItem TProfItem::Decode(std::span<const uint8_t> bytes) {
  if (bytes.size() != kSize) {
    throw std::invalid_argument("Profil-Datensatz: " + std::to_string(bytes.size()) + " statt " +
                                std::to_string(kSize) + " Bytes");
  }
  const RecordReader r(bytes);
  TProfItem p;
  p.profileNo = r.Text(kOffProfileNo, kWidthProfileNo);
  p.profileName = r.Text(kOffProfileName, kWidthProfileName);
  p.twoSecondTolerance = Flag(r, kOffTwoSecondTolerance);
  p.keepOldStamps = Flag(r, kOffKeepOldStamps);
  p.profilePath = r.Text(kOffProfilePath, kPathWidth);
  p.commandBefore = r.Text(kOffCommandBefore, kPathWidth);
  p.commandAfter = r.Text(kOffCommandAfter, kPathWidth);
  p.stopOnCommandError = Flag(r, kOffStopOnCommandError);
  p.safeRename = Flag(r, kOffSafeRename);
  p.findMovedFiles = Flag(r, kOffFindMovedFiles);
  p.extLogOn = Flag(r, kOffExtLogOn);
  p.extLogPath = r.Text(kOffExtLogPath, kPathWidth);
  p.extLogSeparator = r.Text(kOffExtLogSeparator, kWidthExtLogSeparator);
  p.extLogAppend = r.U8(kOffExtLogAppend);
  p.extLogDone = Flag(r, kOffExtLogDone);
  p.extLogErrors = Flag(r, kOffExtLogErrors);
  p.deleteMode = r.U8(kOffDeleteMode);
  return p;
}

std::vector<uint8_t> TProfItem::Encode() const {
  platform::RecordWriter w(kSize);
  w.TextExact(kOffProfileNo, kWidthProfileNo, profileNo, "profile number");
  w.TextExact(kOffProfileName, kWidthProfileName, profileName, "profile name");
  w.U8(kOffTwoSecondTolerance, twoSecondTolerance);
  w.U8(kOffKeepOldStamps, keepOldStamps);
  w.TextExact(kOffProfilePath, kPathWidth, profilePath, "profile path");
  w.TextExact(kOffCommandBefore, kPathWidth, commandBefore, "command before");
  w.TextExact(kOffCommandAfter, kPathWidth, commandAfter, "command after");
  w.U8(kOffStopOnCommandError, stopOnCommandError);
  w.U8(kOffSafeRename, safeRename);
  w.U8(kOffFindMovedFiles, findMovedFiles);
  w.U8(kOffExtLogOn, extLogOn);
  w.TextExact(kOffExtLogPath, kPathWidth, extLogPath, "external log path");
  w.TextExact(kOffExtLogSeparator, kWidthExtLogSeparator, extLogSeparator, "external log separator");
  w.U8(kOffExtLogAppend, extLogAppend);
  w.U8(kOffExtLogDone, extLogDone);
  w.U8(kOffExtLogErrors, extLogErrors);
  w.U8(kOffDeleteMode, deleteMode);
  return w.take();
}

const TProfItem* ProfileListFile::Find(std::string_view profileNo) const {
  for (const TProfItem& p : profiles) {
    if (p.profileNo == profileNo) return &p;
  }
  return nullptr;
}

ProfileListFile ReadProfileList(std::string_view path) {
  ProfileListFile file;
  std::vector<uint8_t> bytes;
  if (!platform::ReadWholeFile(path, bytes)) {
    file.error = "Profilliste " + Quoted(path) + " nicht lesbar: " +
                 platform::SysErrorMessage(platform::GetLastError());
    return file;
  }
  file.ok = true;
  const std::span<const uint8_t> all(bytes);
  size_t at = 0;
  for (; at + TProfItem::kSize <= all.size(); at += TProfItem::kSize) {
    file.profiles.push_back(TProfItem::Decode(all.subspan(at, TProfItem::kSize)));
  }
  file.ignoredTailBytes = all.size() - at;
  if (file.ignoredTailBytes != 0) {
    file.note = "Profilliste " + Quoted(path) + ": unvollständiger letzter Datensatz (" +
                std::to_string(file.ignoredTailBytes) + " von " + std::to_string(TProfItem::kSize) +
                " Bytes) ignoriert";
  }
  return file;
}

ProfileLookup FindProfile(std::string_view path, std::string_view profileNo) {
  ProfileListFile file = ReadProfileList(path);
  ProfileLookup lookup;
  lookup.note = std::move(file.note);
  if (!file.ok) {
    lookup.error = std::move(file.error);
    return lookup;
  }
  if (const TProfItem* found = file.Find(profileNo)) {
    lookup.profile = *found;
    return lookup;
  }
  lookup.error = "Profil " + Quoted(profileNo) + " steht nicht in der Profilliste " + Quoted(path);
  return lookup;
}

}  // namespace kv
