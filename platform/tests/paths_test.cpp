#include "platform/paths.h"

#include <gtest/gtest.h>

namespace kv::platform {
namespace {

struct SplitCase {
  const char* path;
  const char* drive;
  const char* folder;  // ExtractFilePath
  const char* name;    // ExtractFileName
  const char* ext;     // ExtractFileExt
};

// Expected parts worked out by hand from the rules of the original platform's
// path helpers: the folder part ends at the last "\" or ":", the extension
// starts at a "." after it.
const SplitCase kSplitCases[] = {
    {"C:\\Daten\\brief.txt", "C:", "C:\\Daten\\", "brief.txt", ".txt"},
    {"C:\\Daten\\", "C:", "C:\\Daten\\", "", ""}, {"C:", "C:", "C:", "", ""},
    {"C:b.txt", "C:", "C:", "b.txt", ".txt"}, {"d:\\a.b\\c", "d:", "d:\\a.b\\", "c", ""},
    {"\\\\server\\share\\dir\\x.tar.gz", "\\\\server\\share", "\\\\server\\share\\dir\\", "x.tar.gz", ".gz"},
    {"\\\\server\\share", "\\\\server\\share", "\\\\server\\", "share", ""},
    {"\\\\server\\share\\", "\\\\server\\share", "\\\\server\\share\\", "", ""},
    {"\\\\server", "\\\\server", "\\\\", "server", ""},
    {"\\\\server\\", "\\\\server", "\\\\server\\", "", ""},
    {"\\single\\x", "", "\\single\\", "x", ""}, {"relative.doc", "", "", "relative.doc", ".doc"},
    {".profile", "", "", ".profile", ".profile"}, {"C:\\dir.d\\", "C:", "C:\\dir.d\\", "", ""}, {"", "", "", "", ""},
    {"C:\\Übung\\Straße.äöü", "C:", "C:\\Übung\\", "Straße.äöü", ".äöü"},
};

TEST(PathsTest, SplitsPathsIntoParts) {
  for (const SplitCase& c : kSplitCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ExtractFileDrive(c.path), c.drive);
    EXPECT_EQ(ExtractFilePath(c.path), c.folder);
    EXPECT_EQ(ExtractFileName(c.path), c.name);
    EXPECT_EQ(ExtractFileExt(c.path), c.ext);
    // Folder part and name always give the whole path back.
    EXPECT_EQ(ExtractFilePath(c.path) + ExtractFileName(c.path), c.path);
  }
}

TEST(PathsTest, TrailingBackslash) {
  const struct { const char* in; const char* included; const char* excluded; } cases[] = {
      {"C:\\Daten", "C:\\Daten\\", "C:\\Daten"}, {"C:\\Daten\\", "C:\\Daten\\", "C:\\Daten"}, {"C:\\", "C:\\", "C:"},
      {"", "\\", ""}, {"C:\\a\\\\", "C:\\a\\\\", "C:\\a\\"},  // one backslash at a time
      {"\\\\srv\\share", "\\\\srv\\share\\", "\\\\srv\\share"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(IncludeTrailingBackslash(c.in), c.included);
    EXPECT_EQ(ExcludeTrailingBackslash(c.in), c.excluded);
  }
}

TEST(PathsTest, ChangeFileExt) {
  const struct { const char* path; const char* ext; const char* expected; } cases[] = {
      {"C:\\a\\b.txt", ".bak", "C:\\a\\b.bak"}, {"C:\\a\\b", ".bak", "C:\\a\\b.bak"},
      {"C:\\a.d\\b", ".bak", "C:\\a.d\\b.bak"}, {"C:\\a\\b.tar.gz", "", "C:\\a\\b.tar"},
      {"C:\\a\\b.txt", ".txt.sync", "C:\\a\\b.txt.sync"},
      {"x.", ".y", "x.y"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ChangeFileExt(c.path, c.ext), c.expected);
  }
}

TEST(PathsTest, UncAndFtpPaths) {
  EXPECT_TRUE(IsUncPath("\\\\server\\share"));
  EXPECT_TRUE(IsUncPath("\\\\"));
  EXPECT_FALSE(IsUncPath("\\server"));
  EXPECT_FALSE(IsUncPath("C:\\\\x"));
  EXPECT_FALSE(IsUncPath(""));

  for (const char* p : {"ftp:", "ftp://host/dir", "FTP://host", "Ftp:x", "fTP:"}) EXPECT_TRUE(IsFtpPath(p)) << p;
  for (const char* p : {"ftp", "ftp/", "ft:", "xftp:", "", "C:\\ftp:", "\\\\ftp:\\x"}) EXPECT_FALSE(IsFtpPath(p)) << p;
}

}  // namespace
}  // namespace kv::platform
