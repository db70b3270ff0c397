#include "shared/useroptions.h"

#include <gtest/gtest.h>

#include <string>

#include "testsupport/fixtures.h"
#include "testsupport/profiles.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::TempTree;
using test::UserOptionsSpec;
using test::WriteUserOptions;

class UserOptionsTest : public ::testing::Test {
 protected:
  // The schedule file the scheduler passes: working folder + "Profile\Timer.dat".
  std::string ScheduleFile() const { return tree_.Win("work/Profile/Timer.dat"); }
  std::string UsrOpt() const { return tree_.Posix("work/UsrOpt.kst"); }
  void SetUp() override { tree_.Mkdir("work/Profile"); }

  test::ScopedRegistry registry_;
  TempTree tree_;
};

TEST_F(UserOptionsTest, ReadsEveryFieldFromTheWorkingFolder) {
  WriteUserOptions(UsrOpt(), {.folderRowKind = 1, .hourTolerance = 1, .maxPtk = 25, .copyNTFSRights = 2,
                              .archiveShredder = 1, .reservedFill = 0x5A});
  std::string note = "stale";
  TUserOptions uo = LoadUserOptions(ScheduleFile(), &note);
  EXPECT_EQ(uo.profileFolder, tree_.WinFolder("work/Profile"));
  EXPECT_EQ(uo.FolderRowKind(), 1);
  EXPECT_TRUE(uo.HourTolerance());
  EXPECT_EQ(uo.MaxPtk(), 25);
  EXPECT_TRUE(uo.CopyNTFSRights());  // any non-zero byte
  EXPECT_TRUE(uo.ArchiveShredder());
  EXPECT_EQ(uo.options[0], 0x5A);  // the record is kept byte for byte
  EXPECT_EQ(note, "");
}

TEST_F(UserOptionsTest, MissingFileGivesTheDefaultsWithoutANote) {
  std::string note;
  TUserOptions uo = LoadUserOptions(ScheduleFile(), &note);
  EXPECT_EQ(uo.profileFolder, tree_.WinFolder("work/Profile"));
  EXPECT_EQ(uo.MaxPtk(), 1000);
  EXPECT_FALSE(uo.CopyNTFSRights() || uo.ArchiveShredder() || uo.HourTolerance());
  EXPECT_EQ(uo.FolderRowKind(), 0);
  EXPECT_EQ(note, "");
}

// The file holds MaxPtk 7 and CopyNTFSRights 1; cut at various lengths. A
// count that is not wholly in the file must not become 0 (or a mix of file
// and default bytes). Beyond 600 bytes only the first record is read.
TEST_F(UserOptionsTest, FieldsBeyondTheEndOfAShortFileKeepTheirDefaults) {
  const struct {
    size_t keep;
    int32_t maxPtk;        // what the scheduler gets
    bool ntfs;             // byte 64 present?
    bool noteNamesMaxPtk;  // the note says the count was defaulted
  } cases[] = {{0, 1000, false, true}, {14, 1000, false, true}, {58, 1000, false, true}, {59, 1000, false, true},
               {60, 7, false, false},  {65, 7, true, false},     {600, 7, true, false},   {900, 7, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keep);
    std::vector<uint8_t> bytes = test::UserOptionsBytes({.folderRowKind = 2, .maxPtk = 7, .copyNTFSRights = 1});
    bytes.resize(c.keep, 0xFF);
    test::WriteBytes(UsrOpt(), bytes);
    std::string note;
    TUserOptions uo = LoadUserOptions(ScheduleFile(), &note);
    EXPECT_EQ(uo.MaxPtk(), c.maxPtk);
    EXPECT_EQ(uo.CopyNTFSRights(), c.ntfs);
    EXPECT_EQ(uo.FolderRowKind(), c.keep > 13 ? 2 : 0);
    EXPECT_EQ(note.find("UsrOpt.kst") != std::string::npos, c.keep < 600) << note;
    EXPECT_EQ(note.find("1000") != std::string::npos, c.noteNamesMaxPtk) << note;
  }
}

}  // namespace
}  // namespace kv
