#include "ftp/ftpindex.h"

#include <limits>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"

namespace kv {
namespace {

using platform::Copy;
using platform::Trim;
using Lines = std::vector<std::string>;

constexpr int64_t kRestOfLine = std::numeric_limits<int32_t>::max();

enum class Layout { Plain, Keeper, DatedArchive, WinSite, NameAndExtension };

// Lines as the class library reads a text file: ended by CR LF, LF or CR; a
// last line without an end counts, a final line end adds no empty line.
Lines SplitLines(std::string_view text) {
  Lines lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  }
  return lines;
}

bool LineIs(const Lines& lines, size_t i, std::string_view text) { return i < lines.size() && lines[i] == text; }

Layout LayoutOf(const Lines& lines) {
  if (lines.size() < 2) return Layout::Plain;
  if (lines[0].find("do not edit by hand!") != std::string::npos &&
      platform::LowerCase(lines[0]).find("keeper") != std::string::npos)
    return Layout::Keeper;
  if (LineIs(lines, 1, "Some files may have been added or deleted since that date.  See")) return Layout::DatedArchive;
  if (LineIs(lines, 1, "** WinSite (tm):  The Planet's Largest Software Archive for Windows")) return Layout::WinSite;
  if (LineIs(lines, 2, "File     Ext     Size   Date     Time   Description")) return Layout::NameAndExtension;
  return Layout::Plain;
}

void Describe(TMFtpFileInfoList& list, const std::string& name, const std::string& description) {
  if (name.empty()) return;
  if (const int32_t i = list.IndexOf(name); i >= 0) list.SetColumn(i, TMFtpFileInfoList::kDescription, description);
}

// Lines from first on, each giving a name by its columns and a description.
template <typename NameOf, typename DescriptionOf>
void ReadColumns(const Lines& lines, size_t first, TMFtpFileInfoList& directories, TMFtpFileInfoList& files,
                 NameOf nameOf, DescriptionOf descriptionOf) {
  for (size_t i = first; i < lines.size(); ++i) {
    const std::string name = nameOf(lines[i]);
    const std::string description = descriptionOf(lines[i]);
    Describe(directories, name, description);
    Describe(files, name, description);
  }
}

void ReadKeeper(const Lines& lines, TMFtpFileInfoList& directories, TMFtpFileInfoList& files) {
  const std::string rule(78, '-');
  size_t i = 1;
  while (i < lines.size() && lines[i] != rule) ++i;
  for (++i; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const size_t blank = line.find(' ');
    std::string name = Trim(line.substr(0, blank == std::string::npos ? 0 : blank));
    const std::string description = blank == std::string::npos ? Trim(line) : Trim(line.substr(blank + 1));
    if (!name.empty() && name.back() == '/') {
      name.pop_back();
      Describe(directories, name, description);
    } else {
      Describe(files, name, description);
    }
  }
}

void ReadWinSite(const Lines& lines, TMFtpFileInfoList& directories, TMFtpFileInfoList& files) {
  const std::string rule(78, '*');
  for (size_t i = 22; i + 1 < lines.size() && lines[i] != rule; i += 2) {
    const std::string name = Trim(Copy(lines[i], 1, 13));
    const std::string description = Trim(lines[i + 1]);
    Describe(directories, name, description);
    Describe(files, name, description);
  }
}

std::string NameAndExtension(const std::string& line) {
  const std::string name = Trim(Copy(line, 1, 8));
  const std::string extension = Trim(Copy(line, 10, 3));
  return extension.empty() ? name : name + "." + extension;  // "README." never names "README"
}

void ReadPlain(const Lines& lines, TMFtpFileInfoList& directories, TMFtpFileInfoList& files) {
  for (const std::string& raw : lines) {
    std::string line = Trim(raw);
    if (line.empty()) continue;
    for (char& c : line)
      if (c == '\t') c = ' ';
    size_t split;
    if (line[0] == '"') {
      line[0] = ' ';
      split = line.find('"');
    } else {
      split = line.find(' ');
    }
    if (split == std::string::npos) continue;
    const std::string name = Trim(line.substr(0, split));
    const std::string description = Trim(line.substr(split + 1));
    Describe(directories, name, description);
    Describe(files, name, description);
  }
}

}  // namespace

bool ParseIndexFile(std::string_view localFile, TMFtpFileInfoList& directories, TMFtpFileInfoList& files) {
  directories.ClearColumn(TMFtpFileInfoList::kDescription);
  files.ClearColumn(TMFtpFileInfoList::kDescription);
  std::vector<uint8_t> bytes;
  if (!platform::ReadWholeFile(localFile, bytes)) return false;
  const Lines lines = SplitLines(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  // Columns count from 1 and are clamped to the line.
  const auto columns = [](int64_t first, int64_t count) {
    return [first, count](const std::string& line) { return Trim(Copy(line, first, count)); };
  };
  const auto from = [&columns](int64_t first) { return columns(first, kRestOfLine); };
  switch (LayoutOf(lines)) {
    case Layout::Plain: ReadPlain(lines, directories, files); break;
    case Layout::Keeper: ReadKeeper(lines, directories, files); break;
    case Layout::WinSite: ReadWinSite(lines, directories, files); break;
    case Layout::DatedArchive:
      if (lines.size() >= 10) ReadColumns(lines, 9, directories, files, columns(1, 13), from(34));
      break;
    case Layout::NameAndExtension:
      if (lines.size() >= 5) ReadColumns(lines, 4, directories, files, NameAndExtension, from(41));
      break;
  }
  return true;
}

}  // namespace kv
