#pragma once
// The listing cache: every folder listing the client receives is kept in two
// files, one for the subfolders and one for the files, and a later listing
// of that folder is answered from them while they are young enough. The
// files live in the Windows folder's "ftpcache" folder (mode 0700: their
// names hold servers, users and folders), shared by every process of the
// user.
//
// File format, kept to the byte: lines ended by CR LF; line 1 the number of
// entries n in decimal; then n blocks of eight lines, one per entry in list
// order: name, attributes, date text, size, link, owner, group, description.
// Nothing else: the file's last-write time is its age.
#include <cstdint>
#include <string>
#include <string_view>

#include "ftp/ftpdata.h"
#include "platform/time.h"

namespace kv {

// WindowsFolder() + "\ftpcache\"; "" when there is no Windows folder.
std::string CacheFolder();

// server + "[" + port + "]-", then "(" + user + ")-" unless the user is "ftp"
// or "anonymous" (in any case), then the folder; made safe (MakeSafeFileName
// with "~"), in the cache folder, with ".cached" for the subfolder list or
// ".cachef" for the file list. For srv, 21, joe, /pub/x:
// srv[21]-(joe)--pub-x.cached.
std::string GetCacheFileName(std::string_view server, std::string_view user, std::string_view directory, int port,
                             bool directoryList);

// Fills list from the file when it exists, is fresh and is whole; false
// otherwise, with list empty. Fresh: expireDays <= 0, or today's date number
// (DateToYmdNumber, taken at each call) is below the number of the file's
// local last-write date plus expireDays: within a month that is exactly
// expireDays days, across a month's end the file goes stale on the first of
// the next month at the latest. A file that ends before its count of
// entries, inside a line, or goes on after them, or whose count is not a
// plain non-negative number, is not whole.
bool LoadCacheFile(std::string_view path, TMFtpFileInfoList& list, int expireDays);

// Replaces the file by the list, through a temporary file renamed into
// place, so that a reader never sees a part of it; the cache folder is made
// (InitCacheFolder) first. A text holding a line break cannot be stored:
// false, the file unchanged. Nothing is reported beyond the result: a
// listing that cannot be cached is fetched again next time.
bool SaveCacheFile(std::string_view path, const TMFtpFileInfoList& list);

// Makes the cache folder with its parents; the folder itself gets mode 0700
// (narrowed when it is ours), a link or another user's folder is refused.
// false when it cannot be had.
bool InitCacheFolder();

// year * 10000 + month * 100 + day of a date (20011231).
int32_t DateToYmdNumber(platform::DateTime date);

// The local date-time that the freshness test takes as now; tests put in
// their own. nullptr: the real clock.
using CacheClock = platform::DateTime (*)();
void SetCacheClock(CacheClock clock);

}  // namespace kv
