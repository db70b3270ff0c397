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
constexpr const char* kOpening = "150 Opening BINARY mode data connection";

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
Serve SendAll(std::string bytes, const char* opening = kOpening) {
  return [=](FakeFtpPeer& p, FakeData& d) {
    p.Reply(opening);
    d.Send(bytes);
    d.Close();
    std::this_thread::sleep_for(100ms);
    p.Reply("226 Transfer complete");
  };
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
// last, and leaves no other file behind.
TEST_P(TransferEnding, EndsOnceAndReplacesTheFileOnlyWhenComplete) {
  tree_.Write("local/target", "old");
  LogIn(Transfer("RETR", GetParam().serve));
  ftp_.GetFile("f", tree_.Win("local/target"));
  probe_.Expect(GetParam().events);
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

TEST_F(FakeTransfer, TheSizeAnnouncedBeforeADownloadIsReported) {
  LogIn(Transfer("RETR", SendAll("x", "150 Opening BINARY mode data connection for f (2048 bytes)")));
  ASSERT_TRUE(probe_.Run([&] { ftp_.GetFile("f", tree_.Win("f")); }, "received"));
  EXPECT_EQ(probe_.sizes, std::vector<std::string>{"2048"});
  EXPECT_EQ(tree_.Read("f"), "x");
}

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

TEST_F(FakeTransfer, APasvReplyWithoutSixNumbersIsError12) {
  for (const char* reply : {"227 Entering Passive Mode (127,0,0,1,4)", "227 Entering Passive Mode (127,0,0,1,0,0)",
                            "227 Entering Passive Mode (127,0,0,1,300,1)", "227 Passive"}) {
    FakeReplies replies = test::AcceptingReplies();
    replies["PASV"] = reply;
    server_ = std::make_unique<FakeFtpServer>([=](FakeFtpPeer& p) { test::Converse(p, replies); });
    TMFtp ftp;
    FtpProbe probe(ftp);
    Aim(ftp, server_->Port());
    ftp.Passive = true;
    ASSERT_TRUE(probe.Run([&] { ftp.Login(); }, "loggedin"));
    ASSERT_TRUE(probe.Run([&] { ftp.GetFile("f", tree_.Win("f")); }, "received")) << reply;
    EXPECT_EQ(probe.events, (Events{"busy", "error 12", "ready", "received"})) << reply;
    EXPECT_TRUE(ftp.Connected());
  }
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
  FakeReplies replies = test::AcceptingReplies();
  replies["PASV"] = "227 Entering Passive Mode (127,0,0,1," + std::to_string(dataPort / 256) + "," +
                    std::to_string(dataPort % 256) + ")";
  for (const auto& [verb, reply] : GetParam().replies) replies[verb] = reply;
  tree_.Write("up.txt", "up");
  LogIn([=](FakeFtpPeer& p) { test::Converse(p, replies); });
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

}  // namespace
}  // namespace kv
