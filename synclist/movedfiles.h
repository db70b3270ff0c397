#pragma once
// Helpers of the moved-file search (TSyncListe::FindMoved).
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// Creates a folder with its missing parents and remembers which ones it
// created, so that a move that fails afterwards leaves no empty folders behind.
class CreatedFolders {
 public:
  // True when the folder exists afterwards.
  bool Create(std::string_view folder);
  // Removes the folders Create made, deepest first (only while empty).
  void Undo();
  // Keeps the folders: the move they were made for succeeded.
  void Keep() { created_.clear(); }

 private:
  std::vector<std::string> created_;
};

}  // namespace kv
