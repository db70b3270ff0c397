#include "ftp/ftppasv.h"

#include <algorithm>

#include "ftp/ftpmisc.h"

namespace kv {
namespace {

void SkipBlanks(std::string_view text, size_t& at) {
  while (at < text.size() && text[at] == ' ') ++at;
}

// Six numbers from `at` on; `at` ends behind the last digit.
bool ReadSixNumbers(std::string_view text, size_t& at, PasvNumbers& numbers) {
  for (size_t i = 0; i < numbers.size(); ++i) {
    SkipBlanks(text, at);
    if (i > 0) {
      if (at >= text.size() || text[at] != ',') return false;
      ++at;
      SkipBlanks(text, at);
    }
    unsigned value = 0;
    size_t digits = 0;
    for (; at < text.size() && IsAsciiDigit(text[at]); ++at, ++digits) {
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
      if (value > 255) return false;
    }
    if (digits == 0) return false;
    numbers[i] = static_cast<uint8_t>(value);
  }
  return true;
}

}  // namespace

bool ParsePasvNumbers(std::string_view reply, PasvNumbers& numbers) {
  const size_t open = reply.find('(');
  if (open != std::string_view::npos) {
    const size_t close = reply.find(')', open);
    if (close == std::string_view::npos) return false;
    const std::string_view inside = reply.substr(open + 1, close - open - 1);
    size_t at = 0;
    if (!ReadSixNumbers(inside, at, numbers)) return false;
    SkipBlanks(inside, at);
    return at == inside.size();
  }
  // Without parentheses: the first digit after the code starts the run, and
  // no digit or comma may follow it.
  const size_t start = std::min(reply.size(), size_t{3});
  const auto first = std::find_if(reply.begin() + static_cast<std::ptrdiff_t>(start), reply.end(), IsAsciiDigit);
  size_t at = static_cast<size_t>(first - reply.begin());
  if (!ReadSixNumbers(reply, at, numbers)) return false;
  return at == reply.size() || (reply[at] != ',' && !IsAsciiDigit(reply[at]));
}

std::string PortArgument(std::string_view dottedAddress, uint16_t port) {
  std::string text(dottedAddress);
  std::replace(text.begin(), text.end(), '.', ',');
  return text + "," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

}  // namespace kv
