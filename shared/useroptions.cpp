#include "shared/useroptions.h"

#include <algorithm>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/record.h"

namespace kv {
namespace {

constexpr size_t kMaxPtkEnd = TUserOptions::kOffMaxPtk + 4;

// "W\Profile\Timer.dat" -> "W\".
std::string WorkingFolderOf(std::string_view scheduleFile) {
  const std::string profileFolder = platform::ExtractFilePath(scheduleFile);
  return platform::ExtractFilePath(platform::ExcludeTrailingBackslash(profileFolder));
}

void OverlayFileBytes(TUserOptions& uo, const std::vector<uint8_t>& bytes) {
  const size_t taken = std::min(bytes.size(), TUserOptions::kRecordSize);
  uo.options.fill(0);
  std::copy_n(bytes.begin(), taken, uo.options.begin());
  if (taken >= kMaxPtkEnd) return;
  const auto defaults = TUserOptions::DefaultRecord();
  std::copy_n(defaults.begin() + TUserOptions::kOffMaxPtk, 4, uo.options.begin() + TUserOptions::kOffMaxPtk);
}

}  // namespace

int32_t TUserOptions::MaxPtk() const {
  return platform::RecordReader(std::span<const uint8_t>(options)).I32(kOffMaxPtk);
}

std::array<uint8_t, TUserOptions::kRecordSize> TUserOptions::DefaultRecord() {
  platform::RecordWriter w(kRecordSize);
  w.I32(kOffMaxPtk, kDefaultMaxPtk);
  std::array<uint8_t, kRecordSize> record{};
  std::copy_n(w.bytes().begin(), kRecordSize, record.begin());
  return record;
}

TUserOptions LoadUserOptions(std::string_view scheduleFile, std::string* note) {
  const std::string workingFolder = WorkingFolderOf(scheduleFile);
  TUserOptions uo;
  uo.profileFolder = workingFolder + "Profile\\";
  if (note) note->clear();

  const std::string fileName = workingFolder + "UsrOpt.kst";
  std::vector<uint8_t> bytes;
  if (!platform::ReadWholeFile(fileName, bytes)) return uo;
  OverlayFileBytes(uo, bytes);
  if (note && bytes.size() < TUserOptions::kRecordSize) {
    *note = "Benutzeroptionen \"" + fileName + "\": nur " + std::to_string(bytes.size()) + " von " +
            std::to_string(TUserOptions::kRecordSize) + " Bytes; fehlende Felder mit Vorgabewerten" +
            (bytes.size() < kMaxPtkEnd ? " (maximale Protokollzahl 1000)" : "");
  }
  return uo;
}

}  // namespace kv
