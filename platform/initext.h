#pragma once
// The text of an INI file as lines, with the reading rules of Windows private
// profile files and the edits IniFile makes. No file access here: IniFile
// reads and replaces the file around it.
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {

class IniText {
 public:
  static IniText Parse(std::string_view content);
  // The lines joined with the file's own line end; a final line end always.
  std::string Serialize() const;

  // Effective value (trimmed, one pair of quotes removed) of the first
  // matching key; nullptr when absent.
  const std::string* Find(std::string_view section, std::string_view key) const;
  std::vector<std::string> SectionNames() const;
  std::vector<std::string> KeyNames(std::string_view section) const;
  // Pairs of key and effective value, first occurrence of each key.
  std::vector<std::pair<std::string, std::string>> Entries(std::string_view section) const;

  // Edits return whether the text changed. Names must have passed the checks
  // below; they are trimmed here.
  bool Set(std::string_view section, std::string_view key, std::string_view value);
  bool EraseSection(std::string_view section);
  bool DeleteKey(std::string_view section, std::string_view key);

  static bool IsWritableSectionName(std::string_view section);
  static bool IsWritableKey(std::string_view key);
  static bool IsWritableValue(std::string_view value);
  // The value as a reader sees it: trimmed, one pair of surrounding quotes removed.
  static std::string EffectiveValue(std::string_view raw);

 private:
  enum class Kind { Blank, Comment, Section, Entry, Other };
  struct Line {
    std::string raw;    // without line end
    Kind kind = Kind::Blank;
    std::string name;   // section name or key, trimmed
    std::string value;  // effective value of an entry
  };
  static Line ParseLine(std::string raw);
  static Line EntryLine(std::string_view key, std::string_view value);
  // Calls fn(index, line) for every entry line in a section of that name;
  // stops when fn returns false.
  template <typename Fn>
  void ForEachEntryIn(std::string_view section, Fn fn) const;
  size_t InsertionPointAfter(size_t header) const;
  void DropTrailingBlankLines();

  std::vector<Line> lines_;
  std::string lineEnd_ = "\r\n";
  std::string bom_;
};

}  // namespace kv::platform
