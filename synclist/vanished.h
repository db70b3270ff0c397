#pragma once
// Availability of the drives a sync list touches, asked once per drive.
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace kv {

class DriveAvailability {
 public:
  // The drive part of path ("E:", "\\server\share") when that drive is gone:
  // its folder is missing, or it must be a mount point and nothing is mounted
  // there (an unplugged disk is never an empty folder). A path without a
  // drive part cannot be placed and counts as gone, named by itself.
  std::optional<std::string> VanishedDriveOf(std::string_view path);

 private:
  std::map<std::string, bool, platform::TextLess> known_;
};

}  // namespace kv
