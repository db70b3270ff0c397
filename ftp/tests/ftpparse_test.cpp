// Listing lines of the styles that no Debian server writes, hand-written
// after what such servers send, and the mended readings.
#include <gtest/gtest.h>

#include "ftp/ftpparse.h"

namespace kv {
namespace {

struct LineCase {
  TMFtpServerType style;
  std::string line;
  // "name | d or f | size | date | link | attributes owner group"; "" when
  // the line is no entry.
  std::string entry;
};

std::ostream& operator<<(std::ostream& os, const LineCase& c) { return os << c.line.substr(0, 80); }

std::string Summary(TMFtpServerType style, const std::string& line) {
  FtpListEntry e;
  FtpListingState listing;
  if (!ParseListLine(style, line, e, listing)) return "";
  return e.name + " | " + (e.isDirectory ? "d" : "f") + " | " + e.size + " | " + e.date + " | " + e.link + " | " +
         e.attributes + " " + e.owner + " " + e.group;
}

class ListLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(ListLine, GivesTheEntryFields) { EXPECT_EQ(Summary(GetParam().style, GetParam().line), GetParam().entry); }

INSTANTIATE_TEST_SUITE_P(
    Unix, ListLine,
    ::testing::Values(
        LineCase{ftpstAutoDetect, "drwxr-xr-x   2 user  group      512 Jan 15  2001 pub",
                 "pub | d | 512 | 15/01/2001 12:00 |  | drwxr-xr-x user group"},
        LineCase{ftpstUNIX, "-rw-r--r--   1 user  group     1024 Mar  5 09:30 my  file.txt ",
                 "my  file.txt | f | 1024 | 05/03/???? 09:30 |  | -rw-r--r-- user group"},
        LineCase{ftpstAutoDetect, "lrwxrwxrwx   1 root  root        11 Jan  1  1999 lib -> /usr/lib",
                 "lib | d | 11 | 01/01/1999 12:00 | -> /usr/lib | lrwxrwxrwx root root"},
        LineCase{ftpstAutoDetect, "lrwxrwxrwx 1 root root 10 Jan 1 1999 info -> README.txt",
                 "info | f | 10 | 01/01/1999 12:00 | -> README.txt | lrwxrwxrwx root root"},
        // An arrow makes a link only on a link line.
        LineCase{ftpstAutoDetect, "-rw-r--r--    1 0        0               2 Dec 08 23:53 a -> b",
                 "a -> b | f | 2 | 08/12/???? 23:53 |  | -rw-r--r-- 0 0"},
        // Months in capitals, unknown months, days no month has.
        LineCase{ftpstAutoDetect, "-rw-r--r-- 1 u g 7 JUN 30  2020 x", "x | f | 7 | 30/06/2020 12:00 |  | -rw-r--r-- u g"},
        LineCase{ftpstAutoDetect, "-rw-r--r-- 1 u g 7 MAR 3 11:05 x", "x | f | 7 | 03/03/???? 11:05 |  | -rw-r--r-- u g"},
        LineCase{ftpstAutoDetect, "-rw-r--r-- 1 u g 7 APR 30  1999 x", "x | f | 7 | 30/04/1999 12:00 |  | -rw-r--r-- u g"},
        LineCase{ftpstAutoDetect, "-rw-r--r-- 1 u g 7 Xyz 30  1999 x", "x | f | 7 | 01/01/80 12:00 |  | -rw-r--r-- u g"},
        LineCase{ftpstAutoDetect, "-rw-r--r-- 1 u g 7 Feb 30  1999 x", "x | f | 7 | 01/01/80 12:00 |  | -rw-r--r-- u g"},
        // Where the size stands.
        LineCase{ftpstAutoDetect, "-rw-r--r--+  1 user group 1024 Jan 15  2001 acl.txt",
                 "acl.txt | f | 1024 | 15/01/2001 12:00 |  | -rw-r--r--+ user group"},
        LineCase{ftpstAutoDetect, "-rw-r--r-- [RWCEAFMS] admin  1024 Jan 15  2001 f",
                 "f | f | 1024 | 15/01/2001 12:00 |  | -rw-r--r-- admin 1024"},
        LineCase{ftpstAutoDetect, "-rw-r--r--1 owner group 1024 Jan 15  2001 f",
                 "f | f | 1024 | 15/01/2001 12:00 |  | -rw-r--r--1 group 1024"},
        LineCase{ftpstNetTerm, "-rw-rw-rw-   user     12345 Jan 15 12:34 nt.txt",
                 "nt.txt | f | 12345 | 15/01/???? 12:34 |  | -rw-rw-rw- 12345 Jan"},
        LineCase{ftpstNetware, "d [RWCEAFMS] Admin 512 Jan 15  2001 folder",
                 "folder | d | 512 | 15/01/2001 12:00 |  | d Admin 512"},
        LineCase{ftpstNetPresenz, "-------r--         326  1391972  1392298 Nov 22  1995 Mega.sit",
                 "Mega.sit | f | 1392298 | 22/11/1995 12:00 |  | -------r-- 1391972 1392298"},
        LineCase{ftpstNetPresenz, "drwxrwxr-x               folder        2 May 10  1996 network",
                 "network | d | 2 | 10/05/1996 12:00 |  | drwxrwxr-x 2 May"},
        // No entries.
        LineCase{ftpstAutoDetect, "total 12", ""}, LineCase{ftpstAutoDetect, "", ""},
        LineCase{ftpstAutoDetect, "crw-rw-rw- 1 root root 1, 3 Jan 15 2001 null", ""},
        LineCase{ftpstAutoDetect, "-rw-r--r-- 1 u g 10 Jan 15", ""},
        LineCase{ftpstAutoDetect, "-rw-r--r-- 1 u g 10 Jan 15  2001 ", ""},
        LineCase{ftpstAutoDetect, "-rw-r--r-- 1 u g 10 Jan 15  2001", ""}));

INSTANTIATE_TEST_SUITE_P(
    Dos, ListLine,
    ::testing::Values(
        LineCase{ftpstAutoDetect, "01-15-98  10:30AM       <DIR>          pub", "pub | d | 0 | 15/01/1998 10:30 |  |   "},
        LineCase{ftpstMSFTP, "01-15-98  10:30PM                 1234 file name.txt  ",
                 "file name.txt   | f | 1234 | 15/01/1998 22:30 |  |   "},
        LineCase{ftpstAutoDetect, "01-15-2019  12:05AM       <DIR>          late", "late | d | 0 | 15/01/2019 00:05 |  |   "},
        LineCase{ftpstAutoDetect, "06-01-70  12:00PM                    5 old", "old | f | 5 | 01/06/1970 12:00 |  |   "},
        LineCase{ftpstAutoDetect, "12-31-05  23:59                     77 night", "night | f | 77 | 31/12/2005 23:59 |  |   "},
        LineCase{ftpstAutoDetect, "13-45-98  10:30AM                    5 bad", "bad | f | 5 | 01/01/80 12:00 |  |   "},
        LineCase{ftpstAutoDetect, "01-15-98  10:30AM       <DIR>", ""},
        LineCase{ftpstAutoDetect, "01-15-98  10:30AM       <DIR>            ", ""}));

INSTANTIATE_TEST_SUITE_P(
    Eplf, ListLine,
    ::testing::Values(
        LineCase{ftpstAutoDetect, "+i7.3,m86400,/,\tpub", "pub | d | 0 | 02/01/1970 00:00 | 7.3 |   "},
        LineCase{ftpstVmsMultinet, "+i8388621.48594,m825718503,r,s280,\tdjb.html",
                 "djb.html | f | 280 | 01/03/1996 22:15 | 8388621.48594 |   "},
        LineCase{ftpstAutoDetect, "+r,s5,\ta,b, c.txt", "a,b, c.txt | f | 5 | 01/01/80 12:00 |  |   "},
        LineCase{ftpstAutoDetect, "+m-5,r,\tneg", "neg | f | 0 | 01/01/80 12:00 |  |   "},
        LineCase{ftpstAutoDetect, "+/,\t", ""}));

INSTANTIATE_TEST_SUITE_P(
    VmsVm, ListLine,
    ::testing::Values(
        LineCase{ftpstVmsMultinet, "CII-MANUAL.TEX;1  213/216  29-JAN-1996 03:33:12  [ANONYMOU,ANONYMOUS]   (RWED,RWED,,)",
                 "CII-MANUAL.TEX | f | 213/216 | 29/01/1996 03:33 |  |   "},
        LineCase{ftpstVmsMultinet, "DIRECTORY.DIR;1    1/3     8-SEP-1996 16:09  [X,Y] (RWE,RWE,RE,RE)",
                 "DIRECTORY | d | 1/3 | 08/09/1996 16:09 |  |   "},
        LineCase{ftpstVmsUcx, "FILE.TXT;1  4  13-Jan-1998 12:31", "FILE.TXT | f | 4 | 13/01/1998 12:31 |  |   "},
        LineCase{ftpstVmsMultinet, "Directory DISK$USER:[FTP]", ""},
        LineCase{ftpstVmsUcx, "Total of 3 files, 216/219 blocks.", ""},
        LineCase{ftpstVmsUcx, ";1  4  13-JAN-1998 12:31", ""},
        LineCase{ftpstVM, "PROFILE  EXEC   A  1234  V  80  Mar  7 x", "PROFILE.EXEC | f | 1234 | 07/03/???? 12:00 |  |   "},
        LineCase{ftpstVMVPS, "X  NAME  512  a b c 15 Jan z", ".NAME | f | 512 | 15/01/???? 12:00 |  |   "},
        LineCase{ftpstVMVPS, "X totals: 12 3 4 5 6 7", ""}, LineCase{ftpstVMVPS, "X  A=B  512  a b c 15 Jan z", ""}));

TEST(ListLines, SplitFieldsInLinearTime) {
  const std::string blanks(4 << 20, ' ');
  FtpListEntry e;
  FtpListingState listing;
  EXPECT_FALSE(ParseListLine(ftpstAutoDetect, blanks, e, listing));
  EXPECT_FALSE(ParseListLine(ftpstVmsUcx, blanks + ";" + blanks, e, listing));
  ASSERT_TRUE(ParseListLine(ftpstAutoDetect, "-rw-r--r--" + blanks + "1 u g 10 Jan 15 2001 big" + blanks + "name", e,
                            listing));
  EXPECT_EQ(e.name, "big" + blanks + "name");
  EXPECT_EQ(e.size, "10");
}

// A VMS name too long for its line, and the listing after one that ended on
// such a name.
TEST(VmsListing, JoinsANameAloneWithTheNextLineOfTheSameListingOnly) {
  FtpListingState listing;
  FtpListEntry e;
  EXPECT_FALSE(ParseListLine(ftpstVmsUcx, "A-VERY-LONG-FILE-NAME.TXT;3", e, listing));
  ASSERT_TRUE(ParseListLine(ftpstVmsUcx, "12/15  13-JAN-1998 12:31:00  [G,O]  (RWED,RWED,RE,)", e, listing));
  EXPECT_EQ(e.name + " " + e.size + " " + e.date, "A-VERY-LONG-FILE-NAME.TXT 12/15 13/01/1998 12:31");

  EXPECT_FALSE(ParseListLine(ftpstVmsMultinet, "LONE-LAST-NAME.TXT;1", e, listing));
  listing.Reset();  // the next listing starts
  ASSERT_TRUE(ParseListLine(ftpstVmsMultinet, "FIRST.TXT;1  2  1-FEB-2001 10:00", e, listing));
  EXPECT_EQ(e.name + " " + e.size, "FIRST.TXT 2");

  // An entry never spans three lines, however a server pads them.
  EXPECT_FALSE(ParseListLine(ftpstVmsUcx, " ;", e, listing));
  EXPECT_FALSE(ParseListLine(ftpstVmsUcx, " ;", e, listing));
  ASSERT_TRUE(ParseListLine(ftpstVmsUcx, "NEXT.TXT;1  3  2-FEB-2001 11:00", e, listing));
  EXPECT_EQ(e.name, "NEXT.TXT");
}

TEST(ListFields, FollowTheBlanksOfTheLine) {
  EXPECT_EQ(ListField("total 12", 0), "total");
  EXPECT_EQ(ListField("total 12", 1), "");  // the last field, no blank after it
  EXPECT_EQ(ListField(" lead x", 0), "");
  EXPECT_EQ(ListField("a\tb  c ", 1), "c");  // a tab is no separator
  EXPECT_EQ(NameAfterFields("lrw 1 u g 5 Jan 1 2001 x -> y", 7), "x");
  EXPECT_EQ(LinkPart("-rw 1 u g 5 Jan 1 2001 x -> y"), "");
  EXPECT_EQ(ListDateFromFields("x Jan 5 2001 y", 1, false), "05/01/2001 12:00");
}

}  // namespace
}  // namespace kv
