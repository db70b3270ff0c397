#pragma once
// The listing model: the entries of one remote folder listing, in the order
// the server listed them (nothing sorted, duplicates kept).
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kv {

// One entry as the model hands it out.
struct MFtpFileInfo {
  std::string attributes;   // the UNIX permission text, for example
  std::string date;         // the entry date text (ftpmisc.h); empty for folders of a listing
  std::string description;  // empty unless an index file set it
  std::string name;
  std::string size;         // decimal text as the server wrote it
  std::string link;         // from "->" on, or the EPLF identifier
  std::string owner;
  std::string group;

  bool operator==(const MFtpFileInfo&) const = default;
};

class TMFtpFileInfoList {
 public:
  // The columns that SetColumn and ClearColumn address.
  enum Column : int {
    kAttributes = 0,
    kDate = 1,
    kSize = 2,
    kLink = 3,
    kDescription = 4,
    kName = 5,
    kOwner = 6,
    kGroup = 7,
  };

  void Add(std::string name, std::string attributes, std::string date, std::string size, std::string link,
           std::string owner, std::string group, std::string description);
  void Clear();
  // Becomes a copy of other's entries.
  void Assign(const TMFtpFileInfoList& other);

  // The entry of that name. A name that matches exactly wins; otherwise the
  // first that matches with case ignored (the system's one case-insensitive
  // comparison). -1 when none matches. On a server whose names are case
  // sensitive, "Readme.txt" must never find "README.TXT" while "Readme.txt"
  // itself is listed.
  int32_t IndexOf(std::string_view name) const;

  // Index outside 0..Count()-1, or an unknown column: std::out_of_range.
  void GetItem(int32_t index, MFtpFileInfo& item) const;
  const MFtpFileInfo& Item(int32_t index) const;
  void SetColumn(int32_t index, int column, std::string text);
  void ClearColumn(int column);

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }

 private:
  size_t CheckedIndex(int32_t index) const;
  void IndexName(int32_t index);
  void UnindexName(int32_t index);

  std::vector<MFtpFileInfo> items_;
  // Entries by the case-insensitive hash of their names.
  std::unordered_multimap<uint64_t, int32_t> byName_;
};

}  // namespace kv
