#include "platform/ui/pathfit.h"

#include <vector>

namespace kv::platform::ui {
namespace {

constexpr std::string_view kEllipsis = "...";

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// "C:" or "\\server\share"; empty for anything else.
std::string_view DrivePart(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  if (path.substr(0, 2) != "\\\\") return {};
  const size_t serverEnd = path.find('\\', 2);
  if (serverEnd == std::string_view::npos) return path;
  const size_t shareEnd = path.find('\\', serverEnd + 1);
  return shareEnd == std::string_view::npos ? path : path.substr(0, shareEnd);
}

struct PathParts {
  std::string_view drive;
  std::vector<std::string_view> folders;  // between drive and name
  std::string name;                        // last name, with its "\" when it was a folder
};

PathParts SplitPath(std::string_view path) {
  PathParts parts;
  parts.drive = DrivePart(path);
  std::string_view rest = path.substr(parts.drive.size());
  const bool isFolder = rest.size() > 1 && rest.back() == '\\';
  if (isFolder) rest.remove_suffix(1);
  if (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
  size_t start = 0;
  for (size_t pos; (pos = rest.find('\\', start)) != std::string_view::npos; start = pos + 1)
    parts.folders.push_back(rest.substr(start, pos - start));
  parts.name = std::string(rest.substr(start));
  if (isFolder) parts.name += '\\';
  return parts;
}

// drive\...\folders[first..]\name
std::string Elided(const PathParts& parts, size_t first) {
  std::string text(parts.drive);
  text += "\\...\\";
  for (size_t i = first; i < parts.folders.size(); ++i) {
    text += parts.folders[i];
    text += '\\';
  }
  text += parts.name;
  return text;
}

// The longest prefix of text (whole characters) that fits with "..." after it.
std::string CutToFit(std::string_view text, int maxWidth, const TextMeasure& measure) {
  if (measure(kEllipsis) > maxWidth) return {};
  size_t best = 0;
  for (size_t end = 1; end <= text.size(); ++end) {
    if (end < text.size() && IsContinuationByte(text[end])) continue;
    std::string candidate(text.substr(0, end));
    candidate += kEllipsis;
    if (measure(candidate) > maxWidth) break;
    best = end;
  }
  std::string result(text.substr(0, best));
  result += kEllipsis;
  return result;
}

int CountCharacters(std::string_view text) {
  int count = 0;
  for (char c : text)
    if (!IsContinuationByte(c)) ++count;
  return count;
}

}  // namespace

std::string MinimizeName(std::string_view path, int maxWidth, const TextMeasure& measure) {
  if (measure(path) <= maxWidth) return std::string(path);
  const PathParts parts = SplitPath(path);
  if (!parts.folders.empty()) {
    for (size_t first = 1; first <= parts.folders.size(); ++first) {
      std::string candidate = Elided(parts, first);
      if (measure(candidate) <= maxWidth) return candidate;
    }
  }
  if (!parts.drive.empty() || !parts.folders.empty()) {
    std::string withoutDrive = std::string("...\\") + parts.name;
    if (measure(withoutDrive) <= maxWidth) return withoutDrive;
  }
  const std::string_view name = parts.name.empty() ? path : std::string_view(parts.name);
  if (measure(name) <= maxWidth) return std::string(name);
  return CutToFit(name, maxWidth, measure);
}

std::string MinimizeNameChars(std::string_view path, int maxChars) {
  return MinimizeName(path, maxChars, CountCharacters);
}

}  // namespace kv::platform::ui
