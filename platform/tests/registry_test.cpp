#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "platform/errors.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

using kv::test::ReadFileText;
using kv::test::WriteFileText;

class RegistryTest : public ::testing::Test {
 protected:
  kv::test::ScopedRegistry scoped_;
  Registry hkcu_{Hive::CurrentUser};
  Registry hklm_{Hive::LocalMachine};
};

TEST_F(RegistryTest, ValuesRoundTripWithAnyBytes) {
  std::string allBytes;
  for (int b = 0; b < 256; ++b) allBytes += static_cast<char>(b);
  const std::string texts[] = {"",    "C:\\Daten\\",   "line one\nline two\r\n", "[not a key]", "a=b",
                               "\"quoted\" and %41 percent", "@", "Grüße, Ärger", allBytes};
  for (size_t i = 0; i < std::size(texts); ++i)
    ASSERT_TRUE(hkcu_.WriteString("Software\\Test", "v" + std::to_string(i), texts[i]));
  ASSERT_TRUE(hkcu_.WriteString("Software\\Test", allBytes.substr(1), "odd name"));
  ASSERT_TRUE(hkcu_.WriteDword("Software\\Test", "Count", 0xDEADBEEF));
  ASSERT_TRUE(hkcu_.WriteDword("Software\\Test", "Zero", 0));

  Registry fresh(Hive::CurrentUser);
  for (size_t i = 0; i < std::size(texts); ++i)
    EXPECT_EQ(fresh.ReadString("Software\\Test", "v" + std::to_string(i)), texts[i]) << i;
  EXPECT_EQ(fresh.ReadString("Software\\Test", allBytes.substr(1)), "odd name");
  EXPECT_EQ(fresh.ReadDword("Software\\Test", "Count"), 0xDEADBEEFu);
  EXPECT_EQ(fresh.ReadDword("Software\\Test", "Zero"), 0u);
  // The other type, or nothing at all.
  EXPECT_EQ(fresh.ReadString("Software\\Test", "Count"), std::nullopt);
  EXPECT_EQ(fresh.ReadDword("Software\\Test", "v1"), std::nullopt);
  EXPECT_EQ(fresh.ReadString("Software\\Test", "absent"), std::nullopt);
  EXPECT_EQ(fresh.ReadString("Software\\Absent", "v1"), std::nullopt);
  // Hives are separate.
  EXPECT_FALSE(hklm_.KeyExists("Software\\Test"));
}

TEST_F(RegistryTest, FileIsReadableText) {
  ASSERT_TRUE(hkcu_.WriteString("\\Software\\Vorlem\\Kestrovane\\", "WorkDir", "C:\\Daten\\Kestrovane\\"));
  ASSERT_TRUE(hkcu_.WriteString("Software\\Vorlem\\Kestrovane", "Note", "50% \"sure\"\nnext"));
  ASSERT_TRUE(hkcu_.WriteDword("Software\\Vorlem\\Kestrovane", "Count", 42));
  ASSERT_TRUE(hkcu_.WriteString("CLSID\\{1}", "", "Copy Objekt"));
  const std::string file = ReadFileText(Registry::FilePath(Hive::CurrentUser));
  EXPECT_EQ(Registry::FilePath(Hive::CurrentUser), scoped_.Directory() + "/HKEY_CURRENT_USER.txt");
  const std::string body =
      "\n[CLSID\\{1}]\n"
      "@=\"Copy Objekt\"\n"
      "\n[Software\\Vorlem\\Kestrovane]\n"
      "\"WorkDir\"=\"C:\\Daten\\Kestrovane\\\"\n"
      "\"Note\"=\"50%25 %22sure%22%0Anext\"\n"
      "\"Count\"=dword:0000002a\n";
  ASSERT_GE(file.size(), body.size());
  EXPECT_EQ(file.substr(file.size() - body.size()), body);
  EXPECT_EQ(file[0], ';');
}

TEST_F(RegistryTest, HandWrittenFileIsRead) {
  WriteFileText(Registry::FilePath(Hive::LocalMachine),
                "# written by hand\r\n  [System\\Volumes\\D:]  \r\n\"Folder\" = \"/mnt/backup\"\r\n\"Type\"=DWORD:3\r\n"
                "@=\"default\"\r\n");
  EXPECT_EQ(hklm_.ReadString("system\\volumes\\d:", "folder"), "/mnt/backup");
  EXPECT_EQ(hklm_.ReadDword("System\\Volumes\\D:", "Type"), 3u);
  EXPECT_EQ(hklm_.ReadString("System\\Volumes\\D:", ""), "default");
  EXPECT_EQ(hklm_.GetKeyNames("System"), (std::vector<std::string>{"Volumes"}));
}

TEST_F(RegistryTest, KeysAndValueNamesIgnoreCaseAndKeepIt) {
  ASSERT_TRUE(hkcu_.WriteString("Software\\Vorlem\\Kestrovane", "WorkDir", "C:\\A\\"));
  EXPECT_EQ(hkcu_.ReadString("\\SOFTWARE\\vorlem\\KESTROVANE\\", "workdir"), "C:\\A\\");
  EXPECT_TRUE(hkcu_.KeyExists("software\\\\VORLEM"));
  ASSERT_TRUE(hkcu_.WriteString("software\\vorlem\\kestrovane", "WORKDIR", "C:\\B\\"));
  EXPECT_EQ(hkcu_.GetValueNames("Software\\Vorlem\\Kestrovane"), (std::vector<std::string>{"WorkDir"}));
  EXPECT_EQ(hkcu_.ReadString("Software\\Vorlem\\Kestrovane", "WorkDir"), "C:\\B\\");

  ASSERT_TRUE(hkcu_.CreateKey("SOFTWARE\\VORLEM\\Other"));
  ASSERT_TRUE(hkcu_.CreateKey("software\\ärger"));
  EXPECT_TRUE(hkcu_.KeyExists("Software\\ÄRGER"));
  EXPECT_EQ(hkcu_.GetKeyNames("software\\vorlem"), (std::vector<std::string>{"Kestrovane", "Other"}));
  // Sorted by case-folded code points, the order of every sorted list of the system.
  EXPECT_EQ(hkcu_.GetKeyNames("SOFTWARE"), (std::vector<std::string>{"Vorlem", "ärger"}));
  EXPECT_EQ(hkcu_.GetKeyNames(""), (std::vector<std::string>{"Software"}));
  // Subkeys sorted case-insensitively, values in the order they were made.
  for (const char* k : {"b", "C", "a", "B\\deep\\er", "a\\x"}) ASSERT_TRUE(hkcu_.CreateKey(std::string("Root\\") + k));
  EXPECT_EQ(hkcu_.GetKeyNames("Root"), (std::vector<std::string>{"a", "b", "C"}));
  EXPECT_EQ(hkcu_.GetKeyNames("Root\\b"), (std::vector<std::string>{"deep"}));
  for (const char* v : {"zeta", "Alpha", "mid"}) ASSERT_TRUE(hkcu_.WriteDword("Root", v, 1));
  EXPECT_EQ(hkcu_.GetValueNames("Root"), (std::vector<std::string>{"zeta", "Alpha", "mid"}));
  EXPECT_TRUE(hkcu_.GetKeyNames("Nowhere").empty());
  EXPECT_TRUE(hkcu_.GetValueNames("Nowhere").empty());
  EXPECT_TRUE(hkcu_.CreateKey("Root\\a"));  // exists already: still true
  // New keys take the spelling of the parents they join.
  EXPECT_NE(ReadFileText(Registry::FilePath(Hive::CurrentUser)).find("[Software\\Vorlem\\Other]"), std::string::npos);
}

TEST_F(RegistryTest, DeleteKeyRemovesEverythingBelow) {
  Registry hkcr(Hive::ClassesRoot);
  const std::string clsid = "CLSID\\{6A1B2C3D-0000-4000-8000-000000000001}";
  ASSERT_TRUE(hkcr.WriteString(clsid, "", "Copy Objekt"));
  ASSERT_TRUE(hkcr.WriteString(clsid + "\\InprocServer32", "", "/opt/KestroCom.dll"));
  ASSERT_TRUE(hkcr.WriteString(clsid + "\\InprocServer32", "ThreadingModel", "Apartment"));
  ASSERT_TRUE(hkcr.WriteString(clsid + "\\ProgID", "", "Kestro.CopyObj"));
  ASSERT_TRUE(hkcr.WriteString("Kestro.CopyObj\\Clsid", "", "{...}"));

  ASSERT_TRUE(hkcr.DeleteKey("clsid\\{6a1b2c3d-0000-4000-8000-000000000001}"));
  EXPECT_FALSE(hkcr.KeyExists(clsid));
  EXPECT_FALSE(hkcr.KeyExists(clsid + "\\InprocServer32"));
  EXPECT_EQ(hkcr.ReadString(clsid + "\\InprocServer32", ""), std::nullopt);
  EXPECT_TRUE(hkcr.KeyExists("CLSID"));  // the parent stays
  EXPECT_TRUE(hkcr.GetKeyNames("CLSID").empty());
  EXPECT_EQ(hkcr.ReadString("Kestro.CopyObj\\Clsid", ""), "{...}");

  SetLastError(0);
  EXPECT_FALSE(hkcr.DeleteKey(clsid));
  EXPECT_EQ(GetLastError(), ENOENT);
  EXPECT_FALSE(hkcr.DeleteKey("\\"));
  EXPECT_EQ(GetLastError(), EINVAL);
  EXPECT_FALSE(hkcr.DeleteValue("Kestro.CopyObj\\Clsid", "absent"));
  EXPECT_EQ(GetLastError(), ENOENT);
  EXPECT_TRUE(hkcr.DeleteValue("Kestro.CopyObj\\Clsid", ""));
  EXPECT_TRUE(hkcr.KeyExists("Kestro.CopyObj\\Clsid"));
  EXPECT_EQ(hkcr.ReadString("Kestro.CopyObj\\Clsid", ""), std::nullopt);
}

TEST_F(RegistryTest, AnotherObjectOrProcessSeesEveryWriteAtOnce) {
  Registry reader(Hive::LocalMachine);
  for (int i = 0; i < 100; ++i) {
    // Same size every time, written faster than the clock ticks.
    std::string v = "v" + std::to_string(100 + i);
    ASSERT_TRUE(hklm_.WriteString("K", "n", v));
    ASSERT_EQ(reader.ReadString("K", "n"), v);
  }
  ASSERT_TRUE(hklm_.WriteString("K", "who", "parent"));
  ASSERT_EQ(hklm_.ReadString("K", "who"), "parent");  // now cached here
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    Registry child(Hive::LocalMachine);
    _exit(child.ReadString("K", "who") == "parent" && child.WriteString("K", "who", "childx") ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(hklm_.ReadString("K", "who"), "childx");
}

TEST_F(RegistryTest, ConcurrentProcessesAndThreadsKeepEveryValue) {
  constexpr int kProcesses = 4, kThreads = 4, kValues = 15;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      Registry r(Hive::CurrentUser);
      bool ok = true;
      for (int v = 0; v < kValues; ++v) ok &= r.WriteDword("Shared", "p" + std::to_string(p) + "v" + std::to_string(v), v);
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      Registry r(Hive::CurrentUser);
      for (int v = 0; v < kValues; ++v) r.WriteDword("Shared", "t" + std::to_string(t) + "v" + std::to_string(v), v);
    });
  }
  for (auto& th : threads) th.join();
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(hkcu_.GetValueNames("Shared").size(), static_cast<size_t>((kProcesses + kThreads) * kValues));
  EXPECT_EQ(hkcu_.ReadDword("shared", "p3v14"), 14u);
  EXPECT_EQ(hkcu_.ReadDword("shared", "t3v14"), 14u);
}

TEST_F(RegistryTest, ChangeStampFollowsTheFile) {
  EXPECT_EQ(Registry::ChangeStamp(Hive::LocalMachine), 0u);
  ASSERT_TRUE(hklm_.WriteString("K", "a", "1"));
  uint64_t s1 = Registry::ChangeStamp(Hive::LocalMachine);
  EXPECT_NE(s1, 0u);
  EXPECT_EQ(Registry::ChangeStamp(Hive::CurrentUser), 0u);

  // Writes that change nothing leave the file (and so the stamp) alone.
  struct stat before {};
  ASSERT_EQ(stat(Registry::FilePath(Hive::LocalMachine).c_str(), &before), 0);
  ASSERT_TRUE(hklm_.WriteString("k", "A", "1"));
  ASSERT_TRUE(hklm_.CreateKey("K"));
  struct stat after {};
  ASSERT_EQ(stat(Registry::FilePath(Hive::LocalMachine).c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(Registry::ChangeStamp(Hive::LocalMachine), s1);

  ASSERT_TRUE(hklm_.WriteString("K", "a", "2"));
  uint64_t s2 = Registry::ChangeStamp(Hive::LocalMachine);
  EXPECT_NE(s2, s1);
  WriteFileText(Registry::FilePath(Hive::LocalMachine), "[K]\n\"a\"=\"edited by hand\"\n");
  EXPECT_NE(Registry::ChangeStamp(Hive::LocalMachine), s2);
  EXPECT_EQ(hklm_.ReadString("K", "a"), "edited by hand");
}

TEST_F(RegistryTest, GarbledFileKeepsWhatIsValid) {
  std::string garbled =
      "\"orphan\"=\"before any key\"\n[Good]\n\"s\"=\"ok\"\n[Broken\n\"lost\"=\"must not land in Good\"\n"
      "[Good\\Sub]\n\"d\"=dword:0000002A\n\"bad\"=dword:xyz\n\"long\"=dword:123456789\n\"open\"=\"no end\n"
      "\"trailing\"=\"x\" junk\n\"pct\"=\"100%G1%4\"\ngarbage line without sense\n@=\"def\"\n[]\n\"root\"=\"r\"\n";
  garbled += std::string("\0\xff\xfe[\\\\\\]\n", 8);
  garbled += "[" + std::string(200000, 'x') + "\n";
  std::string deep = "[";
  for (int i = 0; i < 20000; ++i) deep += "a\\";
  garbled += deep + "]\n\"deepest\"=dword:1\n";
  WriteFileText(Registry::FilePath(Hive::CurrentUser), garbled);

  EXPECT_EQ(hkcu_.ReadString("Good", "s"), "ok");
  EXPECT_EQ(hkcu_.ReadString("Good", "lost"), std::nullopt);
  EXPECT_EQ(hkcu_.ReadDword("Good\\Sub", "d"), 42u);
  EXPECT_EQ(hkcu_.ReadString("Good\\Sub", ""), "def");
  EXPECT_EQ(hkcu_.ReadString("Good\\Sub", "pct"), "100%G1%4");
  EXPECT_EQ(hkcu_.GetValueNames("Good\\Sub"), (std::vector<std::string>{"d", "pct", ""}));
  EXPECT_EQ(hkcu_.GetValueNames("Good"), (std::vector<std::string>{"s"}));
  EXPECT_EQ(hkcu_.ReadString("", "root"), "r");
  std::string deepKey;
  for (int i = 0; i < 20000; ++i) deepKey += "a\\";
  EXPECT_EQ(hkcu_.ReadDword(deepKey, "deepest"), 1u);

  // A write keeps what was valid and drops the rest.
  ASSERT_TRUE(hkcu_.WriteString("Good", "new", "n"));
  Registry fresh(Hive::CurrentUser);
  EXPECT_EQ(fresh.ReadString("Good", "s"), "ok");
  EXPECT_EQ(fresh.ReadDword("Good\\Sub", "d"), 42u);
  EXPECT_EQ(fresh.ReadString("Good", "new"), "n");
  EXPECT_EQ(ReadFileText(Registry::FilePath(Hive::CurrentUser)).find("garbage"), std::string::npos);
}

TEST_F(RegistryTest, RandomBytesNeverCrash) {
  std::mt19937 rng(12345);
  const char alphabet[] = "[]\\\"=@%;#\n\r dword:0123456789abcdefXYZ\x00\xff";
  for (int round = 0; round < 40; ++round) {
    std::string junk;
    size_t len = 1 + rng() % 4000;
    for (size_t i = 0; i < len; ++i)
      junk += round % 2 ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % (sizeof alphabet - 1)];
    WriteFileText(Registry::FilePath(Hive::ClassesRoot), junk);
    Registry r(Hive::ClassesRoot);
    for (const std::string& k : r.GetKeyNames("")) {
      r.GetValueNames(k);
      r.KeyExists(k);
    }
    ASSERT_TRUE(r.WriteString("After", "v", std::to_string(round)));
    ASSERT_EQ(r.ReadString("After", "v"), std::to_string(round));
  }
}

TEST_F(RegistryTest, UnusableHiveFileFailsCleanly) {
  ASSERT_EQ(mkdir(Registry::FilePath(Hive::CurrentUser).c_str(), 0700), 0);
  EXPECT_FALSE(hkcu_.KeyExists("A"));
  EXPECT_FALSE(hkcu_.WriteString("A", "v", "x"));
  EXPECT_EQ(GetLastError(), EISDIR);
}

TEST(RegistryDirectory, FollowsTheEnvironment) {
  using kv::test::ScopedEnv;
  {
    ScopedEnv dir("KESTROVANE_REGISTRY_DIR", "/srv/reg/");
    EXPECT_EQ(Registry::Directory(), "/srv/reg");
  }
  ScopedEnv noDir("KESTROVANE_REGISTRY_DIR", nullptr);
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/home/ann/cfg");
    EXPECT_EQ(Registry::Directory(), "/home/ann/cfg/kestrovane/registry");
  }
  ScopedEnv noXdg("XDG_CONFIG_HOME", nullptr);
  ScopedEnv home("HOME", "/home/bob");
  EXPECT_EQ(Registry::Directory(), "/home/bob/.config/kestrovane/registry");
  EXPECT_EQ(Registry::FilePath(Hive::ClassesRoot), "/home/bob/.config/kestrovane/registry/HKEY_CLASSES_ROOT.txt");
}

}  // namespace
}  // namespace kv::platform
