#include "synclist/dirnode.h"

#include <algorithm>

#include "platform/text.h"

namespace kv {

namespace {

template <typename Files>
auto FindIn(Files& files, std::string_view name) -> decltype(&files[0]) {
  auto it = std::lower_bound(files.begin(), files.end(), name, [](const TFileObj& f, std::string_view n) {
    return platform::CompareText(f.ListName(), n) < 0;
  });
  if (it == files.end() || platform::CompareText(it->ListName(), name) != 0) return nullptr;
  return &*it;
}

}  // namespace

TFileObj* TDirNode::FindFile(std::string_view name) { return FindIn(files, name); }

const TFileObj* TDirNode::FindFile(std::string_view name) const { return FindIn(files, name); }

bool TDirNode::IsBlocked(std::string_view name) const {
  return std::binary_search(blockedNames.begin(), blockedNames.end(), name, platform::TextLess());
}

}  // namespace kv
