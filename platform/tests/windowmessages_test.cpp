// Window messages between processes: the datagram layout, what the
// listener refuses, a killed listener's socket, and the session commands.
#include "platform/windowmessages.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>

#include "platform/session.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

class WindowMessages : public ::testing::Test {
 protected:
  test::TempTree tree;
  test::ScopedEnv runtime{"XDG_RUNTIME_DIR", tree.Posix().c_str()};

  // Sends raw bytes to the class's socket.
  static bool SendRaw(const std::string& bytes) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, WindowSocketPath("TtfTest").c_str());
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    const bool sent = sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address),
                             sizeof address) == static_cast<ssize_t>(bytes.size());
    close(fd);
    return sent;
  }
};

TEST_F(WindowMessages, ADatagramIsTheTagTheNumberAndBothParameters) {
  // 1043, WParam 42, LParam -2, laid out by hand.
  const std::string bytes("KVWM\x13\x04\0\0" "\x2a\0\0\0\0\0\0\0" "\xfe\xff\xff\xff\xff\xff\xff\xff", 24);
  const std::vector<uint8_t> encoded = EncodeWindowMessage({1043, 42, -2});
  EXPECT_EQ(std::string(encoded.begin(), encoded.end()), bytes);

  std::optional<WindowMessageListener> listener = WindowMessageListener::Create("TtfTest");
  ASSERT_TRUE(listener);
  std::optional<WindowHandle> window = FindWindow("TtfTest");
  ASSERT_TRUE(window);
  ASSERT_TRUE(PostMessage(*window, 1044, 7, 0));
  ASSERT_TRUE(SendRaw(bytes));
  for (const std::string& bad : {bytes.substr(0, 23), bytes + "x", "KVWX" + bytes.substr(4), std::string()}) {
    ASSERT_TRUE(SendRaw(bad));
  }
  const std::vector<ReceivedMessage> received = listener->Receive();
  ASSERT_EQ(received.size(), 6u);
  EXPECT_EQ(received[0].message, (WindowMessage{1044, 7, 0}));
  EXPECT_EQ(received[1].message, (WindowMessage{1043, 42, -2}));
  for (size_t i = 2; i < received.size(); ++i) {
    EXPECT_FALSE(received[i].message) << i;
    EXPECT_NE(received[i].refusal.find("keine Nachricht"), std::string::npos) << received[i].refusal;
  }
  EXPECT_TRUE(listener->Receive().empty());
}

// (A killed listener's socket is replaced: see the scheduler's process tests.)
TEST_F(WindowMessages, ALiveListenersSocketAndOtherFilesOfItsNameStay) {
  std::optional<WindowMessageListener> first = WindowMessageListener::Create("TtfTest");
  ASSERT_TRUE(first);
  EXPECT_FALSE(WindowMessageListener::Create("TtfTest"));
  EXPECT_TRUE(FindWindow("TtfTest"));
  first.reset();
  test::WriteFileText(WindowSocketPath("TtfTest"), "nicht löschen");
  EXPECT_FALSE(WindowMessageListener::Create("TtfTest"));
  EXPECT_EQ(test::ReadFileText(WindowSocketPath("TtfTest")), "nicht löschen");
}

// The private folder keeps other users out; should a socket be reachable
// all the same, the sender's user is checked.
TEST_F(WindowMessages, MessagesOfAnotherUserAreRefused) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root to post as another user";
  std::optional<WindowMessageListener> listener = WindowMessageListener::Create("TtfTest");
  ASSERT_TRUE(listener);
  for (const std::string& folder : {tree.Posix(), tree.Posix("kestrovane")}) chmod(folder.c_str(), 0711);
  chmod(listener->Path().c_str(), 0666);
  const WindowHandle window{listener->Path()};
  ASSERT_EQ(test::RunUnprivileged([&] { return PostMessage(window, 1043, 1, 0) ? 0 : 1; }), 0);
  const std::vector<ReceivedMessage> received = listener->Receive();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_FALSE(received[0].message);
  EXPECT_EQ(received[0].refusal, "Absender ist ein anderer Benutzer");
}

TEST(SessionExit, CommandsAndTheirReplacements) {
  {
    test::ScopedEnv session{"XDG_SESSION_ID", "c7"};
    EXPECT_EQ(SessionExitCommand(SessionExit::LogOff),
              (std::vector<std::string>{"loginctl", "terminate-session", "c7"}));
    EXPECT_EQ(SessionExitCommand(SessionExit::PowerOff), (std::vector<std::string>{"systemctl", "poweroff"}));
  }
  test::ScopedEnv replaced{kLogOffCommandVariable, "'/opt/my tools/bye' --now"};
  EXPECT_EQ(SessionExitCommand(SessionExit::LogOff), (std::vector<std::string>{"/opt/my tools/bye", "--now"}));
  test::ScopedEnv broken{kPowerOffCommandVariable, "'unclosed"};
  EXPECT_FALSE(ExitSession(SessionExit::PowerOff));
}

}  // namespace
}  // namespace kv::platform
