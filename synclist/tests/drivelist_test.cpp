#include "synclist/drivelist.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/inifile.h"
#include "platform/text.h"
#include "platform/volumes.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using platform::DriveType;
using platform::Volume;

// A connect command as a volume would name it: it counts its calls, keeps
// what it got on standard input per call, and "mounts" the share (creates
// its folder) only when the second input line is the right password.
constexpr const char* kFakeConnect = R"sh(#!/bin/sh
dir=$(dirname "$0")
n=$(cat "$dir/count" 2>/dev/null || echo 0)
n=$((n + 1))
echo "$n" > "$dir/count"
printf '%s\n' "$@" > "$dir/args.$n"
cat > "$dir/stdin.$n"
if [ "$(sed -n 2p "$dir/stdin.$n")" = "geheim" ]; then
  mkdir -p "$1"
  exit 0
fi
exit 1
)sh";

class DriveListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.Mkdir("r");
    tree_.Mkdir("f");
    tree_.Mkdir("run");
    tree_.Write("con nect/fake.sh", kFakeConnect);
    platform::VolumeTable table = platform::VolumeTable::Load();
    table.Set(MakeVolume("R:", "r", DriveType::Remote, "\\\\NAS\\R"));
    table.Set(MakeVolume("F:", "f", DriveType::Fixed, ""));
    Volume share = MakeVolume("\\\\srv\\share", "share", std::nullopt, "");
    // The share folder is the command's only argument: no secret on the line.
    share.connectCommand = "/bin/sh '" + tree_.Posix("con nect/fake.sh") + "' '" + tree_.Posix("share") + "'";
    table.Set(share);
    table.Save();
  }

  Volume MakeVolume(std::string root, std::string_view rel, std::optional<DriveType> type, std::string remote) {
    Volume v;
    v.root = std::move(root);
    v.folder = tree_.Posix(rel);
    v.type = type;
    v.remoteName = std::move(remote);
    v.mustBeMounted = false;
    return v;
  }

  int ConnectCalls() const {
    return tree_.Exists("con nect/count") ? std::stoi(tree_.Read("con nect/count")) : 0;
  }
  std::string StdinOfCall(int n) const { return tree_.Read("con nect/stdin." + std::to_string(n)); }

  test::ScopedRegistry registry_;
  test::TempTree tree_;
  test::ScopedEnv runtime_{"XDG_RUNTIME_DIR", tree_.Posix("run").c_str()};
};

void ExpectEntry(const TDriveList& list, int row, const TDriveEntry& want) {
  ASSERT_LT(row, list.Count());
  TDriveEntry got = list.GetEntry(row);
  EXPECT_EQ(got.name, want.name) << "row " << row;
  EXPECT_EQ(got.uncName, want.uncName) << "row " << row;
  EXPECT_EQ(got.kind, want.kind) << "row " << row;
  EXPECT_EQ(got.user, want.user) << "row " << row;
  EXPECT_EQ(got.password, want.password) << "row " << row;
  EXPECT_EQ(got.active, want.active) << "row " << row;
}

TEST(DriveRootTest, DrivePartLowerCasedWithBackslash) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\Data\\x.txt", "c:\\"}, {"d:", "d:\\"}, {"\\\\Srv\\Share\\Dir\\", "\\\\srv\\share\\"},
      {"", ""}, {"relative\\path", ""}, {"ftp://host/dir", ""},
  };
  for (auto [path, root] : cases) EXPECT_EQ(DriveRootOf(path), root) << path;
}

TEST_F(DriveListTest, AddPathDecidesTheKindOfEachDrive) {
  TDriveList list;
  list.AddPath("C:\\Data\\", "", "", "");
  list.AddPath("c:\\other\\", "", "", "");  // same drive: no second row
  list.AddPath("R:\\Projekte\\", "\\\\nas\\r\\", "anna", "pw");
  list.AddPath("F:\\x\\", "\\\\ignored\\", "u", "p");
  list.AddPath("Q:\\x\\", "", "", "");  // no such drive, nothing to connect it with
  list.AddPath("ftp://host/dir/", "host", "u", "p");
  ASSERT_EQ(list.Count(), 4);
  ExpectEntry(list, 0, {"c:\\", "", kDriveKindLocal, "", "", true});
  ExpectEntry(list, 1, {"r:\\", "\\\\nas\\r\\", kDriveKindNetworkLetter, "anna", "pw", true});
  ExpectEntry(list, 2, {"f:\\", "", kDriveKindLocal, "", "", true});
  ExpectEntry(list, 3, {"q:\\", "", kDriveKindLocal, "", "", false});
  EXPECT_EQ(list.IndexOf("C:\\anything"), 0);
  EXPECT_EQ(list.IndexOf("Q:"), 3);
  EXPECT_EQ(list.IndexOf("Z:\\"), -1);
  EXPECT_EQ(ConnectCalls(), 0);
}

TEST_F(DriveListTest, AShareIsConnectedWithoutThenWithCredentialsOnStandardInput) {
  TDriveList list;
  list.AddPath("\\\\srv\\share\\dir\\", "\\\\srv\\share\\", "anna", "geheim");
  ExpectEntry(list, 0, {"\\\\srv\\share\\", "\\\\srv\\share\\", kDriveKindNetworkShare, "anna", "geheim", true});
  ASSERT_EQ(ConnectCalls(), 2);
  EXPECT_EQ(StdinOfCall(1), "");
  EXPECT_EQ(StdinOfCall(2), "anna\ngeheim\n");
  // The command line carried the share's folder only.
  EXPECT_EQ(tree_.Read("con nect/args.2"), tree_.Posix("share") + "\n");

  // Now reachable: a second table connects nothing.
  TDriveList again;
  again.AddPath("\\\\SRV\\Share\\other\\", "\\\\srv\\share\\", "anna", "geheim");
  EXPECT_TRUE(again.GetEntry(0).active);
  EXPECT_EQ(ConnectCalls(), 2);
}

TEST_F(DriveListTest, WrongCredentialsLeaveTheShareInactiveAfterTwoAttempts) {
  TDriveList list;
  list.AddPath("\\\\srv\\share\\dir\\", "\\\\srv\\share\\", "anna", "falsch");
  ExpectEntry(list, 0, {"\\\\srv\\share\\", "\\\\srv\\share\\", kDriveKindNetworkShare, "anna", "falsch", false});
  EXPECT_EQ(ConnectCalls(), 2);
  EXPECT_FALSE(list.IsAvailable("\\\\srv\\share\\dir\\x.txt", true));
}

TEST_F(DriveListTest, AMissingLetterWithCredentialsIsMappedToTheShare) {
  TDriveList list;
  list.AddPath("Q:\\Daten\\", "\\\\srv\\share\\", "anna", "geheim");
  ExpectEntry(list, 0, {"q:\\", "\\\\srv\\share\\", kDriveKindNetworkLetter, "anna", "geheim", true});
  EXPECT_EQ(ConnectCalls(), 2);
  platform::VolumeTable table = platform::VolumeTable::Load();
  ASSERT_NE(table.Find("Q:"), nullptr);
  EXPECT_TRUE(platform::SameText(table.Find("Q:")->remoteName, "\\\\srv\\share"));
  EXPECT_EQ(table.ExpandUnc("Q:\\Daten\\a.txt"), "\\\\srv\\share\\Daten\\a.txt");
  EXPECT_TRUE(table.IsAvailable("Q:\\"));
}

TEST_F(DriveListTest, AddPathOnlyTakesTheKindFromThePathAlone) {
  TDriveList list;
  list.AddPathOnly("R:\\x\\");
  list.AddPathOnly("Q:\\y\\");
  list.AddPathOnly("F:\\z\\");
  list.AddPathOnly("\\\\Srv\\Other\\d\\");
  list.AddPathOnly("ftp://host/");
  list.AddPathOnly("FTP:x");
  list.AddPathOnly("r:\\again\\");
  TDriveEntry withCredentials;
  withCredentials.name = "\\\\srv\\share\\d";
  withCredentials.user = "anna";
  withCredentials.password = "geheim";
  withCredentials.active = true;  // not taken from the record
  list.AddDrive(withCredentials);
  ASSERT_EQ(list.Count(), 5);
  ExpectEntry(list, 0, {"r:\\", "\\\\nas\\r\\", kDriveKindNetworkLetter, "", "", true});
  ExpectEntry(list, 1, {"q:\\", "", kDriveKindNetworkLetter, "", "", false});
  ExpectEntry(list, 2, {"f:\\", "", kDriveKindLocal, "", "", true});
  ExpectEntry(list, 3, {"\\\\srv\\other\\", "\\\\srv\\other\\", kDriveKindNetworkShare, "", "", false});
  ExpectEntry(list, 4, {"\\\\srv\\share\\", "\\\\srv\\share\\", kDriveKindNetworkShare, "anna", "geheim", false});
  EXPECT_EQ(ConnectCalls(), 0);
}

TEST_F(DriveListTest, IsAvailableAddsDrivesOnDemandAndPassesFtpThrough) {
  TDriveList list;
  EXPECT_TRUE(list.IsAvailable("ftp://host/dir", true));
  EXPECT_FALSE(list.IsAvailable("FTP://host/dir", false));
  EXPECT_FALSE(list.IsAvailable("relative\\dir", true));
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(list.IsAvailable("F:\\abc\\", true));
  EXPECT_FALSE(list.IsAvailable("Q:\\abc\\", true));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_THROW(list.GetEntry(2), std::out_of_range);
  EXPECT_THROW(list.GetEntry(-1), std::out_of_range);
}

TEST_F(DriveListTest, SaveAndLoadGiveTheSameRowsInAPrivateFile) {
  TDriveList list;
  list.AddPath("C:\\Data\\", "", "", "");
  list.AddPath("R:\\x\\", "\\\\nas\\r\\", "dom\\anna", " blank pw ");
  list.AddPath("\\\\srv\\share\\dir\\", "\\\\srv\\share\\", "'single'", "geheim");
  TDriveEntry odd;
  odd.name = "\\\\srv\\other\\";
  odd.user = "\"quoted\"";
  odd.password = "a=b;c[0] äöü \"";
  list.AddDrive(odd);
  ASSERT_EQ(list.Count(), 4);

  const std::string file = list.SaveToTempFile();
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(file.rfind(platform::GetTempPath(), 0), 0u) << file;
  struct stat st;
  ASSERT_EQ(::stat(platform::ToPosixPath(file).value().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  platform::IniFile ini(file);
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"0", "1", "2", "3"}));
  EXPECT_EQ(ini.ReadInteger("2", "Kind", -1), kDriveKindNetworkShare);
  EXPECT_EQ(ini.ReadString("2", "Active", ""), "1");

  TDriveList loaded;
  loaded.AddPath("F:\\", "", "", "");  // replaced by the file's rows
  loaded.LoadFromFile(file);
  ASSERT_EQ(loaded.Count(), list.Count());
  for (int i = 0; i < list.Count(); ++i) ExpectEntry(loaded, i, list.GetEntry(i));

  const std::string second = list.SaveToTempFile();
  EXPECT_NE(second, file);  // unique to every run
  platform::DeleteFile(file);
  platform::DeleteFile(second);
}

TEST_F(DriveListTest, ALineBreakInAValueCannotAddRowsToTheFile) {
  TDriveEntry evil;
  evil.name = "F:\\";
  evil.password = "x\r\n[1]\r\nName=c:\\\r\nActive=1";
  TDriveList list;
  list.AddDrive(evil);
  const std::string file = list.SaveToTempFile();
  TDriveList loaded;
  loaded.LoadFromFile(file);
  ASSERT_EQ(loaded.Count(), 1);
  EXPECT_EQ(loaded.GetEntry(0).name, "f:\\");
  EXPECT_EQ(loaded.GetEntry(0).password, "");
  platform::DeleteFile(file);
}

TEST_F(DriveListTest, AMissingFileLoadsAnEmptyTable) {
  TDriveList list;
  list.AddPath("C:\\", "", "", "");
  list.LoadFromFile(tree_.Win("no-such-table.tmp"));
  EXPECT_EQ(list.Count(), 0);
}

// A real mount point: a tmpfs mounted on a folder and unmounted again.
class ScopedTmpfs {
 public:
  explicit ScopedTmpfs(const std::string& folder) : folder_(folder) {
    mounted_ = ::mount("kvtest", folder.c_str(), "tmpfs", 0, "size=1m") == 0;
    error_ = mounted_ ? 0 : errno;
  }
  ~ScopedTmpfs() { Unmount(); }
  bool mounted() const { return mounted_; }
  int error() const { return error_; }
  void Unmount() {
    if (mounted_) ::umount2(folder_.c_str(), 0);
    mounted_ = false;
  }

 private:
  std::string folder_;
  bool mounted_ = false;
  int error_ = 0;
};

TEST_F(DriveListTest, AnUnmountedMountPointIsAVanishedDriveNotAnEmptyFolder) {
  if (!test::IsRoot()) GTEST_SKIP() << "mounting a tmpfs needs root";
  tree_.Mkdir("mnt");
  platform::VolumeTable table = platform::VolumeTable::Load();
  Volume m;
  m.root = "M:";
  m.folder = tree_.Posix("mnt");
  m.mustBeMounted = true;
  table.Set(m);
  table.Save();

  ScopedTmpfs tmpfs(tree_.Posix("mnt"));
  if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(tmpfs.error());
  TDriveList mounted;
  mounted.AddPath("M:\\Daten\\", "", "", "");
  EXPECT_TRUE(mounted.GetEntry(0).active);
  EXPECT_TRUE(mounted.IsAvailable("M:\\Daten\\x", false));

  tmpfs.Unmount();
  ASSERT_TRUE(tree_.Exists("mnt"));  // the folder is still there, empty
  TDriveList vanished;
  vanished.AddPath("M:\\Daten\\", "", "", "");
  EXPECT_FALSE(vanished.GetEntry(0).active);
  TDriveList onDemand;
  EXPECT_FALSE(onDemand.IsAvailable("M:\\Daten\\x", true));
  EXPECT_FALSE(onDemand.GetEntry(0).active);
}

}  // namespace
}  // namespace kv
