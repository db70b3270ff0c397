// Wildcard masks. Runs once per file and mask during scans, so it works on
// the texts in place: no copy, no compiled form, no allocation.
#include "platform/text.h"
#include "platform/text_p.h"

namespace kv::platform {
namespace {

using textdetail::NextFoldKey;

constexpr size_t kNone = std::string_view::npos;

// Position just past the "]" that closes the set opened at `open`, or kNone.
// lastClose (the mask's last "]") spares a search to the end of the mask for
// every unclosed "[", which a mask full of them would make quadratic.
size_t SetEnd(std::string_view mask, size_t open, size_t lastClose) {
  size_t p = open + 1;
  if (p < mask.size() && mask[p] == '!') ++p;
  if (lastClose == kNone || lastClose < p) return kNone;
  return mask.find(']', p) + 1;
}

// Members lie between `p` and the closing "]" at `close`: single characters
// and ranges "a-z"; a "-" first or last in the set is a member itself.
bool SetContains(std::string_view mask, size_t p, size_t close, uint32_t key) {
  while (p < close) {
    const uint32_t low = NextFoldKey(mask, p);
    if (p + 1 < close && mask[p] == '-') {
      ++p;
      const uint32_t high = NextFoldKey(mask, p);
      if (low <= key && key <= high) return true;
    } else if (low == key) {
      return true;
    }
  }
  return false;
}

// Matches the mask element at m against one character of the name (its fold
// key); on success m moves past the element.
bool MatchElement(std::string_view mask, size_t lastClose, size_t& m, uint32_t key) {
  if (mask[m] == '?') {
    ++m;
    return true;
  }
  if (mask[m] == '[') {
    const size_t end = SetEnd(mask, m, lastClose);
    if (end != kNone) {
      size_t p = m + 1;
      const bool complement = mask[p] == '!';
      if (complement) ++p;
      m = end;
      return SetContains(mask, p, end - 1, key) != complement;
    }
  }
  return NextFoldKey(mask, m) == key;
}

}  // namespace

// Every element but "*" takes exactly one character, so on a mismatch it is
// enough to let the last "*" take one character more and retry from there:
// at most name length x mask length steps, whatever the mask.
bool MatchesMask(std::string_view name, std::string_view mask) {
  size_t n = 0, m = 0;
  size_t starMask = kNone, starName = 0;
  const size_t lastClose = mask.rfind(']');
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starMask = ++m;
      starName = n;
      continue;
    }
    if (m < mask.size()) {
      size_t next = n;
      const uint32_t key = NextFoldKey(name, next);
      if (MatchElement(mask, lastClose, m, key)) {
        n = next;
        continue;
      }
    }
    if (starMask == kNone) return false;
    NextFoldKey(name, starName);
    n = starName;
    m = starMask;
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace kv::platform
