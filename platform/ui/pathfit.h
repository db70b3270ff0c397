#pragma once
// Shortening a Windows path to fit a width, as status lines show the
// current folder: the drive ("C:" or "\\server\share") and the last name are
// kept, folders in between are replaced by "..." from the left
// ("C:\...\deep\file.txt"). A folder path with a trailing "\" keeps its last
// folder as the name ("C:\...\deep\"). When even "drive\...\name" is too wide
// the drive goes too ("...\name"), then the name stands alone, and when that
// is still too wide the name is cut at the end and "..." appended. The result is never wider than the
// limit; an empty text when not even "..." fits. Fitting to pixels in a
// font: platform/gui/pathfit.h.
#include <functional>
#include <string>
#include <string_view>

namespace kv::platform::ui {

// Width of a UTF-8 text in any unit.
using TextMeasure = std::function<int(std::string_view)>;

std::string MinimizeName(std::string_view path, int maxWidth, const TextMeasure& measure);

// Headless: width = number of characters (code points).
std::string MinimizeNameChars(std::string_view path, int maxChars);

// Where no font can be measured, a character counts this many pixels.
inline constexpr int kHeadlessCharWidth = 6;

}  // namespace kv::platform::ui
