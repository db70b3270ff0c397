// Transfers against the scripted fake server: every order in which a
// transfer can end, listings servers write badly, forged data addresses,
// refusals of every command, resume decisions and the listing cache.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ftp/ftp.h"
#include "ftp/ftpcache.h"
#include "ftp/tests/ftpprobe.h"
#include "testsupport/fakeftpserver.h"
#include "testsupport/loopback.h"
#include "testsupport/pump.h"
#include "platform/files.h"
#include "platform/msgloop.h"
#include "testsupport/patternfile.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using test::FakeData;
using test::FakeFtpPeer;
using test::FakeFtpServer;
using test::FakeReplies;
using Serve = std::function<void(FakeFtpPeer&, FakeData&)>;

const std::string kContent = "the new content of the file\n";
constexpr const char* kOpening = "150 Opening BINARY mode data connection for f (2048 bytes)";

std::set<std::string> FolderEntries(const std::string& posix) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(posix)) names.insert(e.path().filename().string());
  return names;
}

// The fake's side of one transfer: login, the data connection the client
// asks for, the commands up to the transfer command (answered from the
// table), then serve, then whatever follows.
FakeFtpServer::Script Transfer(std::string verb, Serve serve, FakeReplies replies = test::AcceptingReplies()) {
  return [=](FakeFtpPeer& p) {
    p.Reply("220 fake ready");
    std::optional<FakeData> data = test::OpenData(p, replies);
    if (!data || !test::ExpectTransfer(p, *data, verb, replies)) return;
    serve(p, *data);
    test::Converse(p, replies, "");
  };
}

// Sends the bytes, closes the data connection, and the final reply a
// moment later.
Serve SendAll(std::string bytes) {
  return [=](FakeFtpPeer& p, FakeData& d) {
    p.Reply(kOpening);
    d.Send(bytes);
    d.Close();
    std::this_thread::sleep_for(100ms);
    p.Reply("226 Transfer complete");
  };
}

// Takes everything the client sends, then the final reply.
Serve ReceiveInto(std::shared_ptr<std::string> received) {
  return [=](FakeFtpPeer& p, FakeData& d) {
    p.Reply(kOpening);
    *received = d.ReceiveAll();
    p.Reply("226 Transfer complete");
  };
}

// A PASV reply naming a listener of the test, which never accepts: the
// client's connection completes in its queue, and nothing flows.
std::string PasvReplyFor(uint16_t port) {
  return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256) + ")";
}

class FakeTransfer : public testing::Test {
 protected:
  void LogIn(FakeFtpServer::Script script) {
    server_ = std::make_unique<FakeFtpServer>(std::move(script));
    Aim(ftp_, server_->Port());
    ftp_.Passive = true;
    ASSERT_TRUE(probe_.Run([&] { ftp_.Login(); }, "loggedin"));
    probe_.events.clear();
  }
  std::vector<std::string> Sent() const { return server_->Transcripts().at(0); }
  bool WasSent(const std::string& line) const {
    const std::vector<std::string> sent = Sent();
    return std::find(sent.begin(), sent.end(), line) != sent.end();
  }

  test::TempTree tree_;
  test::ScopedEnv cache_{"XDG_CACHE_HOME", tree_.Posix("cache").c_str()};
  std::unique_ptr<FakeFtpServer> server_;
  TMFtp ftp_;
  FtpProbe probe_{ftp_};
};

// ---- How a download ends -------------------------------------------------------------

struct Ending {
  const char* name;
  Serve serve;
  Events events;
  bool arrives;  // the new content took the old file's place
};

void PrintTo(const Ending& ending, std::ostream* os) { *os << ending.name; }

class TransferEnding : public FakeTransfer, public testing::WithParamInterface<Ending> {};

// An existing local file is replaced only by a download that ended without
// an error; whatever ends it, the operation ends once, with its own event
// last, and leaves no other file behind. The size the server announced is
// reported. Without Asynchronous the call returns once the download ended.
TEST_P(TransferEnding, EndsOnceAndReplacesTheFileOnlyWhenComplete) {
  tree_.Write("local/target", "old");
  LogIn(Transfer("RETR", GetParam().serve));
  ftp_.SetAsynchronous(false);
  ftp_.GetFile("f", tree_.Win("local/target"));
  EXPECT_TRUE(probe_.Saw("received") || probe_.Saw("quit"));
  probe_.Expect(GetParam().events);
  EXPECT_EQ(probe_.sizes, std::vector<std::string>{"2048"});
  EXPECT_EQ(tree_.Read("local/target"), GetParam().arrives ? kContent : "old");
  EXPECT_EQ(FolderEntries(tree_.Posix("local")), std::set<std::string>{"target"});
}

const Events kReceived = {"busy", "info 10", "ready", "received"};
// A connection lost after login is not tried again (info 21).
Events Lost(const char* error) { return {"busy", error, "info 21", "info 1", "quit", "ready", "received"}; }

const Ending kEndings[] = {
    {"ReplyAfterTheDataClose", SendAll(kContent), kReceived, true},
    {"ReplyBeforeTheDataClose",
     [](FakeFtpPeer& p, FakeData& d) {
       p.Reply(kOpening);
       d.Send(kContent);
       p.Reply("226 Transfer complete");
       std::this_thread::sleep_for(200ms);
       d.Close();
     },
     kReceived, true},
    {"NeitherReplyNorClose",
     [](FakeFtpPeer& p, FakeData& d) {
       p.Reply(kOpening);
       d.Send(kContent);
       p.WaitForClientClose();
     },
     Lost("error 7"), false},
    {"AbortedMidTransfer",
     [](FakeFtpPeer& p, FakeData& d) {
       p.Reply(kOpening);
       d.Send(kContent.substr(0, 5));
       p.Reply("426 Connection closed; transfer aborted");
       std::this_thread::sleep_for(200ms);
       d.Close();
     },
     {"busy", "error 29", "ready", "received"}, false},
    {"DataConnectionReset",
     [](FakeFtpPeer& p, FakeData& d) {
       p.Reply(kOpening);
       d.Send(kContent.substr(0, 5));
       d.Reset();
     },
     Lost("error 27"), false},
    {"ControlConnectionLost",
     [](FakeFtpPeer& p, FakeData& d) {
       p.Reply(kOpening);
       d.Send(kContent.substr(0, 5));
       p.Close();
       d.ClientClosed();
     },
     Lost("error 5"), false},
};
INSTANTIATE_TEST_SUITE_P(FakeServer, TransferEnding, testing::ValuesIn(kEndings),
                         [](const testing::TestParamInfo<Ending>& info) { return std::string(info.param.name); });

// ---- Listings servers write badly ---------------------------------------------------------

std::string Line(const std::string& name) { return "-rw-r--r--   1 user  group  5 Jan 15  2001 " + name; }

struct BadListing {
  const char* name;
  std::string bytes;
};

void PrintTo(const BadListing& listing, std::ostream* os) { *os << listing.name; }

class ListingData : public FakeTransfer, public testing::WithParamInterface<BadListing> {};

TEST_P(ListingData, EveryEntryIsRead) {
  LogIn(Transfer("LIST", SendAll(GetParam().bytes)));
  ftp_.Cache = false;
  ASSERT_TRUE(probe_.Run([&] { ftp_.List(); }, "listed"));
  std::vector<std::string> names;
  for (int32_t i = 0; i < ftp_.Files().Count(); ++i) names.push_back(ftp_.Files().Item(i).name);
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
  EXPECT_EQ(ftp_.BytesTransferred(), static_cast<int64_t>(GetParam().bytes.size()));
  EXPECT_TRUE(probe_.errorTexts.empty());
}

const BadListing kBadListings[] = {
    {"CrLf", Line("a.txt") + "\r\n" + Line("b.txt") + "\r\n" + Line("c.txt") + "\r\n"},
    {"LfOnly", Line("a.txt") + "\n" + Line("b.txt") + "\n" + Line("c.txt") + "\n"},
    {"LastLineWithoutLineEnd", Line("a.txt") + "\r\n" + Line("b.txt") + "\n" + Line("c.txt")},
    {"NulInsideALine", Line("a.txt") + "\r\n" + Line(std::string("b.t\0xt", 6)) + "\r\n" + Line("c.txt") + "\r\n"},
};
INSTANTIATE_TEST_SUITE_P(FakeServer, ListingData, testing::ValuesIn(kBadListings),
                         [](const testing::TestParamInfo<BadListing>& info) { return std::string(info.param.name); });

TEST_F(FakeTransfer, AListingOfTwoMiBInOneByteChunksIsReadWhole) {
  std::string listing;
  int lines = 0;
  while (listing.size() < (2u << 20)) listing += Line("file" + std::to_string(lines++) + ".txt") + "\r\n";
  LogIn(Transfer("LIST", [&](FakeFtpPeer& p, FakeData& d) {
    p.Reply(kOpening);
    for (const char c : listing) d.Send(std::string_view(&c, 1));
    d.Close();
    p.Reply("226 Transfer complete");
  }));
  ASSERT_TRUE(probe_.Run([&] { ftp_.List(); }, "listed"));
  ASSERT_EQ(ftp_.Files().Count(), lines);
  EXPECT_EQ(ftp_.Files().Item(lines - 1).name, "file" + std::to_string(lines - 1) + ".txt");
  EXPECT_EQ(static_cast<int>(ftp_.RawListing().size()), lines);
}

// ---- Forged data addresses ------------------------------------------------------------------

TEST_F(FakeTransfer, APassiveReplyCannotSendTheClientElsewhere) {
  int decoy = -1;
  LogIn([&](FakeFtpPeer& p) {
    LoginUntil(p, "PASV");
    FakeData data = FakeData::Listen(p);
    decoy = test::ListenAt("127.0.0.2", data.Port());
    p.Reply(data.PasvReply("127,0,0,2"));
    if (!test::ExpectTransfer(p, data, "RETR", {})) return;
    SendAll(kContent)(p, data);
    test::Converse(p, test::AcceptingReplies(), "");
  });
  ASSERT_TRUE(probe_.Run([&] { ftp_.GetFile("f", tree_.Win("f")); }, "received"));
  EXPECT_EQ(tree_.Read("f"), kContent);
  ASSERT_GE(decoy, 0);
  pollfd waiting{decoy, POLLIN, 0};
  EXPECT_EQ(poll(&waiting, 1, 0), 0) << "the client went to the address in the reply";
  close(decoy);
}

TEST_F(FakeTransfer, AnActiveConnectionFromAnotherAddressIsClosed) {
  bool strangerClosed = false;
  LogIn([&](FakeFtpPeer& p) {
    p.Reply("220 fake ready");
    std::optional<FakeData> stranger = test::OpenData(p, test::AcceptingReplies(), {}, "127.0.0.3");
    if (!stranger) return;
    strangerClosed = stranger->ClientClosed();
    FakeData data = FakeData::Connect(p, stranger->PortArgument());
    if (!test::ExpectTransfer(p, data, "RETR", {})) return;
    SendAll(kContent)(p, data);
    test::Converse(p, test::AcceptingReplies(), "");
  });
  ftp_.Passive = false;
  ASSERT_TRUE(probe_.Run([&] { ftp_.GetFile("f", tree_.Win("f")); }, "received"));
  EXPECT_TRUE(strangerClosed);
  EXPECT_EQ(tree_.Read("f"), kContent);
}

// ---- Every command refused ----------------------------------------------------------------

struct Refusal {
  const char* name;
  std::function<void(TMFtp&, const test::TempTree&)> start;
  FakeReplies replies;
  Events events;
};

Events Refused(const char* event) { return {"busy", "error 29", "ready", event}; }

void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.name; }

class CommandRefused : public FakeTransfer, public testing::WithParamInterface<Refusal> {};

TEST_P(CommandRefused, IsError29ThenReadyAndItsOwnEvent) {
  uint16_t dataPort = 0;
  const int listener = test::ListenOnLoopback(dataPort);
  FakeReplies changes = GetParam().replies;
  changes["PASV"] = PasvReplyFor(dataPort);
  tree_.Write("up.txt", "up");
  LogIn(Answering(changes));
  ftp_.Cache = false;
  GetParam().start(ftp_, tree_);
  probe_.Expect(GetParam().events);
  EXPECT_EQ(probe_.errorTexts, std::vector<std::string>{"Access denied or file not found"});
  EXPECT_TRUE(ftp_.Connected());
  EXPECT_FALSE(tree_.Exists("down.txt"));
  close(listener);
}

const Refusal kRefusals[] = {
    {"Cwd", [](TMFtp& f, auto&) { f.ChangeDirectory("x"); }, {{"CWD", "550 No such folder"}}, Refused("changed")},
    {"Mkd", [](TMFtp& f, auto&) { f.CreateDirectory("x"); }, {{"MKD", "550 Exists"}}, Refused("created")},
    {"Rmd", [](TMFtp& f, auto&) { f.RemoveDirectory("x"); }, {{"RMD", "550 Not empty"}}, Refused("removed")},
    {"Dele", [](TMFtp& f, auto&) { f.DeleteFile("x"); }, {{"DELE", "550 No such file"}}, Refused("deleted")},
    {"Rnfr", [](TMFtp& f, auto&) { f.RenameFile("a", "b"); }, {{"RNFR", "550 No such file"}}, Refused("renamed")},
    {"Rnto", [](TMFtp& f, auto&) { f.RenameFile("a", "b"); }, {{"RNFR", "350 Ready"}, {"RNTO", "553 Not allowed"}},
     Refused("renamed")},
    {"Retr", [](TMFtp& f, auto& t) { f.GetFile("x", t.Win("down.txt")); }, {{"RETR", "550 No such file"}},
     Refused("received")},
    {"Stor", [](TMFtp& f, auto& t) { f.PutFile(t.Win("up.txt"), "x"); }, {{"STOR", "553 Not allowed"}},
     Refused("stored")},
    {"List", [](TMFtp& f, auto&) { f.List(); }, {{"LIST", "550 No such folder"}},
     {"busy", "info 14", "error 29", "ready", "listed"}},
    {"Command", [](TMFtp& f, auto&) { f.SendCommand("SITE CHMOD 600 x"); }, {{"SITE", "550 Not allowed"}},
     {"busy", "error 29", "ready"}},
};
INSTANTIATE_TEST_SUITE_P(FakeServer, CommandRefused, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });


// ---- Resuming --------------------------------------------------------------------------------

// A local file of 1000 bytes resumed against what SIZE says of the remote
// one: complete, longer (REST), shorter (fetched whole), or unknown (REST
// from the local size: the server's REST decides).
TEST_F(FakeTransfer, ADownloadResumesOnlyWhereTheServerHasMore) {
  struct Row {
    const char* sizeReply;
    std::string served;
    const char* rest;  // the REST sent, or nullptr
    std::string result;
    Events events;
  };
  const std::string local(1000, 'L');
  const Row rows[] = {
      {"213 1000", "", nullptr, local, {"busy", "info 20", "ready", "received"}},
      {"213 1500", std::string(500, 'n'), "REST 1000", local + std::string(500, 'n'), kReceived},
      {"213 800", std::string(800, 'n'), nullptr, std::string(800, 'n'),
       {"busy", "info 17", "info 10", "ready", "received"}},
      {"500 SIZE not understood", std::string(500, 'n'), "REST 1000", local + std::string(500, 'n'), kReceived},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.sizeReply);
    tree_.Write("local/f", local);
    LogIn(Transfer("RETR", SendAll(row.served), Accepting({{"SIZE", row.sizeReply}})));
    ftp_.OnFtpNeedInfo = [](TMFtp&, TMFtpInfoNeeded, std::string& answer) { answer = kAnswerResume; };
    ftp_.GetFile("f", tree_.Win("local/f"));
    probe_.Expect(row.events);
    EXPECT_EQ(tree_.Read("local/f"), row.result);
    EXPECT_EQ(WasSent("RETR f"), !row.served.empty());
    EXPECT_EQ(WasSent("REST 1000"), row.rest != nullptr);
    ftp_.Logout();
    test::PumpUntil([&] { return !ftp_.Connected(); });
  }
}

// An upload resumes only onto a shorter remote file; onto a longer one it
// overwrites, and an empty one is not asked about.
TEST_F(FakeTransfer, AnUploadResumesOnlyOntoAShorterRemoteFile) {
  struct Row {
    const char* sizeReply;
    bool asked;
    std::string received;
    const char* rest;
  };
  const std::string local = std::string(500, 'a') + std::string(500, 'b');
  const Row rows[] = {
      {"213 500", true, std::string(500, 'b'), "REST 500"},
      {"213 1500", true, local, nullptr},
      {"213 0", false, local, nullptr},
      {"550 No such file", false, local, nullptr},
  };
  tree_.Write("local/f", local);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.sizeReply);
    auto received = std::make_shared<std::string>();
    LogIn(Transfer("STOR", ReceiveInto(received), Accepting({{"SIZE", row.sizeReply}})));
    bool asked = false;
    ftp_.OnFtpNeedInfo = [&](TMFtp&, TMFtpInfoNeeded, std::string& answer) {
      asked = true;
      answer = kAnswerResume;
    };
    ASSERT_TRUE(probe_.Run([&] { ftp_.PutFile(tree_.Win("local/f"), "f"); }, "stored"));
    EXPECT_EQ(asked, row.asked);
    EXPECT_EQ(*received, row.received);
    EXPECT_EQ(WasSent("REST 500"), row.rest != nullptr);
    EXPECT_TRUE(probe_.errorTexts.empty());
    ftp_.Logout();
    test::PumpUntil([&] { return !ftp_.Connected(); });
  }
}

// ---- The listing cache ------------------------------------------------------------------------

TEST_F(FakeTransfer, AFreshCacheAnswersAListingWithoutACommand) {
  LogIn(Answering());
  TMFtpFileInfoList files, directories;
  files.Add("cached.txt", "-rw-r--r--", "15/01/2001 12:00", "5", "", "user", "group", "");
  directories.Add("sub", "drwxr-xr-x", "", "0", "", "user", "group", "");
  const int port = ftp_.Port;
  ASSERT_TRUE(SaveCacheFile(GetCacheFileName("127.0.0.1", "joe", "/", port, false), files));
  ASSERT_TRUE(SaveCacheFile(GetCacheFileName("127.0.0.1", "joe", "/", port, true), directories));
  const size_t sent = Sent().size();
  ftp_.List();
  probe_.Expect({"ready", "listed"});
  EXPECT_TRUE(ftp_.FromCache());
  EXPECT_EQ(ftp_.IndexOfFile("cached.txt"), 0);
  EXPECT_EQ(ftp_.Directories().Item(0).name, "sub");
  EXPECT_EQ(Sent().size(), sent);
}

// A second listing that fails leaves nothing of the first one.
TEST_F(FakeTransfer, AFailedListingLeavesNoEntries) {
  uint16_t dataPort = 0;
  const int listener = test::ListenOnLoopback(dataPort);
  // The second listing's PASV names a port where nothing flows.
  const FakeReplies replies = Accepting({{"LIST", "450 Folder busy"}, {"PASV", PasvReplyFor(dataPort)}});
  LogIn(Transfer("LIST", SendAll(Line("a.txt") + "\r\n"), replies));
  ftp_.Cache = false;
  ASSERT_TRUE(probe_.Run([&] { ftp_.List(); }, "listed"));
  ASSERT_EQ(ftp_.Files().Count(), 1);
  ASSERT_TRUE(probe_.Run([&] { ftp_.List(); }, "listed"));
  EXPECT_EQ(probe_.events, (Events{"busy", "info 14", "error 29", "ready", "listed"}));
  EXPECT_EQ(ftp_.Files().Count(), 0);
  close(listener);
}

// RMD deletes the cached listings of the folder it removed: the name in the
// current folder, in the root, or taken whole when it begins with "/".
TEST_F(FakeTransfer, RemovingAFolderDeletesItsCachedListings) {
  LogIn([](FakeFtpPeer& p) {
    p.Reply("220 fake ready");
    const FakeReplies replies = Accepting({{"RMD", "250 Removed"}});
    while (std::optional<std::string> line = p.Command()) {
      if (line->starts_with("CWD ")) {
        p.Reply("250 \"" + line->substr(4) + "\" is the current folder");
        continue;
      }
      const auto it = replies.find(line->substr(0, line->find(' ')));
      p.Reply(it == replies.end() ? "502 Not here" : it->second);
    }
  });
  struct Row {
    const char* current;
    const char* name;
    const char* removed;
  };
  const Row rows[] = {{"/pub", "x", "/pub/x"}, {"/", "x", "/x"}, {"/pub", "/abs", "/abs"}};
  const int port = ftp_.Port;
  const auto cacheFile = [&](const std::string& folder, bool directories) {
    return GetCacheFileName("127.0.0.1", "joe", folder, port, directories);
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.removed);
    for (const std::string& folder : {std::string(row.removed), std::string("/pub/y")})
      for (const bool directories : {true, false}) ASSERT_TRUE(SaveCacheFile(cacheFile(folder, directories), {}));
    ASSERT_TRUE(probe_.Run([&] { ftp_.ChangeDirectory(row.current); }, "changed"));
    ASSERT_TRUE(probe_.Run([&] { ftp_.RemoveDirectory(row.name); }, "removed"));
    EXPECT_FALSE(platform::FileExists(cacheFile(row.removed, true)));
    EXPECT_FALSE(platform::FileExists(cacheFile(row.removed, false)));
    EXPECT_TRUE(platform::FileExists(cacheFile("/pub/y", true)));
  }
}


// ---- The operation model --------------------------------------------------------------------

TEST_F(FakeTransfer, CommandsOfTheCallerAndRenamesThatChangeNothing) {
  LogIn([](FakeFtpPeer& p) {
    LoginUntil(p, "CWD");
    std::this_thread::sleep_for(300ms);
    p.Reply("250 OK");
    test::Converse(p, Accepting({{"SITE", "200 Done"}}), "");
  });
  // An empty command while busy is refused and leaves the running one be.
  ftp_.ChangeDirectory("x");
  ftp_.SendCommand("");
  probe_.Expect({"busy", "info 5", "ready", "changed"});

  // With a handler of its own the caller ends the operation.
  std::string reply;
  probe_.events.clear();
  ftp_.SendCommand("SITE X", [&](const std::string& r) { reply = r; });
  ASSERT_TRUE(test::PumpUntil([&] { return !reply.empty(); }));
  test::PumpFor(200ms);
  EXPECT_EQ(reply, "200 Done");
  EXPECT_TRUE(ftp_.Busy());
  ftp_.ClearBusy();
  EXPECT_FALSE(ftp_.Busy());
  EXPECT_EQ(probe_.events, Events{"busy"});

  // A name missing ends the transfer before anything is sent.
  const size_t sent = Sent().size();
  ASSERT_TRUE(probe_.Run([&] { ftp_.GetFile("", tree_.Win("f")); }, "received"));
  EXPECT_EQ(probe_.events, (Events{"busy", "error 23", "ready", "received"}));
  ASSERT_TRUE(probe_.Run([&] { ftp_.PutFile("", "f"); }, "stored"));
  EXPECT_EQ(probe_.events, (Events{"busy", "error 20", "ready", "stored"}));

  // These change nothing and are not even begun.
  probe_.events.clear();
  ftp_.RenameFile("same", "same");
  ftp_.RenameFile("", "new");
  ftp_.DeleteFile("");
  ftp_.RemoveDirectory("");
  test::PumpFor(200ms);
  EXPECT_EQ(Sent().size(), sent);
  EXPECT_FALSE(ftp_.Busy());
  EXPECT_TRUE(probe_.events.empty());
}

TEST(TMFtpListeners, FourOfEachKindHearEveryReportInSlotOrder) {
  TMFtp ftp;
  std::vector<std::string> heard;
  ftp.OnFtpInfo = [&](TMFtp&, FtpInfo, const std::string&) { heard.push_back("event"); };
  const auto listener = [&](const std::string& name) {
    return [&heard, name](TMFtp&, FtpInfo, const std::string& text) { heard.push_back(name + " " + text); };
  };
  for (int slot = 1; slot <= kFtpListenerSlots; ++slot) EXPECT_EQ(ftp.AddInfoListener(listener(std::to_string(slot))), slot);
  EXPECT_EQ(ftp.AddInfoListener(listener("fifth")), -1);
  EXPECT_EQ(ftp.AddInfoListener(nullptr), -1);
  ftp.RemoveListener(2);
  ftp.RemoveListener(0);
  ftp.RemoveListener(5);
  int selfRemoving = 0;
  EXPECT_EQ(ftp.AddInfoListener([&](TMFtp& f, FtpInfo, const std::string&) { f.RemoveListener(2), ++selfRemoving; }), 2);
  ftp.DoInfo(ftpInfoLoggedIn);
  ftp.DoInfo(ftpInfoLoggedIn);
  EXPECT_EQ(heard, (std::vector<std::string>{"event", "1 Logged in", "3 Logged in", "4 Logged in", "event", "1 Logged in",
                                             "3 Logged in", "4 Logged in"}));
  EXPECT_EQ(selfRemoving, 1);

  std::vector<std::string> errors;
  const auto errorListener = [&](TMFtp&, FtpError error, const std::string&) { errors.push_back(std::to_string(error)); };
  for (int slot = 1; slot <= kFtpListenerSlots; ++slot) EXPECT_EQ(ftp.AddErrorListener(errorListener), slot);
  EXPECT_EQ(ftp.AddErrorListener(errorListener), -1);
  ftp.RemoveListener(1);  // an info slot: the error listeners stay
  ftp.RemoveErrorListener(3);
  ftp.DoError(ftpErrCommandRefused);
  EXPECT_EQ(errors, (std::vector<std::string>{"29", "29", "29"}));
}

// A caller that processes messages while it hears of progress must not run
// the next round of the upload inside the current one.
TEST_F(FakeTransfer, AnUploadRoundNeverRunsInsideAnother) {
  const int64_t size = (8 << 20) + 17;
  test::WritePatternFile(tree_.Posix("up"), size);
  auto received = std::make_shared<std::string>();
  LogIn(Transfer("STOR", ReceiveInto(received)));
  int reports = 0;
  int depth = 0;
  int deepest = 0;
  ftp_.AddInfoListener([&](TMFtp&, FtpInfo info, const std::string&) {
    if (info != ftpInfoProgress) return;
    ++reports;
    deepest = std::max(deepest, ++depth);
    platform::MessageLoop::Current().ProcessMessages();
    --depth;
  });
  ftp_.PutFile(tree_.Win("up"), "up");
  probe_.Expect({"busy", "info 10", "ready", "stored"});
  EXPECT_GT(reports, 1);
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(*received, tree_.Read("up"));
  EXPECT_EQ(ftp_.BytesTransferred(), size);
}

// A call to write that comes after the whole file went out (here a server
// that repeats its preliminary reply) finds nothing left to send: the
// upload ends as stored, without an error about the closed file.
TEST_F(FakeTransfer, AWriteAfterTheWholeUploadSendsNothing) {
  tree_.Write("up", kContent);
  auto received = std::make_shared<std::string>();
  LogIn(Transfer("STOR", [=](FakeFtpPeer& p, FakeData& d) {
    p.Reply(kOpening);
    *received = d.ReceiveAll();
    p.Reply("150 Still there");
    p.Reply("226 Transfer complete");
  }));
  ASSERT_TRUE(probe_.Run([&] { ftp_.PutFile(tree_.Win("up"), "up"); }, "stored"));
  EXPECT_EQ(probe_.events, (Events{"busy", "info 10", "ready", "stored"}))
      << (probe_.errorTexts.empty() ? "" : probe_.errorTexts.front());
  EXPECT_EQ(*received, kContent);
  EXPECT_EQ(ftp_.BytesTransferred(), static_cast<int64_t>(kContent.size()));
}

// ---- Local files that fail ---------------------------------------------------------------------

// Runs fn in the child the runner makes, with a component logged in to the
// fake; the child's exit status says what went wrong (0: nothing).
int InChild(const std::function<int(const std::function<int()>&)>& runner, uint16_t port,
            const std::function<int(TMFtp&, FtpProbe&)>& fn) {
  return runner([&] {
    TMFtp ftp;
    FtpProbe probe(ftp);
    Aim(ftp, port);
    if (!probe.Run([&] { ftp.Login(); }, "loggedin")) return 100;
    probe.events.clear();
    return fn(ftp, probe);
  });
}

// The disk fills up while the file is written: error 21, the download goes
// on to its end, and the file that was there is kept.
TEST_F(FakeTransfer, AFullDiskIsError21AndKeepsTheFile) {
  tree_.Write("local/target", "old");
  server_ = std::make_unique<FakeFtpServer>(Transfer("RETR", SendAll(std::string(1 << 20, 'x'))));
  const int status = InChild(
      [](const std::function<int()>& fn) { return test::RunWithFileSizeLimit(64 << 10, fn); }, server_->Port(),
      [&](TMFtp& ftp, FtpProbe& probe) {
        ftp.Passive = true;
        if (!probe.Run([&] { ftp.GetFile("f", tree_.Win("local/target")); }, "received")) return 1;
        test::PumpFor(200ms);
        if (probe.events != Events{"busy", "error 21", "info 10", "ready", "received"}) return 2;
        if (probe.errorTexts != std::vector<std::string>{"File too large"}) return 3;
        return 0;
      });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(tree_.Read("local/target"), "old");
  EXPECT_EQ(FolderEntries(tree_.Posix("local")), std::set<std::string>{"target"});
}

// A file the user may not read is error 20, and nothing is sent for it.
TEST_F(FakeTransfer, AnUnreadableFileIsError20AndNothingIsSent) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root to give the file to another user";
  tree_.Write("secret", "s");
  std::filesystem::permissions(tree_.Posix(), std::filesystem::perms(0755));
  std::filesystem::permissions(tree_.Posix("secret"), std::filesystem::perms(0600));
  server_ = std::make_unique<FakeFtpServer>(Answering());
  const int status = InChild(test::RunUnprivileged, server_->Port(), [&](TMFtp& ftp, FtpProbe& probe) {
    if (!probe.Run([&] { ftp.PutFile(tree_.Win("secret"), "secret"); }, "stored")) return 1;
    return probe.events == Events{"busy", "error 20", "ready", "stored"} ? 0 : 2;
  });
  EXPECT_EQ(status, 0);
  const std::vector<std::string> sent = server_->Transcripts().at(0);
  EXPECT_EQ(sent.back(), "PWD");  // the login's last command
}

}  // namespace
}  // namespace kv
