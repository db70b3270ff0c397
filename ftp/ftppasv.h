#pragma once
// The address texts of the data-connection commands: the six numbers of a
// PASV reply and the argument of PORT.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

using PasvNumbers = std::array<uint8_t, 6>;  // h1..h4, p1, p2

// The six numbers (each 0..255, separated by commas, blanks allowed around
// them) between the first "(" and the next ")" of the reply; when it has no
// "(", the first run of six such numbers after its code. False for anything
// else (five or seven numbers, a number over 255, a missing ")").
bool ParsePasvNumbers(std::string_view reply, PasvNumbers& numbers);
inline uint16_t PasvPort(const PasvNumbers& n) { return static_cast<uint16_t>(n[4] * 256 + n[5]); }

// "192,168,1,20,4,1" for 192.168.1.20 and port 1025.
std::string PortArgument(std::string_view dottedAddress, uint16_t port);

}  // namespace kv
