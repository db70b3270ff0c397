#include "ftp/ftpcache.h"

#include <array>
#include <atomic>
#include <limits>

#include "ftp/ftpmisc.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kv {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr size_t kLinesPerEntry = 8;

std::atomic<CacheClock> g_clock{nullptr};

platform::DateTime CacheNow() {
  const CacheClock clock = g_clock.load();
  return clock ? clock() : platform::Now();
}

bool IsFresh(std::string_view path, int expireDays) {
  if (expireDays <= 0) return true;
  const std::optional<platform::FileTime> written = platform::GetLastWriteTime(path);
  if (!written) return false;
  // The sum is on the digits of the date, not on calendar days.
  const int64_t staleFrom = int64_t{DateToYmdNumber(platform::DateTimeFromFileTime(*written))} + expireDays;
  return DateToYmdNumber(CacheNow()) < staleFrom;
}

// Reads CR LF lines off the front of a text; a line end of any other kind
// makes the text unusable.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : rest_(text) {}
  bool Next(std::string_view& line) {
    const size_t end = rest_.find(kLineEnd);
    if (end == std::string_view::npos) return false;
    line = rest_.substr(0, end);
    rest_.remove_prefix(end + kLineEnd.size());
    return line.find_first_of("\r\n") == std::string_view::npos;
  }
  bool AtEnd() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

bool ReadCount(LineReader& lines, int32_t& count) {
  std::string_view line;
  if (!lines.Next(line) || line.empty() || line.size() > 10) return false;
  if (line.find_first_not_of("0123456789") != std::string_view::npos) return false;
  const int64_t value = platform::StrToInt64Def(line, -1);
  if (value < 0 || value > std::numeric_limits<int32_t>::max()) return false;
  count = static_cast<int32_t>(value);
  return true;
}

// The entries as they come, one block at a time; the count bounds the loop,
// never an allocation, so a false count fails where the lines run out.
bool ReadEntries(std::string_view content, TMFtpFileInfoList& list) {
  LineReader lines(content);
  int32_t count = 0;
  if (!ReadCount(lines, count)) return false;
  std::array<std::string_view, kLinesPerEntry> t;
  for (int32_t i = 0; i < count; ++i) {
    for (std::string_view& line : t)
      if (!lines.Next(line)) return false;
    list.Add(std::string(t[0]), std::string(t[1]), std::string(t[2]), std::string(t[3]), std::string(t[4]),
             std::string(t[5]), std::string(t[6]), std::string(t[7]));
  }
  return lines.AtEnd();
}

bool AppendLine(std::string& out, std::string_view text) {
  if (text.find_first_of("\r\n") != std::string_view::npos) return false;
  out.append(text).append(kLineEnd);
  return true;
}

bool Serialize(const TMFtpFileInfoList& list, std::string& out) {
  out = std::to_string(list.Count());
  out.append(kLineEnd);
  for (int32_t i = 0; i < list.Count(); ++i) {
    const MFtpFileInfo& e = list.Item(i);
    for (const std::string* text : {&e.name, &e.attributes, &e.date, &e.size, &e.link, &e.owner, &e.group,
                                    &e.description})
      if (!AppendLine(out, *text)) return false;
  }
  return true;
}

}  // namespace

std::string CacheFolder() {
  const std::string windows = WindowsFolder();
  return windows.empty() ? "" : platform::IncludeTrailingBackslash(windows) + "ftpcache\\";
}

std::string GetCacheFileName(std::string_view server, std::string_view user, std::string_view directory, int port,
                             bool directoryList) {
  const std::string folder = CacheFolder();
  if (folder.empty()) return "";
  std::string text = std::string(server) + "[" + std::to_string(port) + "]-";
  if (!platform::SameTextAscii(user, "ftp") && !platform::SameTextAscii(user, "anonymous"))
    text += "(" + std::string(user) + ")-";
  text += directory;
  return folder + MakeSafeFileName(text, '~') + (directoryList ? ".cached" : ".cachef");
}

bool LoadCacheFile(std::string_view path, TMFtpFileInfoList& list, int expireDays) {
  list.Clear();
  if (!platform::FileExists(path) || !IsFresh(path, expireDays)) return false;
  std::vector<uint8_t> bytes;
  if (!platform::ReadWholeFile(path, bytes)) return false;
  if (ReadEntries(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), list)) return true;
  list.Clear();
  return false;
}

bool SaveCacheFile(std::string_view path, const TMFtpFileInfoList& list) {
  std::string content;
  if (!Serialize(list, content)) return false;
  // A cache lost or cut by a crash is only fetched again (a file that is not
  // whole is never used), so it is not synced: every listing writes two.
  return InitCacheFolder() &&
         platform::WriteFileAtomic(path, content.data(), content.size(), platform::FileSync::NotSynced);
}

bool InitCacheFolder() {
  const std::string folder = CacheFolder();
  return !folder.empty() && platform::ForcePrivateDirectories(folder);
}

int32_t DateToYmdNumber(platform::DateTime date) {
  const platform::CivilTime c = platform::CivilFromDateTime(date);
  return c.year * 10000 + c.month * 100 + c.day;
}

void SetCacheClock(CacheClock clock) { g_clock.store(clock); }

}  // namespace kv
