#include "platform/hivetext.h"

#include <cstdio>

#include "platform/text.h"

namespace kv::platform {

namespace {

constexpr std::string_view kNoMore = "";

// Splits off the first "\"-separated component of rest.
std::string_view NextComponent(std::string_view& rest) {
  size_t sep = rest.find('\\');
  std::string_view head = rest.substr(0, sep);
  rest = sep == std::string_view::npos ? kNoMore : rest.substr(sep + 1);
  return head;
}

// key equals path or lies below it (both normalised).
bool IsAtOrBelow(std::string_view key, std::string_view path) {
  while (!path.empty()) {
    if (key.empty()) return false;
    if (!SameText(NextComponent(key), NextComponent(path))) return false;
  }
  return true;
}

size_t ComponentCount(std::string_view path) {
  size_t n = 0;
  while (!path.empty()) {
    NextComponent(path);
    ++n;
  }
  return n;
}

// The component at index, "" when the path is shorter.
std::string_view ComponentAt(std::string_view path, size_t index) {
  for (size_t i = 0; i < index && !path.empty(); ++i) NextComponent(path);
  return NextComponent(path);
}

std::string_view ParentOf(std::string_view path) {
  size_t sep = path.rfind('\\');
  return sep == std::string_view::npos ? kNoMore : path.substr(0, sep);
}

bool NeedsEscape(unsigned char c) { return c < 0x20 || c == 0x7F || c == '%' || c == '"'; }

std::string Encode(std::string_view s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (!NeedsEscape(c)) {
      out += static_cast<char>(c);
      continue;
    }
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Decode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
  return s;
}

// A quoted token at the start of s; s is advanced past it.
std::optional<std::string> TakeQuoted(std::string_view& s) {
  if (s.empty() || s.front() != '"') return std::nullopt;
  size_t close = s.find('"', 1);
  if (close == std::string_view::npos) return std::nullopt;
  std::string text = Decode(s.substr(1, close - 1));
  s.remove_prefix(close + 1);
  return text;
}

std::optional<uint32_t> ParseDwordData(std::string_view s) {
  constexpr std::string_view kPrefix = "dword:";
  if (s.size() <= kPrefix.size() || s.size() > kPrefix.size() + 8) return std::nullopt;
  if (!SameTextAscii(s.substr(0, kPrefix.size()), kPrefix)) return std::nullopt;
  uint32_t v = 0;
  for (char c : s.substr(kPrefix.size())) {
    int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  return v;
}

// `"name"="text"`, `"name"=dword:hex` or the same with `@` as the name.
std::optional<HiveData::Value> ParseValueLine(std::string_view line) {
  HiveData::Value v;
  if (!line.empty() && line.front() == '@') {
    line.remove_prefix(1);
  } else {
    std::optional<std::string> name = TakeQuoted(line);
    if (!name) return std::nullopt;
    v.name = std::move(*name);
  }
  line = TrimView(line);
  if (line.empty() || line.front() != '=') return std::nullopt;
  line = TrimView(line.substr(1));
  if (!line.empty() && line.front() == '"') {
    std::optional<std::string> text = TakeQuoted(line);
    if (!text || !TrimView(line).empty()) return std::nullopt;
    v.text = std::move(*text);
    return v;
  }
  std::optional<uint32_t> dword = ParseDwordData(line);
  if (!dword) return std::nullopt;
  v.isDword = true;
  v.dword = *dword;
  return v;
}

void AppendValueLine(std::string& out, const HiveData::Value& v) {
  if (v.name.empty()) out += '@';
  else out.append("\"").append(Encode(v.name)).append("\"");
  if (v.isDword) {
    char buf[32];
    snprintf(buf, sizeof buf, "=dword:%08x\n", v.dword);
    out += buf;
  } else {
    out.append("=\"").append(Encode(v.text)).append("\"\n");
  }
}

}  // namespace

bool HiveData::PathLess::operator()(std::string_view a, std::string_view b) const {
  for (;;) {
    if (a.empty() || b.empty()) return a.empty() && !b.empty();
    int c = CompareText(NextComponent(a), NextComponent(b));
    if (c != 0) return c < 0;
  }
}

std::string HiveData::NormalizePath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  while (!path.empty()) {
    std::string_view c = NextComponent(path);
    if (c.empty()) continue;
    if (!out.empty()) out += '\\';
    out.append(c);
  }
  return out;
}

HiveData::KeyMap::const_iterator HiveData::FirstAtOrBelow(std::string_view path) const {
  auto it = keys_.lower_bound(path);
  if (it != keys_.end() && IsAtOrBelow(it->first, path)) return it;
  return keys_.end();
}

bool HiveData::KeyExists(std::string_view path) const {
  std::string p = NormalizePath(path);
  return p.empty() || FirstAtOrBelow(p) != keys_.end();
}

std::vector<std::string> HiveData::SubkeyNames(std::string_view path) const {
  std::string p = NormalizePath(path);
  size_t depth = ComponentCount(p);
  std::vector<std::string> names;
  for (auto it = FirstAtOrBelow(p); it != keys_.end() && IsAtOrBelow(it->first, p); ++it) {
    std::string_view child = ComponentAt(it->first, depth);
    if (child.empty()) continue;  // the key itself
    if (names.empty() || !SameText(names.back(), child)) names.emplace_back(child);
  }
  return names;
}

std::vector<std::string> HiveData::ValueNames(std::string_view path) const {
  std::vector<std::string> names;
  auto it = keys_.find(NormalizePath(path));
  if (it == keys_.end()) return names;
  for (const Value& v : it->second) names.push_back(v.name);
  return names;
}

const HiveData::Value* HiveData::FindValue(std::string_view path, std::string_view name) const {
  auto it = keys_.find(NormalizePath(path));
  if (it == keys_.end()) return nullptr;
  for (const Value& v : it->second)
    if (SameText(v.name, name)) return &v;
  return nullptr;
}

std::string HiveData::StoredSpelling(std::string_view normalizedPath) const {
  // Where each component ends; prefixes that exist form a leading run, so the
  // longest one is found by bisection.
  std::vector<size_t> ends;
  for (size_t pos = 0; pos <= normalizedPath.size() && !normalizedPath.empty(); ++pos)
    if (pos == normalizedPath.size() || normalizedPath[pos] == '\\') ends.push_back(pos);
  auto prefix = [&](size_t count) { return normalizedPath.substr(0, count == 0 ? 0 : ends[count - 1]); };
  size_t lo = 0, hi = ends.size();
  while (lo < hi) {
    size_t mid = (lo + hi + 1) / 2;
    if (FirstAtOrBelow(prefix(mid)) != keys_.end()) lo = mid;
    else hi = mid - 1;
  }
  if (lo == 0) return std::string(normalizedPath);
  std::string_view stored = FirstAtOrBelow(prefix(lo))->first;
  size_t storedEnd = 0;
  for (size_t i = 0; i < lo; ++i) {
    storedEnd = stored.find('\\', storedEnd + (i ? 1 : 0));
    if (storedEnd == std::string_view::npos) storedEnd = stored.size();
  }
  std::string spelled(stored.substr(0, storedEnd));
  spelled.append(normalizedPath.substr(ends[lo - 1]));
  return spelled;
}

std::vector<HiveData::Value>* HiveData::ExplicitKey(std::string_view normalizedPath) {
  auto it = keys_.find(normalizedPath);
  return it == keys_.end() ? nullptr : &it->second;
}

std::vector<HiveData::Value>& HiveData::MakeExplicit(std::string_view normalizedPath) {
  if (auto* values = ExplicitKey(normalizedPath)) return *values;
  return keys_.emplace(StoredSpelling(normalizedPath), std::vector<Value>{}).first->second;
}

bool HiveData::CreateKey(std::string_view path) {
  std::string p = NormalizePath(path);
  if (KeyExists(p)) return false;
  MakeExplicit(p);
  return true;
}

bool HiveData::DeleteKey(std::string_view path) {
  std::string p = NormalizePath(path);
  if (p.empty() || !KeyExists(p)) return false;
  // The parent may exist only through this key: keep it.
  std::string parent = StoredSpelling(ParentOf(p));
  auto first = FirstAtOrBelow(p);
  auto last = first;
  while (last != keys_.end() && IsAtOrBelow(last->first, p)) ++last;
  keys_.erase(first, last);
  if (!parent.empty() && !KeyExists(parent)) keys_.emplace(parent, std::vector<Value>{});
  return true;
}

bool HiveData::SetValue(std::string_view path, Value value) {
  std::string p = NormalizePath(path);
  std::vector<Value>& values = MakeExplicit(p);
  for (Value& v : values) {
    if (!SameText(v.name, value.name)) continue;
    value.name = v.name;  // the name keeps its first spelling
    if (v == value) return false;
    v = std::move(value);
    return true;
  }
  values.push_back(std::move(value));
  return true;
}

bool HiveData::DeleteValue(std::string_view path, std::string_view name) {
  std::vector<Value>* values = ExplicitKey(NormalizePath(path));
  if (!values) return false;
  for (auto it = values->begin(); it != values->end(); ++it) {
    if (!SameText(it->name, name)) continue;
    values->erase(it);
    return true;
  }
  return false;
}

HiveData HiveData::Parse(std::string_view content) {
  HiveData hive;
  std::optional<std::string> current;  // the key that value lines belong to
  while (!content.empty()) {
    size_t end = content.find('\n');
    std::string_view line = TrimView(content.substr(0, end));
    content = end == std::string_view::npos ? kNoMore : content.substr(end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      current.reset();  // a broken key line must not hand its values to the key before it
      if (line.size() < 2 || line.back() != ']') continue;
      std::string p = NormalizePath(Decode(line.substr(1, line.size() - 2)));
      hive.MakeExplicit(p);
      current = hive.StoredSpelling(p);
      continue;
    }
    if (!current) continue;
    if (std::optional<Value> v = ParseValueLine(line)) hive.SetValue(*current, std::move(*v));
  }
  return hive;
}

std::string HiveData::Serialize(std::string_view hiveName) const {
  std::string out;
  out.append("; Kestrovane registry hive ").append(hiveName).append("\n");
  out.append("; [key path], then its values: \"name\"=\"text\", \"name\"=dword:hex, @ = default value.\n");
  out.append("; Control bytes, \"%\" and the double quote are written as %HH.\n");
  for (const auto& [path, values] : keys_) {
    out.append("\n[").append(Encode(path)).append("]\n");
    for (const Value& v : values) AppendValueLine(out, v);
  }
  return out;
}

}  // namespace kv::platform
