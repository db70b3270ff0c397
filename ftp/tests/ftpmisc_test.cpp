// Date texts and day numbers against Python's datetime; server paths.
#include <sstream>

#include <gtest/gtest.h>

#include "ftp/ftpmisc.h"
#include "testsupport/commands.h"

namespace kv {
namespace {

std::string Python(const std::string& program) {
  int status = -1;
  const std::string out = test::RunCommand("/usr/bin/python3 -c " + test::ShellQuote(program), &status);
  EXPECT_EQ(status, 0) << out;
  return out;
}

TEST(UnixTime, AgreesWithPythonAndRefusesWhatItCannotName) {
  const std::string expected = Python(
      "import datetime\n"
      "for s in (0, 86399, 2**31, 2**32, 253402300799):\n"
      "    print(datetime.datetime.fromtimestamp(s, datetime.timezone.utc).strftime('%d/%m/%Y %H:%M'))\n");
  std::istringstream lines(expected);
  for (const char* seconds : {"0", "86399", "2147483648", "4294967296", "253402300799"}) {
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(UnixTimeToFtpDate(seconds), line) << seconds;
  }
  for (const char* bad : {"-1", "253402300800", "99999999999999999999", "", "12a", " 5", "$10"})
    EXPECT_EQ(UnixTimeToFtpDate(bad), kUnknownFtpDate) << bad;
}

TEST(DayNumbers, AgreeWithPythonOrdinalsFromYear1To9999) {
  const std::string table = Python(
      "import calendar, datetime\n"
      "for y in range(1, 10000):\n"
      "    for m, d in ((1, 1), (2, 28), (2, 29), (3, 1), (12, 31)):\n"
      "        if m == 2 and d == 29 and not calendar.isleap(y):\n"
      "            print(y, m, d, 'none')\n"
      "        else:\n"
      "            print(y, m, d, datetime.date(y, m, d).toordinal() - 693594)\n");
  std::istringstream lines(table);
  int rows = 0, year, month, day;
  std::string number;
  while (lines >> year >> month >> day >> number) {
    ++rows;
    const std::optional<int32_t> encoded = EncodeDayNumber(year, month, day);
    if (number == "none") {
      EXPECT_FALSE(encoded) << year << "-" << month << "-" << day;
      continue;
    }
    ASSERT_TRUE(encoded) << year << "-" << month << "-" << day;
    ASSERT_EQ(*encoded, std::stoi(number)) << year << "-" << month << "-" << day;
    int y = 0, m = 0, d = 0;
    ASSERT_TRUE(DecodeDayNumber(*encoded, y, m, d));
    ASSERT_EQ(std::tie(y, m, d), std::tie(year, month, day));
  }
  EXPECT_EQ(rows, 9999 * 5);
  int y = 7, m = 7, d = 7;
  EXPECT_FALSE(DecodeDayNumber(-693594, y, m, d));  // 31.12.0000
  EXPECT_EQ(std::tie(y, m, d), std::make_tuple(7, 7, 7));
  EXPECT_FALSE(EncodeDayNumber(2001, 4, 31));
  EXPECT_FALSE(EncodeDayNumber(10000, 1, 1));
}

TEST(ServerPaths, OnlyRealDrivePathsAreRewritten) {
  const std::pair<const char*, const char*> cases[] = {
      {"/C:/pub", "/pub"},   {"C:\\pub\\new", "/pub/new"}, {"d:/x\\y", "/x/y"}, {"/C:", "/"},
      {"/pub", "/pub"},      {"pub", "pub"},               {"/1:/x", "/1:/x"},   {"", ""},
      {"C:", "/"},           {"/pub/C:/x", "/pub/C:/x"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(DrivePathToFtpPath(in), out) << in;
}

}  // namespace
}  // namespace kv
