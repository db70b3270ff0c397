// The copy object's properties: what a setter makes of a value beyond
// storing it, and what a failed or abandoned object leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "copyengine/copyobj.h"
#include "copyengine/tests/engine_fixture.h"
#include "platform/com/errorinfo.h"
#include "testsupport/fixtures.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using namespace test;
using namespace platform;

// Holds one reference, as a client does.
class Obj {
 public:
  Obj() : p_(new TCopyObj) { p_->AddRef(); }
  ~Obj() { Release(); }
  TCopyObj* operator->() const { return p_; }
  void Release() { p_ = p_ ? (p_->Release(), nullptr) : nullptr; }

 private:
  TCopyObj* p_;
};

class CopyObjTest : public ::testing::Test {
 protected:
  TempTree tree;
  ScopedRegistry registry;
  void SetUp() override {
    tree.Write("W/Profile/7/SrcDest.kst", "");
    tree.Write("W/Profile/7/$job.tmp", "");
  }
  std::string Win(const std::string& rel) const { return tree.Win(rel); }
};

TEST_F(CopyObjTest, DelSchredderNumbersMapToTheDeleterStylesAndOthersKeepTheStyle) {
  using enum TDelStyle;  // numbers out of range keep the style before
  const std::pair<int32_t, TDelStyle> cases[] = {{0, delNormal},   {1, delBitbucket}, {2, delBackup},
                                                 {3, delRename},   {4, delShredder},  {7, delShredder},
                                                 {-1, delShredder}, {0, delNormal},    {5, delNormal}};
  Obj obj;
  for (const auto& [value, style] : cases) {
    EXPECT_EQ(obj->Set_DelSchredder(value), S_OK);
    EXPECT_EQ(obj->deleter().DelStyle, style) << value;
  }
  Obj fresh;
  fresh->Set_DelSchredder(7);
  EXPECT_EQ(fresh->deleter().DelStyle, TDelStyle::delNormal);
}

TEST_F(CopyObjTest, NullTextsAndAnyNonZeroFlagAreTakenAsTheSchedulerMeansThem) {
  Obj obj;
  obj->Set_Manuell(1);
  obj->Set_Minimized(-2);
  EXPECT_TRUE(obj->settings().manual && obj->settings().minimized);
  EXPECT_EQ(obj->Set_AnalyseTime(nullptr), S_OK);
  EXPECT_EQ(obj->settings().analyseTime, "00:00:00");
  EXPECT_EQ(obj->Set_ExtTrenn(nullptr), S_OK);
  EXPECT_EQ(obj->settings().externalLog.separator, "");
}

TEST_F(CopyObjTest, SrcFilePicksTheIndexFolderByManuellAsItIsThen) {
  Obj before;
  ASSERT_EQ(before->Set_SrcFile(Win("W/Profile/7/$job.tmp").c_str()), S_OK);
  before->Set_Manuell(VARIANT_TRUE);
  EXPECT_EQ(before->files().lastRunFolder, tree.WinFolder("W/Profile/7") + "AUTOptk\\");
  EXPECT_EQ(before->profileName(), "7");

  Obj after;
  after->Set_Manuell(VARIANT_TRUE);
  ASSERT_EQ(after->Set_SrcFile(Win("W/Profile/7/$job.tmp").c_str()), S_OK);
  EXPECT_EQ(after->files().lastRunFolder, tree.WinFolder("W/Profile/7") + "ptk\\");
}

TEST_F(CopyObjTest, MissingFilesFailWithADescriptionAndUsableObjects) {
  Obj obj;
  const HRESULT src = obj->Set_SrcFile(Win("W/Profile/7/none.tmp").c_str());
  EXPECT_TRUE(FAILED(src));
  std::optional<ErrorInfo> info = GetErrorInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->source, "Kestro.CopyObj");
  EXPECT_NE(info->description.find("none.tmp"), std::string::npos);

  EXPECT_TRUE(FAILED(obj->Set_MainFile(Win("W/Profile/7/none.kst").c_str())));
  EXPECT_TRUE(GetErrorInfo());
  // Without SrcFile the run fails, and says why.
  EXPECT_TRUE(FAILED(obj->CopyFiles()));
  info = GetErrorInfo();
  ASSERT_TRUE(info);
  EXPECT_NE(info->description.find("SrcFile"), std::string::npos);
  // Never twice.
  EXPECT_TRUE(FAILED(obj->CopyFiles()));
  // A protocol that cannot be opened is no failure.
  EXPECT_EQ(obj->Set_PtkFile(Win("W/none.ptk").c_str()), S_OK);
  EXPECT_EQ(obj->Set_PtkFile(nullptr), S_OK);
}

TEST_F(CopyObjTest, MainFileCopiesThePairsBesideThemAndSetsTheBackupRoot) {
  Obj obj;
  ASSERT_EQ(obj->Set_MainFile(Win("W/Profile/7/SrcDest.kst").c_str()), S_OK);
  EXPECT_EQ(obj->deleter().BackupPath, tree.WinFolder("W") + "BackUp\\");
  const std::string copy = obj->files().pairCopyPath;
  ASSERT_FALSE(copy.empty());
  EXPECT_EQ(copy.substr(0, tree.WinFolder("W/Profile/7").size() + 1), tree.WinFolder("W/Profile/7") + "$");
  const std::string copyName = copy.substr(copy.rfind('\\') + 1);
  EXPECT_TRUE(tree.Exists("W/Profile/7/" + copyName));
  obj.Release();
  // Released without a run: the copy goes all the same.
  EXPECT_FALSE(tree.Exists("W/Profile/7/" + copyName));
}

TEST_F(CopyObjTest, OSFileMovesThePreviousStampsAsideAndAnUnusedObjectPutsThemBack) {
  tree.Write("W/Profile/7/OS.vrl", "previous stamps");
  {
    Obj obj;
    ASSERT_EQ(obj->Set_OSFile(Win("W/Profile/7/OS.vrl").c_str()), S_OK);
    EXPECT_TRUE(obj->files().oldStampsMoved);
    EXPECT_EQ(tree.Read("W/Profile/7/OS.vrl1"), "previous stamps");
    EXPECT_EQ(tree.Read("W/Profile/7/OS.vrl"), "");
    // A second call must not move this run's empty file over the history.
    ASSERT_EQ(obj->Set_OSFile(Win("W/Profile/7/OS.vrl").c_str()), S_OK);
    EXPECT_EQ(tree.Read("W/Profile/7/OS.vrl1"), "previous stamps");
  }
  EXPECT_EQ(tree.Read("W/Profile/7/OS.vrl"), "previous stamps");
  EXPECT_FALSE(tree.Exists("W/Profile/7/OS.vrl1"));

  // A file that cannot be started: no stamps, and still success.
  Obj obj;
  EXPECT_EQ(obj->Set_OSFile(Win("W/Profile/7/no/such/folder/OS.vrl").c_str()), S_OK);
  EXPECT_FALSE(obj->files().oldStamps);
  EXPECT_FALSE(obj->files().oldStampsMoved);
}

}  // namespace
}  // namespace kv
