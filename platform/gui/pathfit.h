#pragma once
// Fitting a path to a width in pixels of a font, by the rule of
// platform/ui/pathfit.h.
#include <string>
#include <string_view>

#include "platform/ui/pathfit.h"

class QFont;

namespace kv::platform::gui {

// Without a QGuiApplication (no fonts can be measured) it falls back to
// characters at ui::kHeadlessCharWidth pixels each.
std::string MinimizeNamePixels(std::string_view path, const QFont& font, int maxPixels);

}  // namespace kv::platform::gui
