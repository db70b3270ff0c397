#include "testsupport/profiles.h"

#include <algorithm>
#include <fstream>

#include "testsupport/fixtures.h"
#include "testsupport/goldenbytes.h"

namespace kv::test {

std::vector<uint8_t> ProfileBytes(const ProfileSpec& p) {
  GoldenBytes b(kProfileRecordSize, p.reservedFill);
  b.Text(0, 7, p.profileNo);
  b.Text(8, 40, p.profileName);
  b.U8(49, p.twoSecondTolerance);
  b.U8(50, p.keepOldStamps);
  b.Text(51, 255, p.profilePath);
  b.Text(308, 255, p.commandBefore);
  b.Text(564, 255, p.commandAfter);
  b.U8(820, p.stopOnCommandError);
  b.U8(821, p.safeRename);
  b.U8(822, p.findMovedFiles);
  b.U8(832, p.extLogOn);
  b.Text(833, 255, p.extLogPath);
  b.Text(1089, 5, p.extLogSeparator);
  b.U8(1095, p.extLogAppend);
  b.U8(1096, p.extLogDone);
  b.U8(1097, p.extLogErrors);
  b.U8(1098, p.deleteMode);
  return b.take();
}

void WriteProfileList(const std::string& posixPath, const std::vector<ProfileSpec>& profiles, size_t extraTail) {
  std::vector<uint8_t> all;
  for (const ProfileSpec& p : profiles) {
    std::vector<uint8_t> rec = ProfileBytes(p);
    all.insert(all.end(), rec.begin(), rec.end());
  }
  all.insert(all.end(), extraTail, 0xAA);
  WriteBytes(posixPath, all);
}

std::vector<uint8_t> UserOptionsBytes(const UserOptionsSpec& o) {
  GoldenBytes b(kUserOptionsRecordSize, o.reservedFill);
  b.U8(13, o.folderRowKind);
  b.U8(14, o.hourTolerance);
  b.Int(56, static_cast<uint32_t>(o.maxPtk), 4);
  b.U8(64, o.copyNTFSRights);
  b.U8(72, o.archiveShredder);
  return b.take();
}

void WriteUserOptions(const std::string& posixPath, const UserOptionsSpec& options, std::optional<size_t> keep) {
  std::vector<uint8_t> bytes = UserOptionsBytes(options);
  if (keep && *keep < bytes.size()) bytes.resize(*keep);
  WriteBytes(posixPath, bytes);
}

void WriteFilters(const std::string& posixPath, const std::vector<FilterSpec>& pairs) {
  std::ofstream out(posixPath, std::ios::binary | std::ios::trunc);
  auto section = [&out](const std::string& name, const std::vector<std::string>& keys) {
    if (keys.empty()) return;
    out << "[" << name << "]\r\n";
    for (const std::string& key : keys) out << key << "=1\r\n";
    out << "\r\n";
  };
  for (const FilterSpec& p : pairs) {
    section("Fldr" + p.sourceRoot + p.destinationRoot, p.folderKeys);
    section("File" + p.sourceRoot + p.destinationRoot, p.fileKeys);
  }
}

}  // namespace kv::test
