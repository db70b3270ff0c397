// FTP pairs carried out by the copy object against real servers, and
// against a relay in front of one that breaks the session where a test
// says.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <thread>

#include "copyengine/copyftp.h"
#include "copyengine/ftpreadwriter.h"
#include "copyengine/tests/fake_windows.h"
#include "copyengine/tests/ftppair_env.h"
#include "platform/msgloop.h"
#include "testsupport/ftprelay.h"

namespace kv {
namespace {

using namespace test;
using Statuses = std::vector<int>;

constexpr int64_t kBigFile = 64 << 20;

// The DOS date-time of a file's modification time as UTC calendar time,
// which is what servers send for MDTM.
uint32_t UtcDosOf(const std::string& posixPath) {
  struct stat st {};
  EXPECT_EQ(stat(posixPath.c_str(), &st), 0) << posixPath;
  struct tm t {};
  gmtime_r(&st.st_mtime, &t);
  return DosOf(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

std::string Join(const std::string& folder, const std::string& rel) {
  if (folder.empty() || rel.empty()) return folder + rel;
  return folder.back() == '/' ? folder + rel : folder + "/" + rel;
}

// Every file that was there is still there with the same bytes, and the
// only new names are temporary ones (and the remote-state record).
void ExpectOldFilesKept(const FtpPairEnv& env, const std::map<std::string, std::string>& before) {
  const std::map<std::string, std::string> after = env.Digests();
  for (const auto& [rel, digest] : before) EXPECT_EQ(after.count(rel) ? after.at(rel) : "(gone)", digest) << rel;
  for (const auto& [rel, digest] : after) {
    const std::string name = rel.substr(rel.rfind('/') + 1);
    EXPECT_TRUE(before.count(rel) || platform::IsSystemTempName(name)) << "new: " << rel;
  }
}

// --- Both ways against real servers -----------------------------------------------------

struct ServerPair {
  FtpServerKind kind;
  uint8_t pairKind;
};

std::string ServerPairName(const testing::TestParamInfo<ServerPair>& info) {
  return std::string(FtpServerKindName(info.param.kind)) + "_kind" + std::to_string(info.param.pairKind);
}

class FtpPairBothWays : public testing::TestWithParam<ServerPair> {};
INSTANTIATE_TEST_SUITE_P(Servers, FtpPairBothWays,
                         testing::Values(ServerPair{FtpServerKind::Pyftpdlib, 1}, ServerPair{FtpServerKind::Pyftpdlib, 2},
                                         ServerPair{FtpServerKind::Vsftpd, 1}, ServerPair{FtpServerKind::Vsftpd, 2},
                                         ServerPair{FtpServerKind::Proftpd, 2}),
                         ServerPairName);

TEST_P(FtpPairBothWays, CopiesCreatesDeletesAndKeepsTheRemoteStateRecord) {
  FtpPairEnv env(GetParam().pairKind);
  for (const auto& [rel, text] : std::map<std::string, std::string>{
           {"srv/old.txt", "server old"}, {"srv/down.txt", "down!"}, {"srv/rep.txt", "server new"},
           {"srv/rep.txt.sync", "a user's own on the server"}, {"srv/gone.txt", "g"}, {"srv/both.txt", "b"},
           {"srv/rsub/r.txt", "r"}, {"loc/old.txt", "local and newer"}, {"loc/up.txt", "up"},
           {"loc/rep.txt", "local old"}, {"loc/old.txt.sync", "a user's own locally"}, {"loc/lgone.txt", "l"},
           {"loc/both.txt", "b"}, {"loc/sub/s.txt", "s"}, {"loc/bad\nname", "x"}}) {
    env.tree.Write(rel, text);
  }
  KV_START_FTP_SERVER(server, GetParam().kind, {.root = env.tree.Posix("srv")});
  env.Use(server);
  ASSERT_EQ(env.Run({env.Both(), env.Copy("old.txt", 15, true, true), env.Copy("up.txt", 2, true),
                     env.Copy("down.txt", 5, false), env.Copy("rep.txt", 10, false, true),
                     env.Copy("bad\nname", 1, true), env.Delete("gone.txt", true, false),
                     env.Delete("lgone.txt", false, true), env.Delete("both.txt", true, true), env.OnlyLocal("sub"),
                     env.Copy("s.txt", 1, true), env.OnlyRemote("rsub"), env.Copy("r.txt", 1, false)}),
            0);
  EXPECT_EQ(env.Statuses(), (Statuses{0, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1})) << env.Message(5);
  EXPECT_EQ(env.Entries("srv"), (std::vector<std::string>{"down.txt", "kvftp.log", "old.txt", "rep.txt", "rep.txt.sync",
                                                           "rsub", "rsub/r.txt", "sub", "sub/s.txt", "up.txt"}));
  EXPECT_EQ(env.Entries("loc"), (std::vector<std::string>{"bad\nname", "down.txt", "old.txt", "old.txt.sync", "rep.txt",
                                                           "rsub", "rsub/r.txt", "sub", "sub/s.txt", "up.txt"}));
  for (const char* rel : {"old.txt", "up.txt", "down.txt", "rep.txt", "sub/s.txt", "rsub/r.txt"})
    EXPECT_EQ(env.tree.Read(std::string("srv/") + rel), env.tree.Read(std::string("loc/") + rel)) << rel;
  EXPECT_EQ(env.tree.Read("srv/old.txt"), "local and newer");
  EXPECT_EQ(env.tree.Read("srv/rep.txt.sync"), "a user's own on the server");
  EXPECT_EQ(env.tree.Read("loc/old.txt.sync"), "a user's own locally");

  // The record as the server holds it, read by the engine's own reader: the
  // listed sizes and the server's own times of the files copied.
  const std::string sent = env.tree.Read("srv/kvftp.log");
  EXPECT_EQ(sent, ReadFileText(env.Mirror()));
  TFTPReadWriter states;
  ASSERT_TRUE(states.LoadIndex(env.tree.Win("srv/kvftp.log")));
  for (const auto& [folder, names] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"", {"old.txt", "up.txt", "down.txt", "rep.txt"}}, {"sub", {"s.txt"}}, {"rsub", {"r.txt"}}}) {
    const std::string serverFolder = Join(env.remoteRoot, folder);
    ASSERT_TRUE(states.SelectFolder("127.0.0.1", serverFolder)) << serverFolder;
    EXPECT_EQ(states.Files().Count(), static_cast<int32_t>(names.size())) << serverFolder;
    for (const std::string& name : names) {
      const std::string rel = Join(folder, name);
      const int32_t at = states.Files().IndexOf(name);
      ASSERT_GE(at, 0) << rel;
      EXPECT_EQ(states.Files().GetItem(at).remoteSize, static_cast<int32_t>(env.tree.Read("srv/" + rel).size())) << rel;
      EXPECT_EQ(states.Files().GetItem(at).remoteTime, UtcDosOf(env.tree.Posix("srv/" + rel))) << rel;
    }
  }

  // A later run without the mirror fetches it from the server and sends it
  // back unchanged.
  std::filesystem::remove_all(env.tree.Posix("work/FTPLog"));
  ASSERT_EQ(env.Run({env.Both()}), 0);
  EXPECT_EQ(ReadFileText(env.Mirror()), sent);
  EXPECT_EQ(env.tree.Read("srv/kvftp.log"), sent);
}

// --- One session for pairs on one server through one proxy -------------------------------

class FtpPairSession : public testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(ProxyFlag, FtpPairSession, testing::Bool());

TEST_P(FtpPairSession, PairsOnOneServerShareTheLoginOnlyThroughTheProxy) {
  const bool proxy = GetParam();
  FtpPairEnv env(2);
  env.tree.Write("loc/a/1.txt", "1");
  env.tree.Write("loc/b/2.txt", "2");
  env.tree.Mkdir("srv/a");
  env.tree.Mkdir("srv/b");
  KV_START_FTP_SERVER(server, FtpServerKind::Pyftpdlib, {.root = env.tree.Posix("srv")});
  FtpRelay relay(static_cast<uint16_t>(server.port()));
  env.Use(server, relay.Port());
  SiteSpec site = env.Site();
  if (proxy) {
    site.port = server.port();
    site.proxyHost = "127.0.0.1";
    site.proxyPort = relay.Port();
    site.proxyOn = 1;
  }
  env.WritePairs({env.Pair("a", site), env.Pair("b", site)});
  ASSERT_EQ(env.Run({env.Both("a"), env.Copy("1.txt", 1, true), env.Both("b"), env.Copy("2.txt", 1, true)}), 0);
  EXPECT_EQ(env.Statuses(), (Statuses{0, 1, 0, 1}));
  EXPECT_EQ(env.tree.Read("srv/a/1.txt"), "1");
  EXPECT_EQ(env.tree.Read("srv/b/2.txt"), "2");
  EXPECT_EQ(relay.Logins(), proxy ? 1 : 2);
}

// --- A session that breaks -----------------------------------------------------------------

// What the files are before every fault: a file to replace on each side, a
// folder "d" on both sides, a file "dl.txt" in it and, under the same name,
// in the start folder, which a download that missed "d" would fetch.
void WriteFaultFiles(FtpPairEnv& env) {
  env.tree.Write("srv/old.txt", "server old");
  env.tree.Write("loc/old.txt", "local and newer");
  env.tree.Write("srv/d/dl.txt", "server new");
  env.tree.Write("srv/dl.txt", "the start folder's");
  env.tree.Write("loc/d/dl.txt", "local old");
  env.tree.Write("loc/sub/s.txt", "s");
}

struct RelayFault {
  const char* name;
  FtpRelayRule rule;
  std::vector<JobItemSpec> (*items)(const FtpPairEnv&);
  Statuses statuses;
  const char* message;  // the start of the last record's message
  bool replaces = false;  // the upload of "old.txt" gets through all the same
};

std::vector<JobItemSpec> MakeFolder(const FtpPairEnv& env) { return {env.Both(), env.OnlyLocal("sub"), env.Copy("s.txt", 1, true)}; }
std::vector<JobItemSpec> Replace(const FtpPairEnv& env) { return {env.Both(), env.Copy("old.txt", 15, true, true)}; }
std::vector<JobItemSpec> Fetch(const FtpPairEnv& env) {
  return {env.Both(), env.Both("d"), env.Copy("dl.txt", 10, false, true)};
}
std::vector<JobItemSpec> Remove(const FtpPairEnv& env) { return {env.Both(), env.Both("d"), env.Delete("dl.txt", true, false)}; }

const RelayFault kRelayFaults[] = {
    {"DropAtMkd", {"", "MKD", ""}, MakeFolder, {2, 2}, "Der FTP-Ordner wurde nicht gefunden!"},
    {"DropAtRnto", {"", "RNTO", ""}, Replace, {0, 2}, "Sicherheitsumbenennung der Datei schlug fehl"},
    {"DropAtList", {"CWD /d", "LIST", ""}, Fetch, {0, 2}, "Die Datei konnte nicht kopiert werden!"},
    {"CwdRefused", {"", "CWD /d", "550 No such directory."}, Fetch, {0, 2}, "Der FTP-Ordner wurde nicht gefunden!"},
    {"DropAtListBeforeDelete", {"CWD /d", "LIST", ""}, Remove, {0, 2}, "Die Datei/en konnte/n nicht gelöscht werden!"},
    // A server that will not rename onto an existing file: the old one goes
    // aside for the moment.
    {"RntoOntoAFileRefused", {"", "RNTO old.txt", "553 File exists.", 1}, Replace, {0, 1}, "Die Datei wurde kopiert.",
     true},
    // The client logs in again after its pause; the run waits for it.
    {"FirstLoginDropped", {"", "USER", "", 1}, Replace, {0, 1}, "Die Datei wurde kopiert.", true},
};

void PrintTo(const RelayFault& fault, std::ostream* os) { *os << fault.name; }

class FtpPairFault : public testing::TestWithParam<RelayFault> {};
INSTANTIATE_TEST_SUITE_P(Relay, FtpPairFault, testing::ValuesIn(kRelayFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(FtpPairFault, KeepsEveryFileAndRecordsTheItemAsFailed) {
  const RelayFault& fault = GetParam();
  FtpPairEnv env(2);
  WriteFaultFiles(env);
  KV_START_FTP_SERVER(server, FtpServerKind::Pyftpdlib, {.root = env.tree.Posix("srv")});
  ASSERT_EQ(server.RemotePath(""), "/");  // the rules name "/d"
  FtpRelay relay(static_cast<uint16_t>(server.port()), fault.rule);
  env.Use(server, relay.Port());
  const auto before = env.Digests();
  ASSERT_EQ(env.Run(fault.items(env)), 0);
  EXPECT_TRUE(relay.Fired()) << testing::PrintToString(relay.Commands());
  EXPECT_EQ(env.Statuses(), fault.statuses);
  EXPECT_TRUE(env.Message(fault.statuses.size() - 1).starts_with(fault.message)) << env.Message(fault.statuses.size() - 1);
  if (fault.replaces) {
    EXPECT_EQ(env.tree.Read("srv/old.txt"), "local and newer");
    EXPECT_EQ(env.Entries("srv"), env.Entries("srv", false));
  } else {
    ExpectOldFilesKept(env, before);
  }
  // A file of a folder the server did not enter is neither fetched nor sent.
  for (const std::string& command : relay.Commands())
    EXPECT_FALSE(command.starts_with("RETR") && command.find("dl.txt") != std::string::npos) << command;
}

// A listing of a recent file names no year; the record then holds 1980.
TEST(FtpPairRemoteTime, AServerWithoutMdtmGivesTheListingsDayAndMinute) {
  FtpPairEnv env(2);
  env.tree.Write("loc/up.txt", "up");
  KV_START_FTP_SERVER(server, FtpServerKind::Pyftpdlib, {.root = env.tree.Posix("srv")});
  FtpRelay relay(static_cast<uint16_t>(server.port()), FtpRelayRule{.command = "MDTM", .reply = "502 Not here."});
  env.Use(server, relay.Port());
  ASSERT_EQ(env.Run({env.Both(), env.Copy("up.txt", 2, true)}), 0);
  EXPECT_TRUE(relay.Fired());
  TFTPReadWriter states;
  ASSERT_TRUE(states.LoadIndex(env.tree.Win("srv/kvftp.log")));
  ASSERT_TRUE(states.SelectFolder("127.0.0.1", "/"));
  ASSERT_EQ(states.Files().Count(), 1);
  const uint32_t listed = UtcDosOf(env.tree.Posix("srv/up.txt")) & 0x01FFFFE0u;  // no year, no seconds
  EXPECT_EQ(states.Files().GetItem(0).remoteTime, listed);
}

// A name with a line break would end the command early and send the rest as
// a command of its own; what a server's earlier reply said is no reason.
TEST(FtpPairNames, AFolderWithALineBreakInItsNameIsNeverSent) {
  FtpPairEnv env(2);
  env.tree.Write("loc/a\nDELE x/s.txt", "s");
  KV_START_FTP_SERVER(server, FtpServerKind::Pyftpdlib, {.root = env.tree.Posix("srv")});
  env.Use(server);
  ASSERT_EQ(env.Run({env.Both(), env.OnlyLocal("a\nDELE x"), env.Copy("s.txt", 1, true)}), 0);
  EXPECT_EQ(env.Statuses(), (Statuses{2, 2}));
  EXPECT_EQ(env.Message(0), "Der / die Ordner konnten nicht erstellt werden! "
                            "Der Ordnername kann auf dem FTP-Server nicht verwendet werden!");
  EXPECT_EQ(env.Entries("srv"), std::vector<std::string>{});
}

TEST(FtpPairShortDownload, AFileThatEndsShortOfItsListedSizeReplacesNothing) {
  FtpPairEnv env(1);
  env.tree.Write("srv/dl.txt", "the server's new content");
  env.tree.Write("loc/dl.txt", "local old");
  KV_START_FTP_SERVER(server, FtpServerKind::Vsftpd, {.root = env.tree.Posix("srv")});
  // Cut between the listing and the transfer: the server then sends all it
  // has and ends the transfer as a whole one.
  FtpRelay relay(static_cast<uint16_t>(server.port()),
                 FtpRelayRule{.command = "RETR", .before = [&] { ResizeFile(env.tree.Posix("srv/dl.txt"), 9); }});
  env.Use(server, relay.Port());
  ASSERT_EQ(env.Run({env.Both(), env.Copy("dl.txt", 24, false, true)}), 0);
  EXPECT_TRUE(relay.Fired());
  EXPECT_EQ(env.Statuses(), (Statuses{0, 2}));
  EXPECT_EQ(env.tree.Read("loc/dl.txt"), "local old");
  EXPECT_EQ(env.Entries("loc"), (std::vector<std::string>{"dl.txt"}));
}

// --- The engine's session on its own ------------------------------------------------------

// A cancel ends the wait for MDTM before its reply: the client still awaits
// it and refuses other commands at once until it came, then takes them
// again.
TEST(CopyFtpTest, AReplyStillAwaitedKeepsTheClientBusyUntilItCame) {
  FtpPairEnv env(2);
  env.tree.Write("srv/x.txt", "x");
  KV_START_FTP_SERVER(server, FtpServerKind::Pyftpdlib, {.root = env.tree.Posix("srv")});
  // MDTM reaches the server only once the test lets it.
  std::atomic<bool> release{false};
  FtpRelay relay(static_cast<uint16_t>(server.port()), FtpRelayRule{.command = "MDTM", .before = [&release] {
                   AbortFlag().Request();
                   const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                   while (!release && std::chrono::steady_clock::now() < end)
                     std::this_thread::sleep_for(std::chrono::milliseconds(5));
                 }});
  TFTPReadWriter states;
  TCopyFtp ftp(states, env.tree.WinFolder("work/FTPLog"));
  ASSERT_TRUE(ftp.ConnectFtp({.host = "127.0.0.1", .port = relay.Port(), .user = server.user(), .password = server.password()},
                             false));
  (void)ftp.GetFtpFileTime("x.txt", "");
  ASSERT_TRUE(relay.Fired());
  AbortFlag().Clear();
  ProcessCopyMessages();
  EXPECT_TRUE(ftp.Client().Busy());
  EXPECT_FALSE(ftp.RefreshListing());  // refused at once, not waited for
  release = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool listed = false;
  while (!listed && std::chrono::steady_clock::now() < deadline) {
    platform::MessageLoop::Current().WaitMessage(10);
    ProcessCopyMessages();
    listed = ftp.RefreshListing().ok;
  }
  EXPECT_TRUE(listed);
  EXPECT_TRUE(ftp.Listed("x.txt"));
}

// --- A server that stops answering or dies in a transfer -------------------------------------

struct TransferFault {
  const char* name;
  bool upload;
  int signal;  // SIGSTOP, or SIGKILL for a server killed
};

const TransferFault kTransferFaults[] = {
    {"UploadServerStopped", true, SIGSTOP},
    {"UploadServerKilled", true, SIGKILL},
    {"DownloadServerStopped", false, SIGSTOP},
    {"DownloadServerKilled", false, SIGKILL},
};

void PrintTo(const TransferFault& fault, std::ostream* os) { *os << fault.name; }

class FtpPairTransferFault : public testing::TestWithParam<TransferFault> {};
INSTANTIATE_TEST_SUITE_P(Server, FtpPairTransferFault, testing::ValuesIn(kTransferFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// Acts once, from a thread of its own, as soon as a temporary file of the
// system's in the folder has grown to 1 MiB: the transfer is under way and
// far from its end, whatever the engine's thread is doing.
class Midway {
 public:
  Midway(const std::string& folder, const std::function<void()>& act)
      : thread_([this, folder, act](std::stop_token stop) {
          const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
          while (!stop.stop_requested() && !struck_ && std::chrono::steady_clock::now() < end) {
            std::error_code error;
            for (const auto& e : std::filesystem::directory_iterator(folder, error)) {
              if (struck_ || !platform::IsSystemTempName(e.path().filename().string())) continue;
              if (e.file_size(error) >= (1 << 20)) act(), struck_ = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        }) {}
  // Ends the watch once act is done; whether it ran.
  bool Join() {
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
    return struck_;
  }

 private:
  std::atomic<bool> struck_{false};
  std::jthread thread_;
};

TEST_P(FtpPairTransferFault, KeepsTheOldFileOnBothSides) {
  const TransferFault& fault = GetParam();
  ScopedEnv timeOut("KESTROVANE_FTP_TIMEOUT", "2");
  FtpPairEnv env(2);
  WritePatternFile(env.tree.Posix(fault.upload ? "loc/big.bin" : "srv/big.bin"), kBigFile);
  env.tree.Write(fault.upload ? "srv/big.bin" : "loc/big.bin", "the old file");
  KV_START_FTP_SERVER(server, FtpServerKind::Pyftpdlib, {.root = env.tree.Posix("srv")});
  env.Use(server);
  const auto before = env.Digests();
  EngineCall call = env.Call({env.Both(), env.Copy("big.bin", kBigFile, fault.upload, true)});
  Midway midway(env.tree.Posix(fault.upload ? "srv" : "loc"), [&] {
    if (fault.signal == SIGKILL) server.Stop();
    else server.Signal(fault.signal);
  });
  ASSERT_EQ(RunCopyObject(call), 0);
  const bool struck = midway.Join();
  server.Signal(SIGCONT);
  ASSERT_TRUE(struck) << "the transfer ended before the server was stopped";
  EXPECT_EQ(env.Statuses(), (Statuses{0, 2}));
  EXPECT_TRUE(env.Message(1).starts_with("Die Datei konnte nicht kopiert werden!")) << env.Message(1);
  ExpectOldFilesKept(env, before);
}

TEST(FtpPairCancel, EndsTheRunInAStalledTransferAndKeepsTheOldFile) {
  // The server never answers again and the client would wait for an hour.
  ScopedEnv timeOut("KESTROVANE_FTP_TIMEOUT", "3600");
  FtpPairEnv env(1);
  WritePatternFile(env.tree.Posix("srv/big.bin"), kBigFile);
  env.tree.Write("loc/big.bin", "the old file");
  env.tree.Write("srv/first.txt", "1");
  KV_START_FTP_SERVER(server, FtpServerKind::Pyftpdlib, {.root = env.tree.Posix("srv")});
  env.Use(server);
  const auto before = env.Digests();
  // Once the server stopped, the window's next report (its clock) brings
  // the user's click.
  std::atomic<bool> stopped{false};
  bool clicked = false;
  ScopedFakeCopyWindow window({}, true);
  window.onPublish = [&](const CopyWindowSnapshot&, const platform::HandlerRef& model) {
    if (!stopped || std::exchange(clicked, true)) return;
    model.Post(kCopyMsgAbortClick);
  };
  EngineCall call = env.Call(
      {env.Both(), env.Copy("first.txt", 1, false), env.Copy("big.bin", kBigFile, false, true), env.Copy("up.txt", 1, true)});
  call.hidden = false;
  Midway midway(env.tree.Posix("loc"), [&] {
    server.Signal(SIGSTOP);
    stopped = true;
  });
  ASSERT_EQ(RunCopyObject(call), 0);
  midway.Join();
  server.Signal(SIGCONT);
  ASSERT_TRUE(clicked);
  // The cancelled item has no record, and nothing after it was begun.
  EXPECT_EQ(env.Statuses(), (Statuses{0, 1}));
  EXPECT_TRUE(env.Ptk().trailer);
  std::filesystem::remove(env.tree.Posix("loc/first.txt"));
  ExpectOldFilesKept(env, before);
}

}  // namespace
}  // namespace kv
