#include "platform/time.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

#include "testsupport/commands.h"
#include "testsupport/goldenbytes.h"
#include "testsupport/temptree.h"

namespace kv::platform {
namespace {

// The oracles below are independent of the code under test: the C library's
// timegm for UTC instants, Python's zipfile for the DOS fields of a file's
// local time, and Python's zoneinfo for local time -> UTC.

struct Fields { int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0; };

int64_t Utc(const Fields& f) {
  struct tm t{.tm_sec = f.s, .tm_min = f.mi, .tm_hour = f.h, .tm_mday = f.d, .tm_mon = f.mo - 1, .tm_year = f.y - 1900};
  return timegm(&t);
}

// The DOS layout written out by hand.
DosDateTime Dos(const Fields& f) {
  return uint32_t(f.y - 1980) << 25 | uint32_t(f.mo) << 21 | uint32_t(f.d) << 16 |
         uint32_t(f.h) << 11 | uint32_t(f.mi) << 5 | uint32_t(f.s / 2);
}

FileTime FileTimeOfUnix(int64_t seconds) { return seconds * 10'000'000 + kFileTimeOfUnixEpoch; }

std::string RunPython(const kv::test::TempTree& tree, const std::string& script, const std::string& args) {
  tree.Write("oracle.py", script);
  int status = -1;
  std::string out = kv::test::RunCommand("python3 " + tree.Posix("oracle.py") + " " + args, &status);
  EXPECT_EQ(status, 0) << script;
  return out;
}

uint32_t Le(const std::string& b, size_t at, int bytes) {
  return static_cast<uint32_t>(kv::test::LittleEndian(reinterpret_cast<const uint8_t*>(b.data()) + at, bytes));
}

// Walks the local file headers: DOS time at offset 10, DOS date at 12.
std::vector<DosDateTime> DosValuesInZip(const std::string& zip) {
  std::vector<DosDateTime> values;
  size_t at = 0;
  while (at + 30 <= zip.size() && Le(zip, at, 4) == 0x04034b50) {
    values.push_back(Le(zip, at + 12, 2) << 16 | Le(zip, at + 10, 2));
    at += 30 + Le(zip, at + 26, 2) + Le(zip, at + 28, 2) + Le(zip, at + 18, 4);
  }
  return values;
}

const char* const kZones[] = {"Europe/Berlin", "UTC", "Australia/Sydney", "America/St_Johns"};

// File times (UTC) around the switches in Berlin and Sydney, and the edges.
const Fields kInstants[] = {
    {2024, 3, 31, 0, 59, 59},  {2024, 3, 31, 1, 0, 0},    {2024, 10, 27, 0, 30, 0},
    {2024, 10, 27, 0, 59, 59}, {2024, 10, 27, 1, 0, 0},   {2024, 10, 27, 1, 30, 0},
    {2024, 4, 6, 15, 59, 59},  {2024, 4, 6, 16, 30, 1},   {2024, 10, 5, 15, 59, 59},
    {2024, 10, 5, 16, 0, 0},   {2021, 6, 15, 10, 20, 31}, {2024, 2, 29, 12, 0, 1},
    {1970, 1, 1, 0, 0, 0},     {1960, 5, 5, 0, 0, 0},     {1979, 12, 31, 22, 59, 59},
    {1979, 12, 31, 23, 0, 0},  {1980, 1, 1, 12, 0, 0},    {2044, 5, 5, 5, 5, 5},
    {2107, 12, 31, 12, 0, 0},  {2108, 1, 1, 12, 0, 0},    {2200, 1, 1, 0, 0, 0},
};

TEST(TimeTest, FileTimeAndTimespec) {
  EXPECT_EQ(FileTimeFromTimespec({0, 0}), 116444736000000000LL);
  EXPECT_EQ(FileTimeFromTimespec({1, 999'999'999}), 116444736000000000LL + 19'999'999);
  EXPECT_EQ(FileTimeFromTimespec({-11644473600, 0}), 0);  // 1601-01-01
  EXPECT_EQ(FileTimeFromTimespec({INT64_MAX / 2, 0}), INT64_MAX);
  EXPECT_EQ(FileTimeFromTimespec({INT64_MIN / 2, 0}), INT64_MIN);
  for (FileTime ft :
       {FileTime{0}, FileTime{-1}, kFileTimeOfUnixEpoch - 1, FileTime{133'000'000'123'456'789}}) {
    const timespec ts = TimespecFromFileTime(ft);
    EXPECT_GE(ts.tv_nsec, 0);
    EXPECT_LT(ts.tv_nsec, 1'000'000'000);
    EXPECT_EQ(FileTimeFromTimespec(ts), ft);
  }
}

TEST(TimeTest, DosOfRealFilesMatchesZipfile) {
  kv::test::TempTree tree;
  std::string paths;
  for (size_t i = 0; i < std::size(kInstants); ++i) {
    const std::string name = "f" + std::to_string(100 + i);
    tree.Write(name, "");
    tree.SetMTime(name, Utc(kInstants[i]));
    paths += " " + tree.Posix(name);
  }
  const std::string script =
      "import sys, zipfile\n"
      "with zipfile.ZipFile(sys.argv[1], 'w', strict_timestamps=False) as z:\n"
      "    for p in sys.argv[2:]:\n"
      "        z.write(p, arcname=p.rsplit('/', 1)[-1])\n";
  for (const char* zone : kZones) {
    kv::test::ScopedEnv tz("TZ", zone);
    RunPython(tree, script, tree.Posix("t.zip") + paths);
    const auto expected = DosValuesInZip(tree.Read("t.zip"));
    ASSERT_EQ(expected.size(), std::size(kInstants)) << zone;
    for (size_t i = 0; i < std::size(kInstants); ++i) {
      struct stat st {};
      ASSERT_EQ(stat(tree.Posix("f" + std::to_string(100 + i)).c_str(), &st), 0);
      EXPECT_EQ(DosFromFileTime(FileTimeFromTimespec(st.st_mtim)), expected[i])
          << zone << " instant " << i;
    }
  }
}

TEST(TimeTest, ClampsAndComparesAsUnsigned) {
  kv::test::ScopedEnv tz("TZ", "Europe/Berlin");
  const DosDateTime first = Dos({1980, 1, 1, 0, 0, 0});
  const DosDateTime last = Dos({2107, 12, 31, 23, 59, 58});
  EXPECT_EQ(DosFromFileTime(FileTimeOfUnix(0)), first);
  EXPECT_EQ(DosFromFileTime(INT64_MIN), first);
  EXPECT_EQ(DosFromFileTime(INT64_MAX), last);
  EXPECT_EQ(DosFromCivil({1979, 12, 31, 23, 59, 59}), first);
  EXPECT_EQ(DosFromCivil({2107, 12, 31, 23, 59, 59}), last);
  EXPECT_EQ(DosFromCivil({2108, 1, 1, 0, 0, 0}), last);
  EXPECT_EQ(DosFromCivil({2024, 4, 31, 12, 0, 1}), Dos({2024, 5, 1, 12, 0, 0}));  // carries over
  const DosDateTime before2044 = DosFromCivil({2043, 12, 31, 23, 59, 58});
  const DosDateTime from2044 = DosFromCivil({2044, 1, 1, 0, 0, 0});
  EXPECT_NE(from2044 & 0x80000000u, 0u);
  EXPECT_LT(before2044, from2044);
}

TEST(TimeTest, InvalidDosValuesGiveNothing) {
  // Month, day, hour, minute and the two-second count out of range; no 29 February in 2023.
  const DosDateTime invalid[] = {0, Dos({2024, 0, 1, 0, 0, 0}), Dos({2024, 13, 1, 0, 0, 0}), Dos({2024, 1, 0, 0, 0, 0}),
                                 Dos({2023, 2, 29, 0, 0, 0}), Dos({2024, 4, 31, 0, 0, 0}), Dos({2024, 1, 1, 24, 0, 0}),
                                 Dos({2024, 1, 1, 0, 60, 0}), Dos({2024, 1, 1, 0, 0, 0}) | 30, 0xFFFFFFFF};
  for (DosDateTime dos : invalid) {
    EXPECT_FALSE(CivilFromDos(dos)) << std::hex << dos;
    EXPECT_FALSE(FileTimeFromDos(dos)) << std::hex << dos;
    EXPECT_FALSE(DateTimeFromDos(dos)) << std::hex << dos;
  }
  EXPECT_TRUE(FileTimeFromDos(Dos({2024, 2, 29, 23, 59, 58})));
  EXPECT_TRUE(FileTimeFromDos(Dos({2107, 12, 31, 23, 59, 58})));
}

// Local times of the switch days and ordinary days, every 10 minutes around
// the switch hour.
std::vector<Fields> LocalTimesAroundSwitches() {
  std::vector<Fields> times;
  for (Fields day :
       {Fields{2024, 3, 31}, Fields{2024, 10, 27}, Fields{2024, 4, 7}, Fields{2024, 10, 6}}) {
    for (int minute = 0; minute < 240; minute += 10)
      times.push_back({day.y, day.mo, day.d, minute / 60, minute % 60, 0});
    times.push_back({day.y, day.mo, day.d, 2, 59, 58});
  }
  times.insert(times.end(), {{1980, 1, 1, 0, 0, 0}, {2044, 7, 1, 12, 0, 0}, {2107, 12, 31, 23, 59, 58}});
  return times;
}

TEST(TimeTest, DosToFileTimeMatchesZoneinfo) {
  kv::test::TempTree tree;
  const auto times = LocalTimesAroundSwitches();
  std::string args;
  for (const auto& f : times) {
    args += " " + std::to_string(f.y) + "," + std::to_string(f.mo) + "," + std::to_string(f.d) +
            "," + std::to_string(f.h) + "," + std::to_string(f.mi) + "," + std::to_string(f.s);
  }
  // fold=0: a repeated local time is its first occurrence, a skipped one
  // is read with the offset before the switch.
  const std::string script =
      "import sys\nfrom datetime import datetime\nfrom zoneinfo import ZoneInfo\n"
      "tz = ZoneInfo(sys.argv[1])\n"
      "for a in sys.argv[2:]:\n"
      "    print(int(datetime(*map(int, a.split(',')), tzinfo=tz).timestamp()))\n";
  for (const char* zone : kZones) {
    kv::test::ScopedEnv tz("TZ", zone);
    std::istringstream out(RunPython(tree, script, zone + args));
    for (const auto& f : times) {
      int64_t expected = 0;
      ASSERT_TRUE(out >> expected) << zone;
      const auto ft = FileTimeFromDos(Dos(f));
      ASSERT_TRUE(ft);
      EXPECT_EQ(*ft, FileTimeOfUnix(expected))
          << zone << " " << f.y << "-" << f.mo << "-" << f.d << " " << f.h << ":" << f.mi;
    }
  }
}

TEST(TimeTest, RoundTripsAtTheBerlinSwitches) {
  kv::test::ScopedEnv tz("TZ", "Europe/Berlin");
  for (const auto& f : LocalTimesAroundSwitches()) {
    const bool skipped = f.y == 2024 && f.mo == 3 && f.d == 31 && f.h == 2;
    const Fields back = skipped ? Fields{f.y, f.mo, f.d, 3, f.mi, f.s} : f;
    EXPECT_EQ(DosFromFileTime(*FileTimeFromDos(Dos(f))), Dos(back))
        << f.mo << "/" << f.h << ":" << f.mi;
  }
  // The second 02:30 of 27.10. (winter time) comes back as the first one.
  const FileTime secondOccurrence = FileTimeOfUnix(Utc({2024, 10, 27, 1, 30, 0}));
  EXPECT_EQ(*FileTimeFromDos(DosFromFileTime(secondOccurrence)),
            secondOccurrence - 3600LL * 10'000'000);
  // Naive date-times keep two seconds apart across the switch; file times do not.
  const DosDateTime a = Dos({2024, 10, 27, 2, 59, 58}), b = Dos({2024, 10, 27, 3, 0, 0});
  EXPECT_NEAR((*DateTimeFromDos(b) - *DateTimeFromDos(a)) * 86400, 2.0, 1e-6);
  EXPECT_EQ(*FileTimeFromDos(b) - *FileTimeFromDos(a), 3602LL * 10'000'000);
}

TEST(TimeTest, RepeatedHourDoesNotDependOnEarlierConversions) {
  kv::test::ScopedEnv tz("TZ", "Europe/Berlin");
  const DosDateTime repeated = Dos({2024, 10, 27, 2, 30, 0});
  const FileTime expected = FileTimeOfUnix(Utc({2024, 10, 27, 0, 30, 0}));
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const DosDateTime other = Dos({2024, t % 2 ? 1 : 7, 10, 12, 0, 0});  // winter / summer
      for (int i = 0; i < 500; ++i) {
        (void)FileTimeFromDos(other);
        if (FileTimeFromDos(repeated) != expected) ++wrong[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(TimeTest, DateTimeDoubles) {
  struct Case { DateTime dt; CivilTime civil; };
  auto days = [](Fields f) { return double(Utc(f) - Utc({1899, 12, 30, 0, 0, 0})) / 86400; };
  const Case cases[] = {
      {0, {1899, 12, 30}}, {0.5, {1899, 12, 30, 12}}, {2, {1900, 1, 1}}, {25569, {1970, 1, 1}},
      {36526.75, {2000, 1, 1, 18}}, {-1.25, {1899, 12, 29, 6}}, {-1.75, {1899, 12, 29, 18}},
      {days({1800, 1, 1, 0, 0, 0}) - 0.25, {1800, 1, 1, 6}},
      {days({2024, 2, 29, 0, 0, 0}) + (13 * 3600 + 14 * 60 + 15.678) / 86400,
       {2024, 2, 29, 13, 14, 15, 678}},
      {days({9999, 12, 31, 0, 0, 0}) + 0.5, {9999, 12, 31, 12}},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(DateTimeFromCivil(c.civil), c.dt, 1e-9) << c.dt;
    const CivilTime back = CivilFromDateTime(c.dt);
    EXPECT_EQ(
        FormatDateLong(back) + " " + FormatTime(back) + "." + std::to_string(back.millisecond),
        FormatDateLong(c.civil) + " " + FormatTime(c.civil) + "." +
            std::to_string(c.civil.millisecond));
  }
  const CivilTime rounded = CivilFromDateTime(0.99999999999);  // rounds into the next day
  EXPECT_EQ(FormatDateLong(rounded) + " " + FormatTime(rounded), "31.12.1899 00:00:00");
  EXPECT_EQ(FormatDateLong(CivilFromDateTime(std::nan(""))), "30.12.1899");
  EXPECT_EQ(FormatDateLong(CivilFromDateTime(1e300)), "31.12.9999");
  EXPECT_EQ(FormatDateLong(CivilFromDateTime(-1e300)), "01.01.0001");
}

TEST(TimeTest, DateTimeOfFileTimeIsLocal) {
  kv::test::ScopedEnv tz("TZ", "Europe/Berlin");
  const FileTime summer = FileTimeOfUnix(Utc({2024, 7, 1, 10, 0, 0})) + 2'500'000;  // .250
  const CivilTime c = CivilFromDateTime(DateTimeFromFileTime(summer));
  EXPECT_EQ(FormatDateLong(c) + " " + FormatTime(c), "01.07.2024 12:00:00");
  EXPECT_EQ(c.millisecond, 250);
  EXPECT_EQ(FileTimeFromDateTime(DateTimeFromFileTime(summer)), summer);
  const FileTime now = FileTimeNow();
  EXPECT_LT(std::abs(FileTimeFromDateTime(Now()) - now), 3600LL * 10'000'000);
}

TEST(TimeTest, FixedTextFormats) {
  EXPECT_EQ(FormatDateLong({2024, 3, 5}) + " " + FormatDateShort({2024, 3, 5}), "05.03.2024 05.03.24");
  EXPECT_EQ(FormatDateShort({2000, 12, 31}) + " " + FormatDateShort({1899, 12, 30}), "31.12.00 30.12.99");
  EXPECT_EQ(FormatTime({2024, 3, 5, 7, 8, 9}) + " " + FormatTime({2024, 3, 5, 23, 59, 58}), "07:08:09 23:59:58");
}

std::string Show(std::optional<DateTime> dt) {
  if (!dt) return "none";
  const CivilTime c = CivilFromDateTime(*dt);
  return FormatDateLong(c) + " " + FormatTime(c);
}

TEST(TimeTest, ParseDateTime) {
  const TwoDigitYearRule century{0, 2025}, window50{50, 2025};
  struct Case { const char* text; TwoDigitYearRule rule; const char* expected; };
  const Case cases[] = {
      {"07.12.26", century, "07.12.2026 00:00:00"},
      {"30.12.99 00:00:00", century, "30.12.2099 00:00:00"},
      {"30.12.99 00:00:00", window50, "30.12.1999 00:00:00"},
      {"01.01.74", window50, "01.01.2074 00:00:00"}, {"01.01.75", window50, "01.01.1975 00:00:00"},
      {"01.01.00", century, "01.01.2000 00:00:00"},
      {"07.12.2026 13:45:10", century, "07.12.2026 13:45:10"},
      {"07.12.1850 13:45", century, "07.12.1850 13:45:00"},
      {" 1.2.2024  9:05 ", century, "01.02.2024 09:05:00"},
      {"29.02.2024 23:59:59", century, "29.02.2024 23:59:59"},
      {"", century, "none"}, {"07.12", century, "none"}, {"07.12.202", century, "none"},
      {"07.12.20266", century, "none"}, {"07.12.2026x", century, "none"}, {"07/12/2026", century, "none"},
      {"07.12.2026T12:00", century, "none"}, {"07.12.2026 12", century, "none"},
      {"07.12.2026 12:5:7", century, "07.12.2026 12:05:07"},
      {"07.12.2026 12:", century, "none"}, {"07.12.2026 12:123", century, "none"}, {"31.04.2024", century, "none"},
      {"29.02.2023", century, "none"}, {"00.01.2024", century, "none"}, {"07.12.2026 24:00", century, "none"},
      {"07.12.2026 12:60", century, "none"}, {"07.12.2026 12:30:60", century, "none"},
      {"-7.12.2026", century, "none"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Show(ParseDateTime(std::string_view(c.text), c.rule)), c.expected) << c.text;

  const time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  const int century0 = (local.tm_year + 1900) / 100 * 100;
  EXPECT_EQ(Show(ParseDateTime(std::string("07.12.26 13:45:10"))),
            "07.12." + std::to_string(century0 + 26) + " 13:45:10");
  EXPECT_EQ(Show(ParseDate("07.12.2026")), "07.12.2026 00:00:00");
  EXPECT_FALSE(ParseDate("07.12.2026 10:00"));
  EXPECT_NEAR(*ParseTime("18:00:00"), 0.75, 1e-12);
  EXPECT_NEAR(*ParseTime("6:00"), 0.25, 1e-12);
  EXPECT_FALSE(ParseTime("07.12.2026"));
}

TEST(TimeTest, TickCountNeverGoesBack) {
  uint64_t previous = TickCount64();
  for (int i = 0; i < 100000; ++i) {
    const uint64_t now = TickCount64();
    ASSERT_GE(now, previous);
    previous = now;
  }
}

}  // namespace
}  // namespace kv::platform
