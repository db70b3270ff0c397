#include "platform/inifile.h"

#include <cerrno>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "platform/errors.h"
#include "platform/initext.h"
#include "platform/stampedfile.h"
#include "platform/text.h"
#include "platform/volumes.h"

namespace kv::platform {

namespace {

// The scheduler reads the same few files every few milliseconds.
ParsedFileCache<IniText>& Cache() {
  static ParsedFileCache<IniText> cache(64);
  return cache;
}

// Writers of one file within this process take turns; the entries stay for the
// life of the process (a handful of files).
std::mutex& WriterMutexFor(const std::string& canonicalPath) {
  static std::mutex guard;
  static std::unordered_map<std::string, std::unique_ptr<std::mutex>> mutexes;
  std::lock_guard lock(guard);
  auto& m = mutexes[canonicalPath];
  if (!m) m = std::make_unique<std::mutex>();
  return *m;
}

// A Windows path goes through the mount rule too: the empty folder of an
// unplugged disk must not be read or written as if it were the disk.
std::optional<std::string> PosixPathOf(const std::string& fileName) {
  if (!fileName.empty() && fileName.front() == '/') return fileName;
  return ResolvePath(fileName);
}

// For readers: whatever cannot be read reads as an empty file.
std::shared_ptr<const IniText> LoadForReading(const std::string& fileName) {
  std::optional<std::string> path = PosixPathOf(fileName);
  if (!path) return Cache().Empty();
  return Cache().LoadOrEmpty(*path);
}

bool CanRead(const std::string& fileName) {
  std::optional<std::string> path = PosixPathOf(fileName);
  if (!path) return false;  // ResolvePath said why
  ParsedFile<IniText> parsed;
  return Cache().Load(*path, parsed);
}

bool ModifyFile(const std::string& fileName, const std::function<bool(IniText&)>& edit) {
  std::optional<std::string> path = PosixPathOf(fileName);
  if (!path) return false;  // ResolvePath said why
  // Through links to the real file, so that two spellings share one lock and
  // a linked file stays linked.
  std::string canonical = CanonicalFilePath(*path);
  if (canonical.empty()) {
    SetLastError(errno == ENOTDIR ? ENOENT : errno);
    return false;
  }
  std::lock_guard lock(WriterMutexFor(canonical));
  ParsedFile<IniText> current;
  if (!Cache().Load(canonical, current)) return false;
  IniText text = *current.value;
  if (!edit(text)) return true;
  return ReplaceFile(canonical, text.Serialize(), current.stamp ? &*current.stamp : nullptr);
}

bool RefuseInvalid() {
  SetLastError(EINVAL);
  return false;
}

std::optional<DateTime> ParseTimeOfDay(std::string_view text) {
  std::string t = Trim(text);
  int parts[3] = {0, 0, 0};
  int count = 0;
  size_t i = 0;
  for (;;) {
    size_t start = i;
    int v = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
      v = v * 10 + (t[i] - '0');
      if (v > 99) return std::nullopt;
      ++i;
    }
    if (i == start) return std::nullopt;
    parts[count++] = v;
    if (i == t.size()) break;
    if (t[i] != ':' || count == 3) return std::nullopt;
    ++i;
  }
  if (count < 2 || parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return std::nullopt;
  return (parts[0] * 3600 + parts[1] * 60 + parts[2]) / 86400.0;
}

std::optional<DateTime> ParseDateOnly(std::string_view text) {
  std::string t = Trim(text);
  if (t.find(':') != std::string::npos) return std::nullopt;
  return ParseDateTime(t);
}

std::optional<DateTime> ParseDateOrTime(std::string_view text) {
  std::string t = Trim(text);
  if (std::optional<DateTime> dt = ParseDateTime(t)) return dt;
  return ParseTimeOfDay(t);
}

}  // namespace

IniFile::IniFile(std::string fileName) : fileName_(std::move(fileName)) {}

std::string IniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
  auto text = LoadForReading(fileName_);
  const std::string* v = text->Find(section, key);
  return v ? *v : std::string(def);
}

int32_t IniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
  std::string v = ReadString(section, key, "");
  // The class library reads "0x1F" as hexadecimal too.
  if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) v = "$" + v.substr(2);
  return StrToIntDef(v, def);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

DateTime IniFile::ReadDateTime(std::string_view section, std::string_view key, DateTime def) const {
  std::string v = ReadString(section, key, "");
  if (v.empty()) return def;
  return ParseDateOrTime(v).value_or(def);
}

DateTime IniFile::ReadDate(std::string_view section, std::string_view key, DateTime def) const {
  std::string v = ReadString(section, key, "");
  if (v.empty()) return def;
  return ParseDateOnly(v).value_or(def);
}

DateTime IniFile::ReadTime(std::string_view section, std::string_view key, DateTime def) const {
  std::string v = ReadString(section, key, "");
  if (v.empty()) return def;
  return ParseTimeOfDay(v).value_or(def);
}

bool IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  if (!IniText::IsWritableSectionName(section) || !IniText::IsWritableKey(key) || !IniText::IsWritableValue(value))
    return RefuseInvalid();
  return ModifyFile(fileName_, [&](IniText& t) { return t.Set(section, key, value); });
}

bool IniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  return WriteString(section, key, IntToStr(value));
}

bool IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  return WriteString(section, key, value ? "1" : "0");
}

bool IniFile::WriteDateTime(std::string_view section, std::string_view key, DateTime value) {
  CivilTime c = CivilFromDateTime(value);
  std::string text = FormatDateShort(c);
  if (c.hour != 0 || c.minute != 0 || c.second != 0) text += " " + FormatTime(c);
  return WriteString(section, key, text);
}

bool IniFile::WriteDate(std::string_view section, std::string_view key, DateTime value) {
  return WriteString(section, key, FormatDateShort(CivilFromDateTime(value)));
}

bool IniFile::WriteTime(std::string_view section, std::string_view key, DateTime value) {
  return WriteString(section, key, FormatTime(CivilFromDateTime(value)));
}

bool IniFile::EraseSection(std::string_view section) {
  return ModifyFile(fileName_, [&](IniText& t) { return t.EraseSection(section); });
}

bool IniFile::DeleteKey(std::string_view section, std::string_view key) {
  return ModifyFile(fileName_, [&](IniText& t) { return t.DeleteKey(section, key); });
}

bool IniFile::SectionExists(std::string_view section) const {
  return !LoadForReading(fileName_)->KeyNames(section).empty();
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
  return LoadForReading(fileName_)->Find(section, key) != nullptr;
}

bool IniFile::IsReadable() const { return CanRead(fileName_); }

std::vector<std::string> IniFile::ReadSections() const { return LoadForReading(fileName_)->SectionNames(); }

std::vector<std::string> IniFile::ReadSection(std::string_view section) const {
  return LoadForReading(fileName_)->KeyNames(section);
}

std::vector<std::string> IniFile::ReadSectionValues(std::string_view section) const {
  std::vector<std::string> lines;
  for (const auto& [key, value] : LoadForReading(fileName_)->Entries(section)) lines.push_back(key + "=" + value);
  return lines;
}

}  // namespace kv::platform
