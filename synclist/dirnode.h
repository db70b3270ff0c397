#pragma once
// One folder of a scanned folder pair: its key relative to the pair's roots,
// its comparison state and the files found in it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "shared/synccodes.h"
#include "synclist/fileobj.h"

namespace kv {

class TDirNode {
 public:
  TDirNode(std::string key, uint8_t folderKind) : key(std::move(key)), folderKind(folderKind) {}

  // Relative path ending in "\" ("sub\", "sub\deeper\"); "" for the root.
  std::string key;
  // The destination's spelling of key when a folder on both sides is spelt
  // differently there (file systems here tell case apart); empty otherwise.
  std::string destinationKey;

  // AVL links; the tree owns every node.
  TDirNode* left = nullptr;
  TDirNode* right = nullptr;
  int8_t balance = 0;  // height(right) - height(left): -1, 0 or +1

  // Kept sorted by TFileObj::ListName() with platform::CompareText (case
  // insensitive); no two entries compare equal. The scans keep this order;
  // code that edits the vector must keep it too, or FindFile stops working.
  std::vector<TFileObj> files;

  uint8_t folderKind = 1;           // row kind of the folder row (non-zero)
  uint8_t direction = kFlagNone;    // folder rows have no direction
  uint8_t state = kStateFolderOnlyInSource;  // 8, 7 or 10

  // Binary search by name, case-insensitively; nullptr when absent.
  TFileObj* FindFile(std::string_view name);
  const TFileObj* FindFile(std::string_view name) const;

  // Names (folded spellings, sorted) that this folder leaves out of both scans
  // because one side holds several spellings of them (see TDirTree).
  std::vector<std::string> blockedNames;
  bool IsBlocked(std::string_view name) const;
};

}  // namespace kv
