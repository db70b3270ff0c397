#pragma once
// Helpers of the moved-file search (TSyncListe::FindMoved).
#include <string>
#include <string_view>
#include <vector>

#include "platform/treefolder.h"

namespace kv {

// Opens a folder below a pair's root (never through a link) and, when asked,
// makes it with its missing parents, remembering the ones it made so that a
// move that fails afterwards leaves no empty folders behind.
class CreatedFolders {
 public:
  // The folder rel ("a\b\") below root; create: missing folders are made.
  // Not open, with the last error set, when it cannot be had.
  platform::TreeFolder Open(const platform::TreeFolder& root, std::string_view rel, bool create);
  // Removes the folders Open made, deepest first (only while empty).
  void Undo();
  // Keeps the folders: the move they were made for succeeded.
  void Keep() { made_.clear(); }

 private:
  struct Made {
    platform::TreeFolder parent;
    std::string name;
  };
  std::vector<Made> made_;  // in the order they were made
};

}  // namespace kv
