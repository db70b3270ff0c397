#include "platform/volumes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

using kv::test::ScopedRegistry;
using kv::test::ScopedTmpfs;
using kv::test::TempTree;

Volume MakeVolume(std::string root, std::string folder, bool mustBeMounted = false, std::string remoteName = "",
                  std::optional<DriveType> type = std::nullopt, std::string connectCommand = "") {
  return {std::move(root), std::move(folder), type, std::move(remoteName), mustBeMounted, std::move(connectCommand)};
}

// Checked here with the parent's device, independent of the code under test.
bool IsOwnMount(const std::string& path) {
  struct stat st, parent;
  return stat(path.c_str(), &st) == 0 && stat((path + "/..").c_str(), &parent) == 0 && st.st_dev != parent.st_dev;
}

// Every field of a volume on one line, so that whole volumes compare.
std::string Describe(const Volume* v) {
  if (v == nullptr) return "none";
  return v->root + "|" + v->folder + "|" + (v->type ? std::to_string(static_cast<int>(*v->type)) : "auto") + "|" +
         v->remoteName + "|" + (v->mustBeMounted ? "must be mounted" : "") + "|" + v->connectCommand;
}
std::string Describe(const Volume& v) { return Describe(&v); }

TEST(VolumesTest, SaveAndLoadRoundTrip) {
  ScopedRegistry registry;
  VolumeTable table = VolumeTable::Load();
  table.Set(MakeVolume("d:\\", "/mnt/backup/", true, "", DriveType::Removable));
  table.Set(MakeVolume("Z:", "/mnt/nas", false, "\\\\nas\\Daten\\", std::nullopt, "mount /mnt/nas"));
  table.Set(MakeVolume("\\\\Fileserver\\Projekte", "/srv/projekte", true, "", DriveType::Cdrom));
  table.Save();

  // Roots and folders come back normalised: upper-case letter, no trailing separators.
  VolumeTable loaded = VolumeTable::Load();
  ASSERT_EQ(loaded.volumes().size(), 4u);
  EXPECT_EQ(Describe(loaded.Find("D:")), Describe(MakeVolume("D:", "/mnt/backup", true, "", DriveType::Removable)));
  EXPECT_EQ(Describe(loaded.Find("z:\\x")),
            Describe(MakeVolume("Z:", "/mnt/nas", false, "\\\\nas\\Daten", std::nullopt, "mount /mnt/nas")));
  EXPECT_EQ(Describe(loaded.Find("\\\\fileserver\\projekte\\sub")),
            Describe(MakeVolume("\\\\Fileserver\\Projekte", "/srv/projekte", true, "", DriveType::Cdrom)));

  // The stored layout, as set-up scripts and the documentation describe it.
  Registry reg(Hive::LocalMachine);
  EXPECT_EQ(reg.ReadString("System\\Volumes\\D:", "Folder"), "/mnt/backup");
  EXPECT_EQ(reg.ReadString("System\\Volumes\\D:", "Type"), "removable");
  EXPECT_EQ(reg.ReadDword("System\\Volumes\\D:", "MustBeMounted"), 1u);
  EXPECT_EQ(reg.ReadString("System\\Volumes\\Z:", "Type"), "auto");
  EXPECT_EQ(reg.ReadString("System\\Volumes\\Z:", "RemoteName"), "\\\\nas\\Daten");
  EXPECT_EQ(reg.ReadString("System\\Volumes\\//Fileserver/Projekte", "Folder"), "/srv/projekte");

  // Saving again leaves exactly the table's entries.
  loaded.Remove("z:\\");
  loaded.Save();
  EXPECT_FALSE(reg.KeyExists("System\\Volumes\\Z:"));
  EXPECT_EQ(VolumeTable::Load().volumes().size(), 3u);
}

TEST(VolumesTest, LoadTakesDefaultsAndSkipsUnusableEntries) {
  ScopedRegistry registry;
  Registry reg(Hive::LocalMachine);
  // Written by hand, as an administrator would: mostly only the folder given.
  const char* const entries[][3] = {
      {"e:", "Folder", "/media/stick"}, {"C:", "Folder", "/home/ann"},
      {"F:", "Folder", "relative/folder"}, {"G:", "Type", "fixed"},  // no folder
      {"Nonsense", "Folder", "/x"},       {"//server", "Folder", "/x"},  // no share name
      {"H:", "Folder", "/h"},             {"H:", "Type", "floppy"},  // unknown: decided by the file system
  };
  for (const auto& e : entries) reg.WriteString(std::string("System\\Volumes\\") + e[0], e[1], e[2]);

  VolumeTable table = VolumeTable::Load();
  EXPECT_EQ(table.volumes().size(), 3u);
  // Every letter but C: must be mounted unless it says otherwise.
  EXPECT_EQ(Describe(table.Find("E:")), Describe(MakeVolume("E:", "/media/stick", true)));
  EXPECT_EQ(Describe(table.Find("C:")), Describe(MakeVolume("C:", "/home/ann")));
  EXPECT_EQ(Describe(table.Find("H:")), Describe(MakeVolume("H:", "/h", true)));
}

TEST(VolumesTest, MapsWindowsPathsToFoldersAndShares) {
  VolumeTable table;
  table.Set(MakeVolume("C:", "/"));
  table.Set(MakeVolume("D:", "/mnt/d"));
  table.Set(MakeVolume("\\\\srv\\share", "/srv/share"));
  table.Set(MakeVolume("Z:", "/mnt/nas", false, "\\\\nas\\data"));

  const struct { const char* win; std::optional<std::string> posix; } cases[] = {
      {"C:\\home\\ann\\Docs\\", "/home/ann/Docs/"},
      {"C:\\home\\ann\\brief.txt", "/home/ann/brief.txt"},
      {"C:", "/"}, {"C:\\", "/"}, {"c:\\etc", "/etc"}, {"D:", "/mnt/d"}, {"D:\\", "/mnt/d/"},
      {"d:\\x\\y.txt", "/mnt/d/x/y.txt"}, {"D:\\a\\.\\b\\..\\c", "/mnt/d/a/c"},
      {"D:\\..\\..\\etc\\passwd", "/mnt/d/etc/passwd"},  // never above the drive
      {"D:\\a\\\\b", "/mnt/d/a/b"}, {"\\\\srv\\share\\dir\\", "/srv/share/dir/"}, {"\\\\SRV\\Share", "/srv/share"},
      {"\\\\srv\\share\\..\\..\\root", "/srv/share/root"},
      {"\\\\nas\\data\\x", "/mnt/nas/x"},  // through the letter that stands for it
      {"\\\\srv\\other\\x", std::nullopt}, {"E:\\x", std::nullopt}, {"relative\\x", std::nullopt},
      {"\\rooted", std::nullopt}, {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.win);
    EXPECT_EQ(table.ToPosix(c.win), c.posix);
  }
  EXPECT_EQ(table.ToPosix(std::string_view("C:\\a\0b", 6)), std::nullopt);
  // Letters that stand for a share.
  EXPECT_EQ(table.ExpandUnc("Z:\\Projekte\\a.doc"), "\\\\nas\\data\\Projekte\\a.doc");
  EXPECT_EQ(table.ExpandUnc("z:"), "\\\\nas\\data");
  EXPECT_EQ(table.ExpandUnc("C:\\x"), "C:\\x");
  EXPECT_EQ(table.ExpandUnc("Y:\\x"), "Y:\\x");
  EXPECT_EQ(table.ExpandUnc("\\\\nas\\data\\x"), "\\\\nas\\data\\x");
  EXPECT_EQ(table.RemoteName("Z:\\"), "\\\\nas\\data");
  EXPECT_EQ(table.RemoteName("C:\\"), "");
  EXPECT_EQ(table.GetDriveType("Z:"), DriveType::Remote);  // a network drive even while away
}

TEST(VolumesTest, MapsFoldersBackThroughTheLongestMatch) {
  VolumeTable table;
  table.Set(MakeVolume("C:", "/"));
  table.Set(MakeVolume("D:", "/mnt/d"));
  table.Set(MakeVolume("E:", "/mnt/d/inner"));
  table.Set(MakeVolume("\\\\srv\\share", "/srv/share"));
  const struct { const char* posix; const char* win; } cases[] = {
      {"/", "C:\\"}, {"/home/ann/", "C:\\home\\ann\\"}, {"/mnt/d", "D:\\"}, {"/mnt/d/x.txt", "D:\\x.txt"},
      {"/mnt/dx/y", "C:\\mnt\\dx\\y"}, {"/mnt/d/inner/z", "E:\\z"}, {"/mnt/d/innerx", "D:\\innerx"},
      {"/srv/share/a/b", "\\\\srv\\share\\a\\b"}, {"relative", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.posix);
    EXPECT_EQ(table.FromPosix(c.posix), c.win);
  }
  // Every mapped path goes back to itself.
  for (const char* win : {"D:\\x\\y.txt", "E:\\z\\", "\\\\srv\\share\\a", "C:\\etc\\hosts"}) {
    EXPECT_EQ(table.FromPosix(*table.ToPosix(win)), win);
  }
}

TEST(VolumesTest, SetReplacesAndRemoveDeletesByRoot) {
  VolumeTable table;
  table.Set(MakeVolume("D:", "/one"));
  table.Set(MakeVolume("d:\\", "/two"));
  table.Set(MakeVolume("1:", "/bad"));        // not a letter
  table.Set(MakeVolume("Q:", "no/slash"));    // not an absolute folder
  ASSERT_EQ(table.volumes().size(), 1u);
  EXPECT_EQ(table.volumes()[0].folder, "/two");
  table.Remove("d:");
  EXPECT_TRUE(table.volumes().empty());
}

TEST(VolumesTest, DriveTypesFromSettingsAndFileSystems) {
  TempTree tree;
  tree.Mkdir("plain");
  VolumeTable table;
  table.Set(MakeVolume("C:", "/"));
  table.Set(MakeVolume("F:", tree.Posix("plain")));                  // folder on the disk of /tmp
  table.Set(MakeVolume("G:", tree.Posix("plain"), true));            // not a mount point
  table.Set(MakeVolume("H:", tree.Posix("missing")));
  table.Set(MakeVolume("R:", tree.Posix("missing"), false, "", DriveType::Removable));
  table.Set(MakeVolume("S:", "/dev/shm", true));
  table.Set(MakeVolume("\\\\srv\\share", tree.Posix("plain")));
  table.Set(MakeVolume("\\\\srv\\gone", tree.Posix("missing")));

  EXPECT_EQ(table.GetDriveType("F:\\"), DriveType::Fixed);
  EXPECT_TRUE(table.IsAvailable("F:\\x"));
  EXPECT_EQ(table.GetDriveType("G:\\"), DriveType::NoRootDir);
  EXPECT_FALSE(table.IsAvailable("G:"));
  EXPECT_EQ(table.GetDriveType("H:\\"), DriveType::NoRootDir);
  EXPECT_FALSE(table.IsAvailable("H:"));
  EXPECT_EQ(table.GetDriveType("R:\\"), DriveType::Removable);  // set explicitly: kept while away
  EXPECT_FALSE(table.IsAvailable("R:"));
  EXPECT_EQ(table.GetDriveType("\\\\srv\\share\\x"), DriveType::Remote);
  EXPECT_EQ(table.GetDriveType("\\\\srv\\gone"), DriveType::NoRootDir);
  if (IsOwnMount("/dev/shm")) {
    EXPECT_EQ(table.GetDriveType("S:\\"), DriveType::Ramdisk);
    EXPECT_TRUE(table.IsAvailable("S:"));
  }
}

TEST(VolumesTest, MustBeMountedDriveIsAvailableOnlyWhileMounted) {
  if (!kv::test::IsRoot()) GTEST_SKIP() << "mounting a tmpfs needs root";
  ScopedRegistry registry;
  TempTree tree;
  tree.Mkdir("stick");
  VolumeTable table = VolumeTable::Load();
  table.Set(MakeVolume("K:", tree.Posix("stick"), true));
  table.Save();

  {
    ScopedTmpfs tmpfs(tree.Posix("stick"));
    if (!tmpfs.mounted()) GTEST_SKIP() << "mount(2) refused here: " << SysErrorMessage(errno);
    EXPECT_TRUE(CurrentVolumes()->IsAvailable("K:\\"));
    EXPECT_EQ(CurrentVolumes()->GetDriveType("K:\\"), DriveType::Ramdisk);
    ASSERT_TRUE(ForceDirectories("K:\\Daten\\2024\\"));
    EXPECT_EQ(ResolvePath("K:\\Daten\\"), tree.Posix("stick") + "/Daten/");
    EXPECT_TRUE(DirectoryExists("K:\\Daten"));
    tmpfs.Unmount();
  }
  // The folder is still there, empty: it must not pass for the drive.
  EXPECT_TRUE(tree.Exists("stick"));
  EXPECT_FALSE(CurrentVolumes()->IsAvailable("K:\\"));
  EXPECT_EQ(CurrentVolumes()->GetDriveType("K:\\"), DriveType::NoRootDir);
  EXPECT_FALSE(DirectoryExists("K:\\"));
  EXPECT_EQ(GetLastError(), ENOMEDIUM);
  FolderListing listing = ListFolder("K:\\");
  EXPECT_FALSE(listing.ok);
  EXPECT_EQ(listing.error, ENOMEDIUM);
  EXPECT_FALSE(ForceDirectories("K:\\Daten\\"));
  EXPECT_FALSE(tree.Exists("stick/Daten"));
}

TEST(VolumesTest, CurrentVolumesFollowsTheRegistry) {
  ScopedRegistry registry;
  EXPECT_EQ(CurrentVolumes()->Find("M:"), nullptr);
  EXPECT_EQ(ToPosixPath("M:\\x"), std::nullopt);

  VolumeTable table = VolumeTable::Load();
  table.Set(MakeVolume("M:", "/mnt/m"));
  table.Save();
  EXPECT_EQ(ToPosixPath("M:\\x"), "/mnt/m/x");
  EXPECT_EQ(FromPosixPath("/mnt/m/y"), "M:\\y");

  // Written past the table (as another process would): seen on the next call.
  Registry(Hive::LocalMachine).WriteString("System\\Volumes\\M:", "Folder", "/mnt/other");
  EXPECT_EQ(ToPosixPath("M:\\x"), "/mnt/other/x");

  // Another registry folder is another table.
  {
    ScopedRegistry other;
    EXPECT_EQ(ToPosixPath("M:\\x"), std::nullopt);
  }
  EXPECT_EQ(ToPosixPath("M:\\x"), "/mnt/other/x");
}

TEST(VolumesTest, DefaultTableAndWhyResolvingFails) {
  ScopedRegistry registry;
  TempTree tree;
  tree.Mkdir("unmounted");
  VolumeTable table = VolumeTable::Load();
  ASSERT_EQ(table.volumes().size(), 1u);
  ASSERT_NE(table.Find("c:\\"), nullptr);
  EXPECT_FALSE(table.Find("c:\\")->mustBeMounted);
  table.Set(MakeVolume("U:", tree.Posix("unmounted"), true));
  table.Save();

  // Without a table of its own, C: is / and nothing else is mapped.
  EXPECT_EQ(ResolvePath("C:\\home\\ann\\Docs\\"), "/home/ann/Docs/");
  EXPECT_TRUE(CurrentVolumes()->IsAvailable("C:\\"));
  EXPECT_EQ(CurrentVolumes()->GetDriveType("D:\\"), DriveType::NoRootDir);
  SetLastError(0);
  EXPECT_EQ(ResolvePath("Q:\\x"), std::nullopt);
  EXPECT_EQ(GetLastError(), ENOENT);
  EXPECT_EQ(ResolvePath("U:\\x"), std::nullopt);
  EXPECT_EQ(GetLastError(), ENOMEDIUM);
  EXPECT_EQ(ResolvePath(std::string_view("C:\\a\0b", 6)), std::nullopt);
  EXPECT_EQ(GetLastError(), EINVAL);
}

TEST(VolumesTest, ConcurrentReadersWhileTheTableChanges) {
  ScopedRegistry registry;
  std::atomic<bool> stop{false};
  std::atomic<bool> saved{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      while (!stop) {
        std::optional<std::string> p = ToPosixPath("C:\\etc\\hosts");
        if (p != "/etc/hosts") ++wrong;
        const bool mustExist = saved;
        std::optional<std::string> n = ToPosixPath("N:\\x");
        if (n ? *n != "/mnt/n1/x" && *n != "/mnt/n2/x" : mustExist) ++wrong;
      }
    });
  }
  for (int round = 0; round < 10; ++round) {
    VolumeTable table = VolumeTable::Load();
    table.Set(MakeVolume("N:", round % 2 ? "/mnt/n1" : "/mnt/n2"));
    table.Save();
    saved = true;
  }
  stop = true;
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(ToPosixPath("N:\\x"), "/mnt/n1/x");  // the last round's
}

}  // namespace
}  // namespace kv::platform
