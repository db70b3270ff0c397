// The 1-based, clamping string helpers and comma text.
#include "platform/text.h"

#include <algorithm>
#include <limits>
#include <type_traits>

namespace kv::platform {
namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Accumulates digits of the given base into a magnitude no larger than limit.
bool ParseMagnitude(std::string_view digits, int base, uint64_t limit, uint64_t& out) {
  if (digits.empty()) return false;
  uint64_t value = 0;
  for (char c : digits) {
    const int d = HexDigit(c);
    if (d < 0 || d >= base) return false;
    if (value > (limit - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) return false;
    value = value * base + d;
  }
  out = value;
  return true;
}

bool HasHexPrefix(std::string_view s, size_t& prefixLength) {
  if (!s.empty() && s[0] == '$') {
    prefixLength = 1;
    return true;
  }
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    prefixLength = 2;
    return true;
  }
  return false;
}

// Decimal values must fit the signed type; hexadecimal ones may use all its
// bits ("$FFFFFFFF" is -1 as a 32-bit value), as the class library reads them.
template <typename Int>
bool ParseInteger(std::string_view text, Int& out) {
  using Unsigned = std::make_unsigned_t<Int>;
  std::string_view s = text;
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  uint64_t magnitude = 0;
  size_t prefix = 0;
  if (HasHexPrefix(s, prefix)) {
    if (!ParseMagnitude(s.substr(prefix), 16, std::numeric_limits<Unsigned>::max(), magnitude)) return false;
  } else {
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<Int>::max()) + (negative ? 1 : 0);
    if (!ParseMagnitude(s, 10, limit, magnitude)) return false;
  }
  Unsigned bits = static_cast<Unsigned>(magnitude);
  if (negative) bits = static_cast<Unsigned>(Unsigned{0} - bits);
  out = static_cast<Int>(bits);
  return true;
}

// An item in double quotes: a doubled quote stands for one quote. A quote
// that is never closed runs to the end of the text, keeping every character.
std::string ReadQuotedItem(std::string_view text, size_t& p) {
  std::string item;
  ++p;
  while (p < text.size()) {
    const size_t quote = text.find('"', p);
    if (quote == std::string_view::npos) {
      item.append(text.substr(p));
      p = text.size();
      break;
    }
    item.append(text.substr(p, quote - p));
    p = quote + 1;
    if (p >= text.size() || text[p] != '"') break;
    item.push_back('"');
    ++p;
  }
  return item;
}

std::string ReadPlainItem(std::string_view text, size_t& p) {
  const size_t start = p;
  while (p < text.size() && !IsBlank(text[p]) && text[p] != ',') ++p;
  return std::string(text.substr(start, p - start));
}

bool NeedsQuotes(std::string_view item) {
  return std::any_of(item.begin(), item.end(), [](char c) { return IsBlank(c) || c == '"' || c == ','; });
}

}  // namespace

std::string Copy(std::string_view s, int64_t index, int64_t count) {
  const auto size = static_cast<int64_t>(s.size());
  if (index < 1) index = 1;
  if (count <= 0 || index > size) return {};
  const int64_t available = size - index + 1;
  return std::string(s.substr(static_cast<size_t>(index - 1), static_cast<size_t>(std::min(count, available))));
}

void Delete(std::string& s, int64_t index, int64_t count) {
  const auto size = static_cast<int64_t>(s.size());
  if (index < 1 || index > size || count <= 0) return;
  const int64_t available = size - index + 1;
  s.erase(static_cast<size_t>(index - 1), static_cast<size_t>(std::min(count, available)));
}

int64_t Pos(std::string_view sub, std::string_view s) {
  if (sub.empty()) return 0;
  const size_t at = s.find(sub);
  return at == std::string_view::npos ? 0 : static_cast<int64_t>(at) + 1;
}

std::string Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

std::string TrimLeft(std::string_view s) {
  const auto first = std::find_if_not(s.begin(), s.end(), IsBlank);
  return std::string(first, s.end());
}

std::string TrimRight(std::string_view s) {
  size_t end = s.size();
  while (end > 0 && IsBlank(s[end - 1])) --end;
  return std::string(s.substr(0, end));
}

int32_t StrToIntDef(std::string_view s, int32_t def) {
  int32_t value = 0;
  return ParseInteger(s, value) ? value : def;
}

int64_t StrToInt64Def(std::string_view s, int64_t def) {
  int64_t value = 0;
  return ParseInteger(s, value) ? value : def;
}

std::string IntToStr(int64_t v) { return std::to_string(v); }

std::vector<std::string> SplitCommaText(std::string_view text) {
  std::vector<std::string> items;
  size_t p = 0;
  const auto skipBlanks = [&] {
    while (p < text.size() && IsBlank(text[p])) ++p;
  };
  skipBlanks();
  while (p < text.size()) {
    items.push_back(text[p] == '"' ? ReadQuotedItem(text, p) : ReadPlainItem(text, p));
    skipBlanks();
    if (p < text.size() && text[p] == ',') {
      // A comma that ends the text closes an empty last item ("a," is two
      // items); the reverse in JoinCommaText relies on this.
      if (p + 1 == text.size()) items.emplace_back();
      ++p;
      skipBlanks();
    }
  }
  return items;
}

std::string JoinCommaText(const std::vector<std::string>& items) {
  // One empty item alone would join to "", which splits into no item at all.
  if (items.size() == 1 && items[0].empty()) return "\"\"";
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out.push_back(',');
    const std::string& item = items[i];
    if (!NeedsQuotes(item)) {
      out += item;
      continue;
    }
    out.push_back('"');
    for (char c : item) {
      if (c == '"') out.push_back('"');
      out.push_back(c);
    }
    out.push_back('"');
  }
  return out;
}

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

std::string OneLine(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return out;
}

}  // namespace kv::platform
