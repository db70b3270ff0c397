#pragma once
// The folder pair of the benchmarks' profiles: it mirrors the source into the
// destination (new files and folders copied, newer and older ones replaced,
// what only the destination has deleted).
#include <cstddef>
#include <string>

#include "shared/folderpair.h"

namespace kv::bench {

inline TFolderPair MirrorPair(const std::string& sourceRoot, const std::string& destinationRoot) {
  TFolderPair pair;
  pair.sourceRoot = sourceRoot;
  pair.destinationRoot = destinationRoot;
  pair.active = 1;
  pair.subfolders = 1;
  pair.strategy.pairs[1].action = 1;  // folder only in the source: create
  pair.strategy.pairs[2].action = 2;  // folder only in the destination: delete
  pair.strategy.pairs[3].action = 1;  // file only in the source: copy
  pair.strategy.pairs[4].action = 2;  // file only in the destination: delete
  for (size_t p = 5; p <= 9; ++p) pair.strategy.pairs[p] = {1, 1};
  return pair;
}

}  // namespace kv::bench
