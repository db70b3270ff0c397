#include "platform/initext.h"

#include <cstddef>

#include "platform/text.h"

namespace kv::platform {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool IsQuote(char c) { return c == '"' || c == '\''; }

}  // namespace

std::string IniText::EffectiveValue(std::string_view raw) {
  std::string v = Trim(raw);
  if (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front()) return v.substr(1, v.size() - 2);
  return v;
}

IniText::Line IniText::ParseLine(std::string raw) {
  Line line;
  line.raw = std::move(raw);
  std::string_view text = line.raw;
  size_t start = 0;
  while (start < text.size() && static_cast<unsigned char>(text[start]) <= 0x20) ++start;
  text.remove_prefix(start);
  if (text.empty()) return line;  // Blank
  if (text.front() == ';') {
    line.kind = Kind::Comment;
    return line;
  }
  if (text.front() == '[') {
    // The last "]" closes the name, so a folder name with "]" in it survives.
    size_t close = text.rfind(']');
    if (close == std::string_view::npos) {
      line.kind = Kind::Other;
      return line;
    }
    line.kind = Kind::Section;
    line.name = Trim(text.substr(1, close - 1));
    return line;
  }
  size_t eq = text.find('=');
  std::string key = eq == std::string_view::npos ? std::string() : Trim(text.substr(0, eq));
  if (key.empty()) {
    line.kind = Kind::Other;
    return line;
  }
  line.kind = Kind::Entry;
  line.name = std::move(key);
  line.value = EffectiveValue(text.substr(eq + 1));
  return line;
}

IniText::Line IniText::EntryLine(std::string_view key, std::string_view value) {
  std::string raw;
  raw.reserve(key.size() + 1 + value.size());
  raw.append(key).append("=").append(value);
  return ParseLine(std::move(raw));
}

IniText IniText::Parse(std::string_view content) {
  IniText ini;
  if (content.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    ini.bom_ = kUtf8Bom;
    content.remove_prefix(kUtf8Bom.size());
  }
  size_t firstBreak = content.find('\n');
  if (firstBreak != std::string_view::npos)
    ini.lineEnd_ = (firstBreak > 0 && content[firstBreak - 1] == '\r') ? "\r\n" : "\n";
  while (!content.empty()) {
    size_t end = content.find('\n');
    std::string_view raw = content.substr(0, end);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    ini.lines_.push_back(ParseLine(std::string(raw)));
    if (end == std::string_view::npos) break;
    content.remove_prefix(end + 1);
  }
  return ini;
}

std::string IniText::Serialize() const {
  size_t total = bom_.size();
  for (const Line& l : lines_) total += l.raw.size() + lineEnd_.size();
  std::string out;
  out.reserve(total);
  out += bom_;
  for (const Line& l : lines_) out.append(l.raw).append(lineEnd_);
  return out;
}

template <typename Fn>
void IniText::ForEachEntryIn(std::string_view section, Fn fn) const {
  bool inSection = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line& l = lines_[i];
    if (l.kind == Kind::Section) inSection = SameText(l.name, section);
    else if (inSection && l.kind == Kind::Entry && !fn(i, l)) return;
  }
}

const std::string* IniText::Find(std::string_view section, std::string_view key) const {
  std::string s = Trim(section), k = Trim(key);
  const std::string* found = nullptr;
  ForEachEntryIn(s, [&](size_t, const Line& l) {
    if (!SameText(l.name, k)) return true;
    found = &l.value;
    return false;
  });
  return found;
}

std::vector<std::string> IniText::SectionNames() const {
  std::vector<std::string> names;
  for (const Line& l : lines_) {
    if (l.kind != Kind::Section) continue;
    bool seen = false;
    for (const std::string& n : names) seen = seen || SameText(n, l.name);
    if (!seen) names.push_back(l.name);
  }
  return names;
}

std::vector<std::pair<std::string, std::string>> IniText::Entries(std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> entries;
  ForEachEntryIn(Trim(section), [&](size_t, const Line& l) {
    for (const auto& e : entries)
      if (SameText(e.first, l.name)) return true;
    entries.emplace_back(l.name, l.value);
    return true;
  });
  return entries;
}

std::vector<std::string> IniText::KeyNames(std::string_view section) const {
  std::vector<std::string> keys;
  for (auto& e : Entries(section)) keys.push_back(std::move(e.first));
  return keys;
}

size_t IniText::InsertionPointAfter(size_t header) const {
  size_t insertAt = header + 1;
  for (size_t i = header + 1; i < lines_.size() && lines_[i].kind != Kind::Section; ++i) {
    if (lines_[i].kind != Kind::Blank && lines_[i].kind != Kind::Comment) insertAt = i + 1;
  }
  return insertAt;
}

bool IniText::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::string s = Trim(section), k = Trim(key);
  size_t existing = lines_.size();
  ForEachEntryIn(s, [&](size_t i, const Line& l) {
    if (!SameText(l.name, k)) return true;
    existing = i;
    return false;
  });
  if (existing < lines_.size()) {
    Line& l = lines_[existing];
    if (l.value == EffectiveValue(value)) return false;
    l = EntryLine(l.name, value);  // the key keeps its spelling
    return true;
  }
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind != Kind::Section || !SameText(lines_[i].name, s)) continue;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(InsertionPointAfter(i)), EntryLine(k, value));
    return true;
  }
  if (!lines_.empty() && lines_.back().kind != Kind::Blank) lines_.push_back(ParseLine(""));
  lines_.push_back(ParseLine("[" + s + "]"));
  lines_.push_back(EntryLine(k, value));
  return true;
}

bool IniText::EraseSection(std::string_view section) {
  std::string s = Trim(section);
  std::vector<Line> kept;
  kept.reserve(lines_.size());
  bool erasing = false, changed = false;
  for (Line& l : lines_) {
    if (l.kind == Kind::Section) erasing = SameText(l.name, s);
    if (erasing) changed = true;
    else kept.push_back(std::move(l));
  }
  lines_ = std::move(kept);
  if (changed) DropTrailingBlankLines();
  return changed;
}

bool IniText::DeleteKey(std::string_view section, std::string_view key) {
  // Every line of the key goes: a later duplicate must not come to light.
  std::string s = Trim(section), k = Trim(key);
  std::vector<size_t> doomed;
  ForEachEntryIn(s, [&](size_t i, const Line& l) {
    if (SameText(l.name, k)) doomed.push_back(i);
    return true;
  });
  for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*it));
  return !doomed.empty();
}

void IniText::DropTrailingBlankLines() {
  while (!lines_.empty() && lines_.back().kind == Kind::Blank) lines_.pop_back();
}

bool IniText::IsWritableSectionName(std::string_view section) {
  std::string s = Trim(section);
  return !s.empty() && !HasLineBreak(s);
}

bool IniText::IsWritableKey(std::string_view key) {
  std::string k = Trim(key);
  return !k.empty() && k.front() != ';' && k.front() != '[' && k.find('=') == std::string::npos &&
         !HasLineBreak(k);
}

bool IniText::IsWritableValue(std::string_view value) { return !HasLineBreak(value); }

}  // namespace kv::platform
