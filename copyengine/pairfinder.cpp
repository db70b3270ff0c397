#include "copyengine/pairfinder.h"

#include <string>

#include "platform/paths.h"
#include "platform/text.h"

namespace kv {
namespace {

// "/" read as "\", runs of "\" after the first two characters (a share's
// "\\") made one, a trailing "\" added.
std::string Normalized(std::string_view path) {
  std::string out;
  out.reserve(path.size() + 1);
  for (char c : path) {
    if (c == '/') c = '\\';
    if (c == '\\' && out.size() >= 2 && out.back() == '\\') continue;
    out += c;
  }
  if (out.empty() || out.back() != '\\') out += '\\';
  return out;
}

// Length of the drive part of a normalised path: "C:", "\\server\share",
// "ftp:\\host"; 0 when it has none.
size_t DrivePartLength(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') return 2;
  if (platform::IsFtpPath(path)) {
    size_t at = 4;  // after "ftp:"
    while (at < path.size() && path[at] == '\\') ++at;
    const size_t hostEnd = path.find('\\', at);
    return hostEnd == std::string_view::npos ? path.size() : hostEnd;
  }
  if (path.starts_with("\\\\")) return platform::ExtractFileDrive(path).size();
  return 0;
}

}  // namespace

bool HasDotComponents(std::string_view path) {
  size_t i = 0;
  while (i <= path.size()) {
    size_t end = path.find_first_of("\\/", i);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(i, end - i);
    if (part == "." || part == "..") return true;
    i = end + 1;
  }
  return false;
}

std::optional<std::string> PathBelowRoot(std::string_view path, std::string_view root) {
  if (root.empty() || HasDotComponents(path) || HasDotComponents(root)) return std::nullopt;
  const std::string r = Normalized(root);
  const std::string p = Normalized(path);
  if (p.size() < r.size()) return std::nullopt;
  const size_t drive = DrivePartLength(r);
  if (DrivePartLength(p) != drive) return std::nullopt;
  if (!platform::SameText(std::string_view(p).substr(0, drive), std::string_view(r).substr(0, drive))) {
    return std::nullopt;
  }
  if (std::string_view(p).substr(drive, r.size() - drive) != std::string_view(r).substr(drive)) return std::nullopt;
  return p.substr(r.size());
}

bool PathIsBelowRoot(std::string_view path, std::string_view root) { return PathBelowRoot(path, root).has_value(); }

const TFolderPair* TFolderPairFinder::Find(std::string_view side1Path, std::string_view side2Path) {
  const size_t count = pairs_.size();
  for (size_t step = 0; step < count; ++step) {
    const size_t i = (next_ + step) % count;
    const TFolderPair& pair = pairs_[i];
    if (PathIsBelowRoot(side1Path, pair.sourceRoot) && PathIsBelowRoot(side2Path, pair.destinationRoot)) {
      next_ = i;
      return &pair;
    }
  }
  return nullptr;
}

}  // namespace kv
