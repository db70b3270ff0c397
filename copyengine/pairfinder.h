#pragma once
// Which folder pair of the profile a folder item of a job belongs to.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "shared/folderpair.h"

namespace kv {

// Whether path lies in root or below it. Both are compared with "/" read as
// "\" and a trailing "\" added, so "C:\Daten\" never claims "C:\Daten2\";
// the drive part ("C:", "\\server\share", "ftp://host") compares without
// regard to case, the folders below it exactly (the file systems are
// case-sensitive). An empty root holds nothing.
// A path with "." or ".." among its folders is below no root.
bool PathIsBelowRoot(std::string_view path, std::string_view root);
// The part of path below root ("sub\deeper\", "" for the root itself),
// with "/" read as "\" and runs of "\" made one; none when path is not
// below root.
std::optional<std::string> PathBelowRoot(std::string_view path, std::string_view root);
// Whether one of the path's parts is "." or "..".
bool HasDotComponents(std::string_view path);

// Searches the pairs of the profile in file order, starting at the pair found
// last (consecutive folder items mostly belong to one pair) and going round
// to the start, for the first pair whose source root holds side 1 and whose
// destination root holds side 2.
class TFolderPairFinder {
 public:
  explicit TFolderPairFinder(std::vector<TFolderPair> pairs) : pairs_(std::move(pairs)) {}

  // nullptr when no pair holds both paths: such an item is never guessed.
  const TFolderPair* Find(std::string_view side1Path, std::string_view side2Path);
  size_t size() const { return pairs_.size(); }

 private:
  std::vector<TFolderPair> pairs_;
  size_t next_ = 0;
};

}  // namespace kv
