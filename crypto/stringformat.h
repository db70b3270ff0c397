#pragma once
// The string formats, which turn byte results into text and back, and their
// registry by number. A format is a class, not an object: all its operations
// are class-level, and the one constant object of each class stands for the
// class itself, so a TStringFormatClass is a class reference.
//
// Lengths are byte counts; a negative length means "up to the first zero byte".
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/modules.h"

namespace kv::crypto {

class TStringFormat;
using TStringFormatClass = const TStringFormat*;

// Format numbers; 0 makes no text, -1 is the library's default.
inline constexpr int32_t kFormatNone = 0;
inline constexpr int32_t kFormatDefault = -1;
inline constexpr int32_t kFormatCopy = 1;
inline constexpr int32_t kFormatHEX = 16;
inline constexpr int32_t kFormatHEXL = 1016;
inline constexpr int32_t kFormatMIME64 = 4196;
inline constexpr int32_t kFormatUU = 21845;
inline constexpr int32_t kFormatXX = 22616;
// What kFormatDefault stands for.
inline constexpr int32_t kDefaultStringFormat = kFormatMIME64;

// Copies input to output both ways; the base of the other formats.
class TStringFormat {
 public:
  static TStringFormatClass Class();
  virtual ~TStringFormat() = default;
  TStringFormat(const TStringFormat&) = delete;
  TStringFormat& operator=(const TStringFormat&) = delete;

  // Formatted text to bytes; EStringFormat where the text cannot be read.
  virtual std::string DecodeText(const char* text, int32_t length) const;
  virtual std::string EncodeBytes(const void* bytes, int32_t length) const;
  // A class that names itself no otherwise is called by its class name
  // after the first "_".
  virtual std::string FormatName() const;
  virtual int32_t FormatNumber() const { return kFormatCopy; }
  // Whether the input can be converted in that direction.
  virtual bool IsValid(const void* data, int32_t length, bool decoding) const;
  virtual std::string_view ClassName() const { return "TStringFormat"; }
  // The module (program or shared library) that defines the class.
  platform::ModuleHandle Module() const { return platform::ModuleOfAddress(this); }

 protected:
  TStringFormat() = default;
};

// Hexadecimal: two characters per byte, high half first.
class TStringFormat_HEX : public TStringFormat {
 public:
  static TStringFormatClass Class();
  std::string DecodeText(const char* text, int32_t length) const override;
  std::string EncodeBytes(const void* bytes, int32_t length) const override;
  std::string FormatName() const override { return "Hexadecimal"; }
  int32_t FormatNumber() const override { return kFormatHEX; }
  bool IsValid(const void* data, int32_t length, bool decoding) const override;
  std::string_view ClassName() const override { return "TStringFormat_HEX"; }
  // The characters that drive the conversion; the first 16 are the digits.
  virtual std::string_view CharTable() const;

 protected:
  TStringFormat_HEX() = default;
};

class TStringFormat_HEXL : public TStringFormat_HEX {
 public:
  static TStringFormatClass Class();
  std::string FormatName() const override { return "Hexadecimal lowercase"; }
  int32_t FormatNumber() const override { return kFormatHEXL; }
  std::string_view ClassName() const override { return "TStringFormat_HEXL"; }
  std::string_view CharTable() const override;

 protected:
  TStringFormat_HEXL() = default;
};

// MIME base 64 without line breaks.
class TStringFormat_MIME64 : public TStringFormat_HEX {
 public:
  static TStringFormatClass Class();
  std::string DecodeText(const char* text, int32_t length) const override;
  std::string EncodeBytes(const void* bytes, int32_t length) const override;
  std::string FormatName() const override { return "MIME Base 64"; }
  int32_t FormatNumber() const override { return kFormatMIME64; }
  std::string_view ClassName() const override { return "TStringFormat_MIME64"; }
  std::string_view CharTable() const override;

 protected:
  TStringFormat_MIME64() = default;
};

// UU coding: lines of up to 45 bytes, each a length character and four
// characters per three bytes, one after the other without line breaks.
class TStringFormat_UU : public TStringFormat {
 public:
  static TStringFormatClass Class();
  std::string DecodeText(const char* text, int32_t length) const override;
  std::string EncodeBytes(const void* bytes, int32_t length) const override;
  std::string FormatName() const override { return "UU Coding"; }
  int32_t FormatNumber() const override { return kFormatUU; }
  bool IsValid(const void* data, int32_t length, bool decoding) const override;
  std::string_view ClassName() const override { return "TStringFormat_UU"; }
  // 64 value characters, then the characters skipped inside a line.
  virtual std::string_view CharTable() const;

 protected:
  TStringFormat_UU() = default;
};

class TStringFormat_XX : public TStringFormat_UU {
 public:
  static TStringFormatClass Class();
  std::string FormatName() const override { return "XX Coding"; }
  int32_t FormatNumber() const override { return kFormatXX; }
  std::string_view ClassName() const override { return "TStringFormat_XX"; }
  std::string_view CharTable() const override;

 protected:
  TStringFormat_XX() = default;
};

// A registered class with the same number is replaced in its place, any
// other is appended; classes whose number is -1 are left out.
void RegisterStringFormats(std::initializer_list<TStringFormatClass> formats);
// The first registered class with the number (-1: the default); nullptr when none.
TStringFormatClass FindStringFormat(int32_t number);
// Format 0, no data or a length of 0 give an empty result; otherwise
// EStringFormat when the format is not registered or the input not valid.
std::string BytesToFormat(const void* bytes, int32_t length, int32_t format);
std::string FormatToBytes(const char* text, int32_t length, int32_t format);
inline std::string BytesToFormat(std::string_view bytes, int32_t format) {
  return BytesToFormat(bytes.data(), static_cast<int32_t>(bytes.size()), format);
}
inline std::string FormatToBytes(std::string_view text, int32_t format) {
  return FormatToBytes(text.data(), static_cast<int32_t>(text.size()), format);
}
// The module-unload hook: forgets every format class the module defines.
void DropModuleFormats(platform::ModuleHandle module);
// Forgets every format (module end).
void ClearStringFormats();

}  // namespace kv::crypto
