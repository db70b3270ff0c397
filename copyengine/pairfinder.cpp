#include "copyengine/pairfinder.h"

#include <string>

#include "platform/paths.h"
#include "platform/text.h"

namespace kv {
namespace {

std::string Normalized(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (c == '/') c = '\\';
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

bool PathIsBelowRoot(std::string_view path, std::string_view root) {
  if (root.empty()) return false;
  const std::string r = Normalized(root);
  const std::string p = Normalized(path);
  if (p.size() < r.size()) return false;
  const size_t drive = DrivePartLength(r);
  if (DrivePartLength(p) != drive) return false;
  if (!platform::SameText(std::string_view(p).substr(0, drive), std::string_view(r).substr(0, drive))) return false;
  return std::string_view(p).substr(drive, r.size() - drive) == std::string_view(r).substr(drive);
}

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
