#pragma once
// Row builders shared by the sync-list tests. DOS values are packed by hand
// from their bit layout, independent of the platform's conversions.
#include <cstdint>
#include <ctime>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/volumes.h"
#include "synclist/syncliste.h"
#include "testsupport/temptree.h"

namespace kv::test {

constexpr uint32_t Dos(int y, int mo, int d, int h, int mi, int s) {
  return (static_cast<uint32_t>(y - 1980) << 25) | (static_cast<uint32_t>(mo) << 21) |
         (static_cast<uint32_t>(d) << 16) | (static_cast<uint32_t>(h) << 11) | (static_cast<uint32_t>(mi) << 5) |
         static_cast<uint32_t>(s / 2);
}

inline TSyncListItem Folder(std::string source, std::string destination, int state, int kind = 2) {
  TSyncListItem row;
  row.rowKind = kind;
  row.direction = kFlagNone;
  row.source = std::move(source);
  row.destination = std::move(destination);
  row.state = state;
  return row;
}

// A file on both sides (states 2..6, 14).
inline TSyncListItem Both(std::string name, int state, uint32_t srcTime, uint32_t dstTime, int64_t srcSize = 10,
                          int64_t dstSize = 10) {
  TSyncListItem row;
  row.rowKind = kRowKindFile;
  row.direction = state == kStateDestinationNewer || state == kStateSameTimeDestinationLarger
                      ? kFlagDestinationToSource
                      : kFlagSourceToDestination;
  row.source = name;
  row.destination = std::move(name);
  row.sourceTime = srcTime;
  row.destinationTime = dstTime;
  row.sourceSize = srcSize;
  row.destinationSize = dstSize;
  row.state = state;
  return row;
}

inline TSyncListItem OnlySource(std::string name, int action = kActionNone, int64_t size = 10,
                                uint32_t time = Dos(2024, 5, 1, 12, 0, 0)) {
  TSyncListItem row;
  row.direction = kFlagSourceToDestination;
  row.source = std::move(name);
  row.sourceSize = size;
  row.sourceTime = time;
  row.state = kStateOnlyInSource;
  row.action = action;
  return row;
}

inline TSyncListItem OnlyDestination(std::string name, int action = kActionNone, int64_t size = 10,
                                     uint32_t time = Dos(2024, 5, 1, 12, 0, 0)) {
  TSyncListItem row;
  row.direction = kFlagDestinationToSource;
  row.destination = std::move(name);
  row.destinationSize = size;
  row.destinationTime = time;
  row.state = kStateOnlyInDestination;
  row.action = action;
  return row;
}

inline void AddRows(TSyncListe& list, std::initializer_list<TSyncListItem> rows) {
  for (const TSyncListItem& row : rows) list.AddRow(row);
}

// Per row its source, or its destination where the source is empty.
inline std::vector<std::string> RowNames(const TSyncListe& list) {
  std::vector<std::string> names;
  for (size_t i = 0; i < list.Count(); ++i) {
    const TSyncListItem& r = list.GetRow(i);
    names.push_back(r.source.empty() ? r.destination : r.source);
  }
  return names;
}

// Writes a tree from "path=content" entries, each stamped base plus the
// seconds after an optional "@" ("path=content@3600"); "path/" makes a folder.
inline void WriteTree(const TempTree& t, time_t base, std::initializer_list<std::string_view> entries) {
  for (std::string_view e : entries) {
    const size_t eq = e.find('=');
    if (eq == std::string_view::npos) {
      t.Mkdir(e);
      continue;
    }
    const size_t at = e.find('@', eq);
    const std::string_view rel = e.substr(0, eq);
    t.Write(rel, e.substr(eq + 1, at == std::string_view::npos ? std::string_view::npos : at - eq - 1));
    t.SetMTime(rel, base + (at == std::string_view::npos ? 0 : std::stol(std::string(e.substr(at + 1)))));
  }
}

// Maps a drive letter to a folder of this machine for the test's registry.
inline void MapDrive(const std::string& letter, const std::string& folder, bool mustBeMounted = false,
                     const std::string& remoteName = "") {
  platform::VolumeTable table = platform::VolumeTable::Load();
  platform::Volume v;
  v.root = letter;
  v.folder = folder;
  v.type = platform::DriveType::Fixed;
  v.remoteName = remoteName;
  v.mustBeMounted = mustBeMounted;
  table.Set(v);
  table.Save();
}

}  // namespace kv::test
