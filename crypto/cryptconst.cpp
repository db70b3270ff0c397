#include "crypto/cryptconst.h"

namespace kv::crypto {

std::string FormatText(std::string_view text, std::initializer_list<std::string_view> arguments) {
  std::string out;
  auto next = arguments.begin();
  for (size_t i = 0; i < text.size(); ++i) {
    const bool placeholder = text[i] == '%' && i + 1 < text.size() && (text[i + 1] == 's' || text[i + 1] == 'd');
    if (placeholder && next != arguments.end()) {
      out += *next++;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace kv::crypto
