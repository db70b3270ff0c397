#include "crypto/stringformat.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <vector>

#include "crypto/cryptconst.h"
#include "crypto/protection.h"
#include "platform/text.h"

namespace kv::crypto {

namespace {

std::string_view Span(const void* data, int32_t length) {
  const char* p = static_cast<const char*>(data);
  if (!p || length == 0) return {};
  return length < 0 ? std::string_view(p) : std::string_view(p, static_cast<size_t>(length));
}

uint8_t Byte(char c) { return static_cast<uint8_t>(c); }

char FoldAscii(char c, bool upper) {
  if (upper && c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if (!upper && c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  return c;
}

// The position of every byte in a character table (its first occurrence);
// -1 for bytes that are not in it.
class CharIndex {
 public:
  explicit CharIndex(std::string_view table) {
    at_.fill(-1);
    for (size_t i = table.size(); i-- > 0;) at_[Byte(table[i])] = static_cast<int16_t>(i);
  }
  int operator[](char c) const { return at_[Byte(c)]; }

 private:
  std::array<int16_t, 256> at_;
};

bool AllInTable(std::string_view text, std::string_view table) {
  const CharIndex index(table);
  return std::all_of(text.begin(), text.end(), [&](char c) { return index[c] >= 0; });
}

[[noreturn]] void FailDecoding(const TStringFormat& format) {
  throw EStringFormat(FormatText(sInvalidStringFormat, {format.FormatName()}));
}

// UU and XX lines. Reads the text with the table's 64 value characters and
// appends the bytes to out; without out it only checks. False at the first
// place where the text breaks the format, the end of the text included: a
// length character may never promise more than the text still holds.
bool ReadUULines(std::string_view text, std::string_view table, std::string* out) {
  constexpr int kMaxLine = 45;
  const CharIndex index(table);
  size_t pos = 0;
  while (pos < text.size()) {
    const int count = index[text[pos++]];
    if (count < 0 || count > kMaxLine) return false;
    for (int left = count; left > 0; left -= 3) {
      uint32_t bits = 0;
      for (int k = 0; k < 4; ++k) {
        int value;
        do {
          if (pos == text.size()) return false;
          value = index[text[pos++]];
          if (value < 0) return false;
        } while (value >= 64);  // blanks and line breaks inside a line
        bits = bits << 6 | static_cast<uint32_t>(value);
      }
      if (!out) continue;
      const char bytes[3] = {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8), static_cast<char>(bits)};
      out->append(bytes, static_cast<size_t>(std::min(left, 3)));
    }
  }
  return true;
}

struct Registry {
  std::mutex mutex;
  std::vector<TStringFormatClass> formats;
};

Registry& Formats() {
  static Registry* registry = new Registry;  // unload hooks may run during exit
  return *registry;
}

}  // namespace

// --- TStringFormat -------------------------------------------------------------------

TStringFormatClass TStringFormat::Class() {
  static const TStringFormat format;
  return &format;
}

std::string TStringFormat::DecodeText(const char* text, int32_t length) const {
  return std::string(Span(text, length));
}

std::string TStringFormat::EncodeBytes(const void* bytes, int32_t length) const {
  return std::string(Span(bytes, length));
}

std::string TStringFormat::FormatName() const {
  if (this == Class()) return "copy Input to Output";
  const std::string_view name = ClassName();
  const size_t underscore = name.find('_');
  return std::string(underscore == std::string_view::npos ? name : name.substr(underscore + 1));
}

bool TStringFormat::IsValid(const void*, int32_t, bool) const { return true; }

// --- Hexadecimal ---------------------------------------------------------------------

TStringFormatClass TStringFormat_HEX::Class() {
  static const TStringFormat_HEX format;
  return &format;
}

std::string_view TStringFormat_HEX::CharTable() const {
  return "0123456789ABCDEFX$ abcdefhHx()[]{},;:-_/\\*+\"'\t\n\r";
}

std::string TStringFormat_HEX::EncodeBytes(const void* bytes, int32_t length) const {
  const std::string_view in = Span(bytes, length);
  const std::string_view digits = CharTable();
  std::string out(in.size() * 2, '\0');
  for (size_t i = 0; i < in.size(); ++i) {
    out[2 * i] = digits[Byte(in[i]) >> 4];
    out[2 * i + 1] = digits[Byte(in[i]) & 0x0F];
  }
  return out;
}

// Digits in either case give half bytes, high half first. The first prefix
// character ("X" or "$", as in "0x1F" or "$1F") throws away what came before
// it; everything else is skipped. An unpaired last half byte is dropped.
std::string TStringFormat_HEX::DecodeText(const char* text, int32_t length) const {
  const std::string_view in = Span(text, length);
  const std::string_view table = CharTable();
  std::array<int8_t, 256> digit;
  digit.fill(-1);
  for (int8_t i = 0; i < 16; ++i) {
    digit[Byte(FoldAscii(table[i], true))] = i;
    digit[Byte(FoldAscii(table[i], false))] = i;
  }
  const auto isPrefix = [&](char c) {
    return FoldAscii(c, true) == FoldAscii(table[16], true) || FoldAscii(c, true) == FoldAscii(table[17], true);
  };
  std::string out;
  out.reserve(in.size() / 2);
  bool prefixSeen = false;
  int high = -1;
  for (char c : in) {
    const int value = digit[Byte(c)];
    if (value >= 0) {
      if (high < 0) {
        high = value;
      } else {
        out.push_back(static_cast<char>(high << 4 | value));
        high = -1;
      }
    } else if (!prefixSeen && isPrefix(c)) {
      prefixSeen = true;
      out.clear();
      high = -1;
    }
  }
  return out;
}

bool TStringFormat_HEX::IsValid(const void* data, int32_t length, bool decoding) const {
  return !decoding || AllInTable(Span(data, length), CharTable());
}

TStringFormatClass TStringFormat_HEXL::Class() {
  static const TStringFormat_HEXL format;
  return &format;
}

std::string_view TStringFormat_HEXL::CharTable() const {
  return "0123456789abcdefX$ ABCDEFhHx()[]{},;:-_/\\*+\"'\t\n\r";
}

// --- MIME base 64 --------------------------------------------------------------------

TStringFormatClass TStringFormat_MIME64::Class() {
  static const TStringFormat_MIME64 format;
  return &format;
}

std::string_view TStringFormat_MIME64::CharTable() const {
  return "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/= $()[]{},;:-_\\*\"'\t\n\r";
}

std::string TStringFormat_MIME64::EncodeBytes(const void* bytes, int32_t length) const {
  const std::string_view in = Span(bytes, length);
  const std::string_view table = CharTable();
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  for (size_t i = 0; i < in.size(); i += 3) {
    const size_t n = std::min<size_t>(3, in.size() - i);
    uint32_t bits = static_cast<uint32_t>(Byte(in[i])) << 16;
    if (n > 1) bits |= static_cast<uint32_t>(Byte(in[i + 1])) << 8;
    if (n > 2) bits |= Byte(in[i + 2]);
    for (size_t k = 0; k < 4; ++k) out += k <= n ? table[(bits >> (18 - 6 * k)) & 0x3F] : table[64];
  }
  return out;
}

// Everything but the 64 letters and "=" is ignored. The rest goes in groups
// of four (a short last group counts as filled up with "="), each giving
// three bytes less one for every "=" in it, and never fewer than none: so
// "====" or "A===" give nothing and a misplaced "=" cannot reach outside the
// result.
std::string TStringFormat_MIME64::DecodeText(const char* text, int32_t length) const {
  constexpr int kPad = 64;
  const std::string_view in = Span(text, length);
  const CharIndex index(CharTable());
  std::string out;
  out.reserve(in.size() / 4 * 3 + 3);
  int group[4];
  int filled = 0;
  const auto emit = [&] {
    uint32_t bits = 0;
    int pads = 0;
    for (int v : group) {
      pads += v == kPad;
      bits = bits << 6 | static_cast<uint32_t>(v == kPad ? 0 : v);
    }
    const char bytes[3] = {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8), static_cast<char>(bits)};
    out.append(bytes, static_cast<size_t>(std::max(0, 3 - pads)));
  };
  for (char c : in) {
    const int value = index[c];
    if (value < 0 || value > kPad) continue;
    group[filled++] = value;
    if (filled == 4) {
      emit();
      filled = 0;
    }
  }
  if (filled > 0) {
    std::fill(group + filled, group + 4, kPad);
    emit();
  }
  return out;
}

// --- UU and XX -----------------------------------------------------------------------

TStringFormatClass TStringFormat_UU::Class() {
  static const TStringFormat_UU format;
  return &format;
}

std::string_view TStringFormat_UU::CharTable() const {
  return "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_ \t\n\r";
}

std::string TStringFormat_UU::EncodeBytes(const void* bytes, int32_t length) const {
  constexpr size_t kLine = 45;
  const std::string_view in = Span(bytes, length);
  const std::string_view table = CharTable();
  std::string out;
  out.reserve(in.size() / kLine + 1 + (in.size() + 2) / 3 * 4);
  for (size_t line = 0; line < in.size(); line += kLine) {
    const size_t count = std::min(kLine, in.size() - line);
    out += table[count];
    for (size_t i = line; i < line + count; i += 3) {
      const auto at = [&](size_t k) -> uint32_t { return k < line + count ? Byte(in[k]) : 0; };
      const uint32_t bits = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
      for (int k = 0; k < 4; ++k) out += table[(bits >> (18 - 6 * k)) & 0x3F];
    }
  }
  return out;
}

std::string TStringFormat_UU::DecodeText(const char* text, int32_t length) const {
  std::string out;
  if (!ReadUULines(Span(text, length), CharTable(), &out)) FailDecoding(*this);
  return out;
}

bool TStringFormat_UU::IsValid(const void* data, int32_t length, bool decoding) const {
  return !decoding || ReadUULines(Span(data, length), CharTable(), nullptr);
}

TStringFormatClass TStringFormat_XX::Class() {
  static const TStringFormat_XX format;
  return &format;
}

std::string_view TStringFormat_XX::CharTable() const {
  return "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz \"()[]'\t\n\r";
}

// --- Registry ------------------------------------------------------------------------

void RegisterStringFormats(std::initializer_list<TStringFormatClass> formats) {
  Registry& registry = Formats();
  std::lock_guard lock(registry.mutex);
  for (TStringFormatClass format : formats) {
    if (!format || format->FormatNumber() == kFormatDefault) continue;
    auto same = std::find_if(registry.formats.begin(), registry.formats.end(),
                             [&](TStringFormatClass f) { return f->FormatNumber() == format->FormatNumber(); });
    if (same != registry.formats.end())
      *same = format;
    else
      registry.formats.push_back(format);
  }
}

TStringFormatClass FindStringFormat(int32_t number) {
  if (number == kFormatDefault) number = kDefaultStringFormat;
  Registry& registry = Formats();
  std::lock_guard lock(registry.mutex);
  for (TStringFormatClass format : registry.formats) {
    if (format->FormatNumber() == number) return format;
  }
  return nullptr;
}

namespace {

TStringFormatClass RequireFormat(int32_t number) {
  TStringFormatClass format = FindStringFormat(number);
  if (!format) throw EStringFormat(FormatText(sStringFormatExists, {platform::IntToStr(number)}));
  return format;
}

}  // namespace

std::string BytesToFormat(const void* bytes, int32_t length, int32_t format) {
  const std::string_view in = Span(bytes, length);
  if (format == kFormatNone || in.empty()) return {};
  TStringFormatClass f = RequireFormat(format);
  const int32_t size = static_cast<int32_t>(in.size());
  if (!f->IsValid(in.data(), size, false)) throw EStringFormat(FormatText(sInvalidFormatString, {f->FormatName()}));
  return f->EncodeBytes(in.data(), size);
}

std::string FormatToBytes(const char* text, int32_t length, int32_t format) {
  const std::string_view in = Span(text, length);
  if (format == kFormatNone || in.empty()) return {};
  TStringFormatClass f = RequireFormat(format);
  const int32_t size = static_cast<int32_t>(in.size());
  if (!f->IsValid(in.data(), size, true)) FailDecoding(*f);
  return f->DecodeText(in.data(), size);
}

void DropModuleFormats(platform::ModuleHandle module) {
  Registry& registry = Formats();
  std::lock_guard lock(registry.mutex);
  std::erase_if(registry.formats, [&](TStringFormatClass f) { return f->Module() == module; });
}

void ClearStringFormats() {
  Registry& registry = Formats();
  std::lock_guard lock(registry.mutex);
  registry.formats.clear();
}

}  // namespace kv::crypto
