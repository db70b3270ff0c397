#include "platform/paths.h"

namespace kv::platform {

namespace {

bool IsBackslashAt(std::string_view path, size_t i) { return i < path.size() && path[i] == '\\'; }

// Index of the last "\" or ":" (the delimiters that end a folder part), npos when none.
size_t LastFolderDelimiter(std::string_view path) { return path.find_last_of("\\:"); }

// Index of the "." that starts the extension, npos when the last name has none.
size_t ExtensionDot(std::string_view path) {
  size_t i = path.find_last_of(".\\:");
  if (i == std::string_view::npos || path[i] != '.') return std::string_view::npos;
  return i;
}

}  // namespace

std::string IncludeTrailingBackslash(std::string_view path) {
  std::string result(path);
  if (result.empty() || result.back() != '\\') result += '\\';
  return result;
}

std::string ExcludeTrailingBackslash(std::string_view path) {
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return std::string(path);
}

std::string ExtractFileName(std::string_view path) {
  size_t i = LastFolderDelimiter(path);
  return std::string(i == std::string_view::npos ? path : path.substr(i + 1));
}

std::string ExtractFilePath(std::string_view path) {
  size_t i = LastFolderDelimiter(path);
  return i == std::string_view::npos ? std::string() : std::string(path.substr(0, i + 1));
}

std::string ExtractFileExt(std::string_view path) {
  size_t i = ExtensionDot(path);
  return i == std::string_view::npos ? std::string() : std::string(path.substr(i));
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  size_t i = ExtensionDot(path);
  std::string result(i == std::string_view::npos ? path : path.substr(0, i));
  result += ext;
  return result;
}

std::string ExtractFileDrive(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') return std::string(path.substr(0, 2));
  if (!IsUncPath(path)) return {};
  // "\\server\share": up to (not including) the backslash after the share name.
  size_t serverEnd = path.find('\\', 2);
  if (serverEnd == std::string_view::npos) return std::string(path);
  size_t shareEnd = path.find('\\', serverEnd + 1);
  if (shareEnd == std::string_view::npos) shareEnd = path.size();
  if (shareEnd == serverEnd + 1) shareEnd = serverEnd;  // "\\server\" has no share
  return std::string(path.substr(0, shareEnd));
}

bool IsUncPath(std::string_view path) { return IsBackslashAt(path, 0) && IsBackslashAt(path, 1); }

bool IsFtpPath(std::string_view path) {
  static constexpr std::string_view kFtp = "ftp:";
  if (path.size() < kFtp.size()) return false;
  for (size_t i = 0; i < kFtp.size(); ++i) {
    char c = path[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kFtp[i]) return false;
  }
  return true;
}

}  // namespace kv::platform
