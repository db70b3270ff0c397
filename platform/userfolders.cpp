#include "platform/userfolders.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

#include "platform/volumes.h"

namespace kv::platform {
namespace {

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string HomeFolder() {
  if (const char* home = getenv("HOME"); home && home[0] == '/') return home;
  struct passwd pw, *found = nullptr;
  std::vector<char> buf(16384);
  if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) != 0 || !found || !pw.pw_dir) return "";
  return pw.pw_dir;
}

std::string XdgBaseFolder(const char* variable, std::string_view homeRelative) {
  if (const char* value = getenv(variable); value && value[0] == '/') return WithoutTrailingSlashes(value);
  const std::string home = HomeFolder();
  if (home.empty()) return "";
  const std::string base = WithoutTrailingSlashes(home);
  return (base == "/" ? "" : base) + "/" + std::string(homeRelative);
}

std::string GetWindowsDirectory() {
  const std::string cache = XdgBaseFolder("XDG_CACHE_HOME", ".cache");
  if (cache.empty()) return "";
  std::string folder = FromPosixPath((cache == "/" ? "" : cache) + "/kestrovane");
  while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  return folder;
}

}  // namespace kv::platform
