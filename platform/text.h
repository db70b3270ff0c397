#pragma once
// Text helpers with the semantics the rest of the system was written against:
// every string is UTF-8 in a std::string; the position helpers count from 1
// and clamp what lies outside; nothing here throws on user data.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {

// --- 1-based, clamping helpers -----------------------------------------------
// Copy(s, index, count): index < 1 counts as 1; a range past the end is cut.
std::string Copy(std::string_view s, int64_t index, int64_t count);
// Delete(s, index, count): removes the clamped range; out of range: no change.
void Delete(std::string& s, int64_t index, int64_t count);
// Pos(sub, s): 1-based position of the first occurrence, 0 when absent or sub empty.
int64_t Pos(std::string_view sub, std::string_view s);
// Trim/TrimLeft/TrimRight cut bytes <= 0x20.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
// Whole text (after Trim) as a decimal integer ("$" or "0x" prefix = hex),
// else def. Decimal values must fit; hex ones may use every bit of the type
// ("$FFFFFFFF" is -1 for StrToIntDef), as the class library reads them.
int32_t StrToIntDef(std::string_view s, int32_t def);
int64_t StrToInt64Def(std::string_view s, int64_t def);
std::string IntToStr(int64_t v);
// The text in double quotes, as messages name files and folders.
std::string Quoted(std::string_view s);
// The text with every control character (below 0x20) shown as "?", so that
// it stays on its one line of a log.
std::string OneLine(std::string_view s);

// Comma text as the class library splits it: leading blanks/control chars
// skipped; a double-quoted item runs to its closing quote (doubled quote = one
// quote); any other item runs to the next comma, blank or control character;
// after an item, blanks and one comma with the blanks after it are skipped;
// two commas in a row give an empty item, and so does a comma that is the
// very last byte ("a," is "a" and ""; "a, " is "a" alone). A quote that is
// never closed runs to the end of the text.
std::vector<std::string> SplitCommaText(std::string_view text);
// The reverse: items joined by ",", quoted when they hold a comma, blank,
// quote or control character; a single empty item gives "\"\"".
// SplitCommaText(JoinCommaText(items)) == items for every list.
std::string JoinCommaText(const std::vector<std::string>& items);

// --- Case -------------------------------------------------------------------
// ASCII-only variants: fold A-Z / a-z and leave every other byte alone;
// compares in lower case, like CompareText.
std::string UpperCaseAscii(std::string_view s);
std::string LowerCaseAscii(std::string_view s);
int CompareTextAscii(std::string_view a, std::string_view b);  // <0, 0, >0
bool SameTextAscii(std::string_view a, std::string_view b);

// Unicode-aware variants (simple case mapping / folding), fast for ASCII.
// Malformed UTF-8 bytes are kept as they are and compare by byte value.
// The byte length may change ("Ⱥ" has two bytes, "ⱥ" three).
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
// Compares by case-folded code points; the order every sorted list of the
// system uses. Returns <0, 0, >0. Folding goes to lower case, so "_" sorts
// before letters; malformed bytes sort after every character. No full
// folding: "straße" and "STRASSE" differ, and so do "ı" and "I".
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
// A hash that agrees with SameText: texts that compare equal hash alike.
uint64_t TextHash(std::string_view s);
struct TextLess {
  bool operator()(std::string_view a, std::string_view b) const { return CompareText(a, b) < 0; }
};

// --- UTF-8 ------------------------------------------------------------------
// Largest prefix length <= maxBytes that does not split a UTF-8 sequence.
size_t Utf8PrefixLength(std::string_view s, size_t maxBytes);
// Characters (code points) of a text, where widths are counted in characters;
// a malformed byte counts as one character.
size_t Utf8Length(std::string_view s);
// Bytes of the first `chars` characters (the whole text when it is shorter).
size_t Utf8CharsPrefixLength(std::string_view s, size_t chars);

// --- Wildcards ----------------------------------------------------------------
// Whole-text, case-insensitive match: "*" any run, "?" one character, "[abc]",
// "[a-z]" and "[!abc]" sets. An unclosed "[" is taken literally. "?" takes
// one character (a malformed byte counts as one); "*.*" needs a dot. Sets
// close at the first "]"; "[]" matches nothing and "[!]" any character.
// Allocates nothing; at most name length x mask length steps.
bool MatchesMask(std::string_view name, std::string_view mask);

}  // namespace kv::platform
