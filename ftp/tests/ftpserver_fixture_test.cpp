// The FTP server fixtures that the FTP tests stand on (the transfer tests
// show that each serves its root writably): each leaves nothing running
// behind.
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "testsupport/commands.h"
#include "testsupport/ftpserver.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::FtpServerKind;

class FtpServerFixture : public ::testing::TestWithParam<FtpServerKind> {
 protected:
  test::TempTree tree_;
};

// Processes whose command line names the folder (every server's
// configuration lives there). Any process of the machine may end while it
// is read: its command line then reads as empty.
int ProcessesNaming(const std::string& folder) {
  int count = 0;
  DIR* proc = opendir("/proc");
  while (struct dirent* e = readdir(proc)) {
    const int fd = open((std::string("/proc/") + e->d_name + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    std::string cmdline;
    char chunk[4096];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) cmdline.append(chunk, static_cast<size_t>(n));
    close(fd);
    if (cmdline.find(folder) != std::string::npos) ++count;
  }
  closedir(proc);
  return count;
}

bool Refuses(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool refused = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
  close(s);
  return refused;
}

// Waits (against a hang, not for timing) until the file holds the text.
bool EventuallyHolds(const test::TempTree& tree, const std::string& rel, const std::string& text) {
  for (int i = 0; i < 6000; ++i) {
    if (tree.Read(rel).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST_P(FtpServerFixture, EndsEverySessionWhenDestroyed) {
  tree_.Mkdir("srv");
  std::string work;
  int port = 0;
  {
    KV_START_FTP_SERVER(server, GetParam(), {.root = tree_.Posix("srv")});
    work = server.workFolder();
    port = server.port();
    test::RunCommand(test::FtpClientCommand(server, {"hold"}) + " >" + tree_.Posix("hold.out") + " 2>&1 &");
    ASSERT_TRUE(EventuallyHolds(tree_, "hold.out", "READY")) << tree_.Read("hold.out");
    EXPECT_GE(ProcessesNaming(work), 1);
  }
  EXPECT_TRUE(EventuallyHolds(tree_, "hold.out", "CLOSED")) << tree_.Read("hold.out");
  EXPECT_EQ(ProcessesNaming(work), 0);
  EXPECT_TRUE(Refuses(port));
}

INSTANTIATE_TEST_SUITE_P(Kinds, FtpServerFixture, ::testing::ValuesIn(test::kFtpServerKinds),
                         [](const auto& info) { return std::string(test::FtpServerKindName(info.param)); });

}  // namespace
}  // namespace kv
