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
using test::WriteProfileList;

ProfileSpec Numbered(const char* no, const char* name = "") {
  ProfileSpec p;
  p.profileNo = no;
  p.profileName = name;
  return p;
}

ProfileSpec FullProfile() {
  ProfileSpec p;
  p.profileNo = "0000042";
  p.profileName = "Sicherung Büro";
  p.twoSecondTolerance = 1;
  p.keepOldStamps = 1;
  p.profilePath = "C:\\kv\\Profile\\0000042\\";
  p.commandBefore = "mount /mnt/nas";
  p.commandAfter = "umount /mnt/nas";
  p.stopOnCommandError = 1;
  p.safeRename = 1;
  p.findMovedFiles = 1;
  p.extLogOn = 1;
  p.extLogPath = "C:\\kv\\ext.log";
  p.extLogSeparator = ";";
  p.extLogAppend = 1;
  p.extLogDone = 1;
  p.extLogErrors = 1;
  p.deleteMode = 3;
  p.reservedFill = 0xEE;  // the unread ranges must stay unread
  return p;
}

TEST(ProfItem, DecodesEveryFieldAtItsOffset) {
  TProfItem p = TProfItem::Decode(ProfileBytes(FullProfile()));
  EXPECT_EQ(p.profileNo, "0000042");
  EXPECT_EQ(p.profileName, "Sicherung Büro");
  EXPECT_TRUE(p.twoSecondTolerance);
  EXPECT_TRUE(p.keepOldStamps);
  EXPECT_EQ(p.profilePath, "C:\\kv\\Profile\\0000042\\");
  EXPECT_EQ(p.commandBefore, "mount /mnt/nas");
  EXPECT_EQ(p.commandAfter, "umount /mnt/nas");
  EXPECT_TRUE(p.stopOnCommandError);
  EXPECT_TRUE(p.safeRename);
  EXPECT_TRUE(p.findMovedFiles);
  EXPECT_TRUE(p.extLogOn);
  EXPECT_EQ(p.extLogPath, "C:\\kv\\ext.log");
  EXPECT_EQ(p.extLogSeparator, ";");
  EXPECT_TRUE(p.AppendsExtLog());
  EXPECT_TRUE(p.extLogDone);
  EXPECT_TRUE(p.extLogErrors);
  EXPECT_EQ(p.deleteMode, 3);
  EXPECT_TRUE(p.HasDeleteMode());
}

// A byte of 2: the append switch asks for exactly 1, the other booleans for
// anything non-zero; delete modes above 4 choose nothing.
TEST(ProfItem, BooleanBytesOtherThanOne) {
  ProfileSpec spec;
  spec.extLogAppend = 2;
  spec.extLogDone = 2;
  spec.extLogErrors = 255;
  spec.findMovedFiles = 2;
  spec.deleteMode = 5;
  TProfItem p = TProfItem::Decode(ProfileBytes(spec));
  EXPECT_FALSE(p.AppendsExtLog());
  EXPECT_EQ(p.extLogAppend, 2);
  EXPECT_TRUE(p.extLogDone);
  EXPECT_TRUE(p.extLogErrors);
  EXPECT_TRUE(p.findMovedFiles);
  EXPECT_FALSE(p.HasDeleteMode());
}

TEST(ProfItem, LengthBytesBeyondTheFieldAreClamped) {
  std::vector<uint8_t> bytes = ProfileBytes(FullProfile());
  bytes[0] = 200;     // number SS[7]
  bytes[1089] = 250;  // separator SS[5]
  TProfItem p = TProfItem::Decode(bytes);
  EXPECT_EQ(p.profileNo.size(), 7u);
  EXPECT_EQ(p.extLogSeparator.size(), 5u);
}

TEST(ProfItem, DecodeRefusesOtherSizes) {
  std::vector<uint8_t> bytes(TProfItem::kSize - 1, 0);
  EXPECT_THROW(TProfItem::Decode(bytes), std::invalid_argument);
  bytes.resize(TProfItem::kSize + 1);
  EXPECT_THROW(TProfItem::Decode(bytes), std::invalid_argument);
}

struct LookupCase {
  const char* wanted;
  bool found;
  const char* expectedName;
};

class ProfileLookupTest : public ::testing::TestWithParam<LookupCase> {};

// Three records and a cut-off fourth: numbers 1 (twice) and 2; the tail
// holds a fourth number's bytes that must never be taken.
TEST_P(ProfileLookupTest, FirstMatchingNumberWins) {
  TempTree tree;
  ProfileSpec a = Numbered("0000001", "erste");
  ProfileSpec b = Numbered("0000002", "zweite");
  ProfileSpec c = Numbered("0000001", "doppelt");
  ProfileSpec d = Numbered("0000004", "abgeschnitten");
  std::vector<uint8_t> all;
  for (const ProfileSpec& p : {a, b, c}) {
    auto rec = ProfileBytes(p);
    all.insert(all.end(), rec.begin(), rec.end());
  }
  auto cut = ProfileBytes(d);
  all.insert(all.end(), cut.begin(), cut.begin() + 100);
  test::WriteBytes(tree.Posix("Pro.kst"), all);

  ProfileLookup lookup = FindProfile(tree.Win("Pro.kst"), GetParam().wanted);
  ASSERT_EQ(lookup.profile.has_value(), GetParam().found) << lookup.error;
  if (GetParam().found) {
    EXPECT_EQ(lookup.profile->profileName, GetParam().expectedName);
    EXPECT_EQ(lookup.error, "");
  } else {
    EXPECT_NE(lookup.error.find(GetParam().wanted), std::string::npos) << lookup.error;
  }
  EXPECT_NE(lookup.note.find("100 von 1628"), std::string::npos) << lookup.note;
}

INSTANTIATE_TEST_SUITE_P(Numbers, ProfileLookupTest,
                         ::testing::Values(LookupCase{"0000001", true, "erste"},
                                           LookupCase{"0000002", true, "zweite"},
                                           LookupCase{"0000004", false, ""},   // only in the short tail
                                           LookupCase{"000001", false, ""},    // no prefix match
                                           LookupCase{"00000010", false, ""},  // longer than the field
                                           LookupCase{"", false, ""}));

TEST(ProfileList, ReadsWholeRecordsOnlyAndNamesTheTail) {
  TempTree tree;
  WriteProfileList(tree.Posix("Pro.kst"), {Numbered("0000007"), Numbered("0000008"),
                                           Numbered("0000009")},
                   100);
  ProfileListFile file = ReadProfileList(tree.Win("Pro.kst"));
  ASSERT_TRUE(file.ok) << file.error;
  ASSERT_EQ(file.profiles.size(), 3u);
  EXPECT_EQ(file.profiles[2].profileNo, "0000009");
  EXPECT_EQ(file.ignoredTailBytes, 100u);
  EXPECT_NE(file.note.find("Pro.kst"), std::string::npos);
}

TEST(ProfileList, MissingFileIsAnErrorNamingIt) {
  TempTree tree;
  ProfileLookup lookup = FindProfile(tree.Win("Pro.kst"), "0000001");
  EXPECT_FALSE(lookup.profile);
  EXPECT_NE(lookup.error.find("Pro.kst"), std::string::npos) << lookup.error;
}

TEST(ProfileList, FileShorterThanOneRecordHoldsNone) {
  TempTree tree;
  WriteProfileList(tree.Posix("Pro.kst"), {}, 1627);
  ProfileListFile file = ReadProfileList(tree.Win("Pro.kst"));
  EXPECT_TRUE(file.ok);
  EXPECT_TRUE(file.profiles.empty());
  EXPECT_EQ(file.ignoredTailBytes, 1627u);
}

}  // namespace
}  // namespace kv
