#pragma once
// CryptConst: the message texts of the hash and cipher classes, in English,
// word for word as the library has always shown them.
#include <initializer_list>
#include <string>
#include <string_view>

namespace kv::crypto {

inline constexpr std::string_view sProtectionCircular = "Circular Protection detected, Protection Object is invalid.";
inline constexpr std::string_view sStringFormatExists = "String Format \"%d\" not exists.";
inline constexpr std::string_view sInvalidStringFormat = "Input is not an valid %s Format.";
inline constexpr std::string_view sInvalidFormatString = "Input can not be convert to %s Format.";
inline constexpr std::string_view sInvalidKeySize =
    "Length from Encryptionkey is invalid.\r\nKeysize for %s must be to %d-%d bytes";
inline constexpr std::string_view sNotInitialized = "%s is not initialized call Init() or InitKey() before.";

// Texts of failures the library reports beyond those above.
inline constexpr std::string_view sVectorTooShort = "Initialization vector for %s is too short, it needs %d bytes.";
inline constexpr std::string_view sNoDigestToCode = "%s has no digest bytes and can not code data.";
inline constexpr std::string_view sStreamOpenError = "Cannot open file \"%s\". %s";
inline constexpr std::string_view sStreamReadError = "Read error in \"%s\". %s";
inline constexpr std::string_view sStreamWriteError = "Write error in \"%s\". %s";
inline constexpr std::string_view sStreamReplaceError = "Cannot replace file \"%s\". %s";

// Puts the arguments in place of the "%s" and "%d" of text, in order
// (numbers are passed already as text). A placeholder without an argument
// stays as it is.
std::string FormatText(std::string_view text, std::initializer_list<std::string_view> arguments);

}  // namespace kv::crypto
