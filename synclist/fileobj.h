#pragma once
// One file seen by the folder scans: what the source side holds, what the
// destination side holds, and how the two compare.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/time.h"
#include "shared/synccodes.h"

namespace kv {

class TFileObj {
 public:
  uint8_t rowKind = kRowKindFile;                 // always a file row
  uint8_t direction = kFlagSourceToDestination;   // list direction flag (1 or 0)
  std::string srcName;   // bare name as the source scan found it; "" when only in the destination
  std::string destName;  // "" when only in the source
  int64_t srcSize = 0;
  int64_t destSize = 0;
  platform::DosDateTime srcTime = 0;
  platform::DosDateTime destTime = 0;
  uint8_t state = kStateOnlyInSource;  // comparison state 0..5

  // The name the file is listed under in its folder: the source spelling when
  // the source has the file, else the destination spelling.
  std::string_view ListName() const { return srcName.empty() ? destName : srcName; }
};

}  // namespace kv
