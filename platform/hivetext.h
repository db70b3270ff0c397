#pragma once
// The content of one registry hive and its text form. No file access here:
// Registry reads and replaces the hive file around it.
//
// The text form, line by line (see docs/platform.md):
//   ; comment                       (also "#")
//   [Software\Vorlem\Kestrovane]    a key, its full path
//   "WorkDir"="C:\Daten\"           a string value
//   "Count"=dword:0000002a          a DWORD value, hexadecimal
//   @="Copy Objekt"                 the default value (empty name)
// In names, key paths and texts the bytes below 0x20, 0x7F, "%" and the
// double quote are written as %HH; every other byte stands for itself, so
// paths stay readable. A line that does not fit these forms is skipped.
//
// Only keys written explicitly are listed; their parents exist implicitly.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {

class HiveData {
 public:
  static HiveData Parse(std::string_view content);
  std::string Serialize(std::string_view hiveName) const;

  // Paths: components separated by "\", leading/trailing/doubled "\" ignored;
  // "" is the hive's root, which always exists.
  static std::string NormalizePath(std::string_view path);

  bool KeyExists(std::string_view path) const;
  std::vector<std::string> SubkeyNames(std::string_view path) const;  // sorted, case-insensitively
  std::vector<std::string> ValueNames(std::string_view path) const;   // creation order

  struct Value {
    std::string name;
    bool isDword = false;
    std::string text;
    uint32_t dword = 0;
    bool operator==(const Value&) const = default;
  };
  const Value* FindValue(std::string_view path, std::string_view name) const;

  // Edits return whether anything changed.
  bool CreateKey(std::string_view path);
  bool DeleteKey(std::string_view path);  // with everything below it; false when missing
  bool SetValue(std::string_view path, Value value);
  bool DeleteValue(std::string_view path, std::string_view name);  // false when missing

 private:
  // Orders paths component by component, each compared case-insensitively,
  // so that a key's descendants follow it directly.
  struct PathLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  using KeyMap = std::map<std::string, std::vector<Value>, PathLess>;

  // The first entry at or below path, or end().
  KeyMap::const_iterator FirstAtOrBelow(std::string_view path) const;
  // The path with every existing component spelled as stored.
  std::string StoredSpelling(std::string_view normalizedPath) const;
  std::vector<Value>* ExplicitKey(std::string_view normalizedPath);
  std::vector<Value>& MakeExplicit(std::string_view normalizedPath);

  KeyMap keys_;
};

}  // namespace kv::platform
