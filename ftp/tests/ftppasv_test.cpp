#include "ftp/ftppasv.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(FtpPasv, SixNumbersWithOrWithoutParentheses) {
  struct Row {
    const char* reply;
    bool ok;
    uint16_t port;
  };
  const Row rows[] = {
      {"227 Entering Passive Mode (10,0,0,5,4,1)", true, 1025},
      {"227 Entering Passive Mode ( 10, 0 ,0,5,4,1 ).", true, 1025},
      {"227 Entering Passive Mode 10,0,0,5,4,1", true, 1025},
      {"227 =10,0,0,5,255,255 ok", true, 65535},
      {"227 Entering Passive Mode (10,0,0,5,4)", false, 0},
      {"227 Entering Passive Mode (10,0,0,5,4,1,7)", false, 0},
      {"227 Entering Passive Mode (10,0,0,256,4,1)", false, 0},
      {"227 Entering Passive Mode (10,0,0,5,4,1", false, 0},
      {"227 Entering Passive Mode (a,b,c,d,e,f)", false, 0},
      {"227 Entering Passive Mode 10,0,0,5,4,1,7", false, 0},
      {"227", false, 0},
  };
  for (const Row& row : rows) {
    PasvNumbers numbers{};
    EXPECT_EQ(ParsePasvNumbers(row.reply, numbers), row.ok) << row.reply;
    if (row.ok) {
      EXPECT_EQ(PasvPort(numbers), row.port) << row.reply;
    }
  }
}

TEST(FtpPasv, PortArgumentSplitsThePortIntoTwoBytes) {
  EXPECT_EQ(PortArgument("192.168.1.20", 1025), "192,168,1,20,4,1");
  EXPECT_EQ(PortArgument("127.0.0.1", 65535), "127,0,0,1,255,255");
}

}  // namespace
}  // namespace kv
