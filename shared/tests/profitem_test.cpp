#include "shared/profitem.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/fixtures.h"
#include "testsupport/profiles.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::ProfileBytes;
using test::ProfileSpec;
using test::TempTree;

ProfileSpec Numbered(const char* no, const char* name = "") {
  ProfileSpec p;
  p.profileNo = no;
  p.profileName = name;
  return p;
}

TEST(ProfItem, DecodesEveryFieldAtItsOffset) {
  const ProfileSpec spec{.profileNo = "0000042", .profileName = "Sicherung Büro", .twoSecondTolerance = 1,
                   .keepOldStamps = 1, .profilePath = "C:\\kv\\Profile\\0000042\\", .commandBefore = "mount /mnt/nas",
                   .commandAfter = "umount /mnt/nas", .stopOnCommandError = 1, .safeRename = 1, .findMovedFiles = 1,
                   .extLogOn = 1, .extLogPath = "C:\\kv\\ext.log", .extLogSeparator = ";", .extLogAppend = 1,
                   .extLogDone = 1, .extLogErrors = 1, .deleteMode = 3,
                   .reservedFill = 0xEE};  // the unread ranges must stay unread
  TProfItem p = TProfItem::Decode(ProfileBytes(spec));
  // Written back, the record is the editor's, but for the bytes nobody reads.
  ProfileSpec unfilled = spec;
  unfilled.reservedFill = 0;
  EXPECT_EQ(p.Encode(), ProfileBytes(unfilled));
  EXPECT_EQ(p.profileNo + "|" + p.profileName + "|" + p.profilePath + "|" + p.commandBefore + "|" + p.commandAfter +
                "|" + p.extLogPath + "|" + p.extLogSeparator,
            "0000042|Sicherung Büro|C:\\kv\\Profile\\0000042\\|mount /mnt/nas|umount /mnt/nas|C:\\kv\\ext.log|;");
  const bool flags[] = {p.twoSecondTolerance, p.keepOldStamps, p.stopOnCommandError, p.safeRename,
                        p.findMovedFiles,     p.extLogOn,      p.AppendsExtLog(),    p.extLogDone,
                        p.extLogErrors,       p.HasDeleteMode()};
  for (bool flag : flags) EXPECT_TRUE(flag);
  EXPECT_EQ(p.deleteMode, 3);

  // A byte of 2: the append switch asks for exactly 1, the other booleans
  // for anything non-zero; delete modes above 4 choose nothing.
  ProfileSpec odd;
  odd.findMovedFiles = odd.extLogAppend = odd.extLogDone = 2;
  odd.extLogErrors = 255;
  odd.deleteMode = 5;
  p = TProfItem::Decode(ProfileBytes(odd));
  EXPECT_FALSE(p.AppendsExtLog());
  EXPECT_EQ(p.extLogAppend, 2);
  EXPECT_TRUE(p.extLogDone && p.extLogErrors && p.findMovedFiles);
  EXPECT_FALSE(p.HasDeleteMode());
}

TEST(ProfItem, ClampsLengthBytesAndRefusesOtherSizes) {
  std::vector<uint8_t> bytes = ProfileBytes(Numbered("0000001", "x"));
  bytes[0] = 200;     // number SS[7]
  bytes[1089] = 250;  // separator SS[5]
  TProfItem p = TProfItem::Decode(bytes);
  EXPECT_EQ(p.profileNo.size(), 7u);
  EXPECT_EQ(p.extLogSeparator.size(), 5u);
  for (size_t size : {TProfItem::kSize - 1, TProfItem::kSize + 1}) {
    EXPECT_THROW(TProfItem::Decode(std::vector<uint8_t>(size, 0)), std::invalid_argument) << size;
  }
}

// Three records and a cut-off fourth: numbers 1 (twice) and 2; the tail
// holds a fourth number's bytes that must never be taken. Per case the
// number asked for and the name found (nullptr: none).
TEST(ProfileLookup, FirstMatchingNumberWins) {
  TempTree tree;
  std::vector<uint8_t> all;
  for (const ProfileSpec& p : {Numbered("0000001", "erste"), Numbered("0000002", "zweite"),
                               Numbered("0000001", "doppelt"), Numbered("0000004", "abgeschnitten")}) {
    auto rec = ProfileBytes(p);
    all.insert(all.end(), rec.begin(), rec.end());
  }
  all.resize(3 * TProfItem::kSize + 100);
  test::WriteBytes(tree.Posix("Pro.kst"), all);
  const std::pair<const char*, const char*> cases[] = {
      {"0000001", "erste"}, {"0000002", "zweite"}, {"0000004", nullptr},  // only in the short tail
      {"000001", nullptr},                                                // no prefix match
      {"00000010", nullptr},                                              // longer than the field
      {"", nullptr}};
  for (const auto& [wanted, name] : cases) {
    SCOPED_TRACE(wanted);
    ProfileLookup lookup = FindProfile(tree.Win("Pro.kst"), wanted);
    ASSERT_EQ(lookup.profile.has_value(), name != nullptr) << lookup.error;
    if (lookup.profile) {
      EXPECT_EQ(lookup.profile->profileName, name);
      EXPECT_EQ(lookup.error, "");
    } else {
      EXPECT_NE(lookup.error.find(wanted), std::string::npos) << lookup.error;
    }
    EXPECT_NE(lookup.note.find("100 von 1628"), std::string::npos) << lookup.note;
  }
}

TEST(ProfileList, ReadsWholeRecordsOnlyAndAMissingFileIsAnErrorNamingIt) {
  TempTree tree;
  for (size_t records : {3u, 0u}) {
    const size_t tail = records == 0 ? TProfItem::kSize - 1 : 100;
    test::WriteProfileList(tree.Posix("Pro.kst"),
                           std::vector<ProfileSpec>(records, Numbered("0000009")), tail);
    ProfileListFile file = ReadProfileList(tree.Win("Pro.kst"));
    ASSERT_TRUE(file.ok) << file.error;
    EXPECT_EQ(file.profiles.size(), records);
    EXPECT_EQ(file.ignoredTailBytes, tail);
    EXPECT_NE(file.note.find("Pro.kst"), std::string::npos);
  }
  ProfileLookup lookup = FindProfile(tree.Win("fehlt/Pro.kst"), "0000001");
  EXPECT_FALSE(lookup.profile);
  EXPECT_NE(lookup.error.find("Pro.kst"), std::string::npos) << lookup.error;
}

}  // namespace
}  // namespace kv
