#include "synclist/drivelist.h"

#include <gtest/gtest.h>
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

std::string Text(const TDriveEntry& e) {
  return e.name + "|" + e.uncName + "|" + std::to_string(e.kind) + "|" + e.user + "|" + e.password + "|" +
         (e.active ? "active" : "inactive");
}

// Every row of the table as "name|unc name|kind|user|password|active".
std::vector<std::string> Entries(const TDriveList& list) {
  std::vector<std::string> rows;
  for (int i = 0; i < list.Count(); ++i) rows.push_back(Text(list.GetEntry(i)));
  return rows;
}

using Rows = std::vector<std::string>;

TDriveEntry Drive(std::string name, std::string user, std::string password, bool active = false) {
  TDriveEntry e;
  e.name = std::move(name);
  e.user = std::move(user);
  e.password = std::move(password);
  e.active = active;  // never taken from the entry
  return e;
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
  EXPECT_EQ(Entries(list), (Rows{"c:\\||0|||active", "r:\\|\\\\nas\\r\\|1|anna|pw|active", "f:\\||0|||active",
                                 "q:\\||0|||inactive"}));
  EXPECT_EQ(list.IndexOf("C:\\anything"), 0);
  EXPECT_EQ(list.IndexOf("Q:"), 3);
  EXPECT_EQ(list.IndexOf("Z:\\"), -1);
  EXPECT_EQ(ConnectCalls(), 0);

  // From the path alone: nothing is connected, credentials come from the
  // entry, "active" from the drive.
  TDriveList only;
  for (const char* path : {"R:\\x\\", "Q:\\y\\", "F:\\z\\", "\\\\Srv\\Other\\d\\", "ftp://host/", "FTP:x", "r:\\a\\"}) {
    only.AddPathOnly(path);
  }
  only.AddDrive(Drive("\\\\srv\\share\\d", "anna", "geheim", /*active=*/true));
  EXPECT_EQ(Entries(only), (Rows{"r:\\|\\\\nas\\r\\|1|||active", "q:\\||1|||inactive", "f:\\||0|||active",
                                 "\\\\srv\\other\\|\\\\srv\\other\\|2|||inactive",
                                 "\\\\srv\\share\\|\\\\srv\\share\\|2|anna|geheim|inactive"}));
  EXPECT_EQ(ConnectCalls(), 0);
}

TEST_F(DriveListTest, AShareIsConnectedWithoutThenWithCredentialsOnStandardInput) {
  TDriveList list;
  list.AddPath("\\\\srv\\share\\dir\\", "\\\\srv\\share\\", "anna", "geheim");
  EXPECT_EQ(Entries(list), Rows{"\\\\srv\\share\\|\\\\srv\\share\\|2|anna|geheim|active"});
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

TEST_F(DriveListTest, AMissingLetterWithCredentialsIsMappedToTheShare) {
  TDriveList list;
  list.AddPath("Q:\\Daten\\", "\\\\srv\\share\\", "anna", "geheim");
  EXPECT_EQ(Entries(list), Rows{"q:\\|\\\\srv\\share\\|1|anna|geheim|active"});
  EXPECT_EQ(ConnectCalls(), 2);
  platform::VolumeTable table = platform::VolumeTable::Load();
  EXPECT_EQ(table.ExpandUnc("Q:\\Daten\\a.txt"), "\\\\srv\\share\\Daten\\a.txt");
  EXPECT_TRUE(table.IsAvailable("Q:\\"));
}

TEST_F(DriveListTest, WrongCredentialsLeaveTheShareInactiveAfterTwoAttempts) {
  TDriveList list;
  list.AddPath("\\\\srv\\share\\dir\\", "\\\\srv\\share\\", "anna", "falsch");
  EXPECT_EQ(Entries(list), Rows{"\\\\srv\\share\\|\\\\srv\\share\\|2|anna|falsch|inactive"});
  EXPECT_EQ(ConnectCalls(), 2);
  EXPECT_FALSE(list.IsAvailable("\\\\srv\\share\\dir\\x.txt", true));
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

// Values with quotes, blanks, "=", ";", "[" and line breaks: a line break
// must not add rows to the file.
TEST_F(DriveListTest, SaveAndLoadGiveTheSameRowsInAPrivateFile) {
  TDriveList list;
  list.AddPath("C:\\Data\\", "", "", "");
  list.AddPath("R:\\x\\", "\\\\nas\\r\\", "dom\\anna", " blank pw ");
  list.AddPath("\\\\srv\\share\\dir\\", "\\\\srv\\share\\", "'single'", "geheim");
  list.AddDrive(Drive("\\\\srv\\other\\", "\"quoted\"", "a=b;c[0] äöü \""));
  list.AddDrive(Drive("F:\\", "", "x\r\n[1]\r\nName=c:\\\r\nActive=1"));
  ASSERT_EQ(list.Count(), 5);

  const std::string file = list.SaveToTempFile();
  EXPECT_EQ(file.rfind(platform::GetTempPath(), 0), 0u) << file;
  struct stat st;
  ASSERT_EQ(::stat(platform::ToPosixPath(file).value().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  platform::IniFile ini(file);
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"0", "1", "2", "3", "4"}));
  EXPECT_EQ(ini.ReadInteger("2", "Kind", -1), kDriveKindNetworkShare);
  EXPECT_EQ(ini.ReadString("2", "Active", ""), "1");

  TDriveList loaded;
  loaded.AddPath("F:\\", "", "", "");  // replaced by the file's rows
  loaded.LoadFromFile(file);
  Rows expected = Entries(list);
  expected[4] = "f:\\||0|||active";  // the password with the line break is dropped
  EXPECT_EQ(Entries(loaded), expected);

  const std::string second = list.SaveToTempFile();
  EXPECT_NE(second, file);  // unique to every run
  platform::DeleteFile(file);
  platform::DeleteFile(second);
  loaded.LoadFromFile(file);  // a missing file loads an empty table
  EXPECT_EQ(loaded.Count(), 0);
}

TEST_F(DriveListTest, AnUnmountedMountPointIsAVanishedDriveNotAnEmptyFolder) {
  if (!test::IsRoot()) GTEST_SKIP() << "mounting a tmpfs needs root";
  platform::VolumeTable table = platform::VolumeTable::Load();
  Volume m = MakeVolume("M:", "mnt", std::nullopt, "");
  m.mustBeMounted = true;
  table.Set(m);
  table.Save();
  test::ScopedTmpfs tmpfs(tree_.Posix("mnt"));
  if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
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
