#include "platform/com/guid.h"

#include <gtest/gtest.h>

#include "platform/com/unknown.h"

namespace kv::platform {
namespace {

TEST(Guid, FormatsBracedUpperCaseGroups) {
  EXPECT_EQ(GuidToString(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
  GUID g{0xDEADBEEF, 0x0102, 0xA0B0, {0xFF, 0x00, 0x10, 0x20, 0x30, 0x40, 0x5A, 0x6B}};
  EXPECT_EQ(GuidToString(g), "{DEADBEEF-0102-A0B0-FF00-102030405A6B}");
  EXPECT_EQ(GuidToString(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");
}

TEST(Guid, ParsesEitherCaseAndRoundTrips) {
  const GUID expected{0xDEADBEEF, 0x0102, 0xA0B0, {0xFF, 0x00, 0x10, 0x20, 0x30, 0x40, 0x5A, 0x6B}};
  EXPECT_EQ(GuidFromString("{deadbeef-0102-a0b0-ff00-102030405a6b}"), expected);
  EXPECT_EQ(GuidFromString("{DEADBEEF-0102-A0B0-FF00-102030405A6B}"), expected);
  EXPECT_EQ(GuidFromString(GuidToString(IID_IClassFactory)), IID_IClassFactory);
}

TEST(Guid, RefusesMalformedText) {
  const char* bad[] = {
      "",
      "DEADBEEF-0102-A0B0-FF00-102030405A6B",     // no braces
      "{DEADBEEF-0102-A0B0-FF00-102030405A6B",    // no closing brace
      "{DEADBEEF-0102-A0B0-FF00-102030405A6}",    // one digit short
      "{DEADBEEF-0102-A0B0-FF00-102030405A6BB}",  // one digit long
      "{DEADBEEF0-102-A0B0-FF00-102030405A6B}",   // dash misplaced
      "{DEADBEEF-0102-A0B0-FF0G-102030405A6B}",   // not hex
      "{DEADBEEF-0102-A0B0+FF00-102030405A6B}",   // wrong separator
      "{DEADBEEF-0102-A0B0-FF00-10203040 A6B}",   // blank
      "{-DEADBEE-0102-A0B0-FF00-102030405A6B}",   // sign
      "(DEADBEEF-0102-A0B0-FF00-102030405A6B)",
  };
  for (const char* text : bad) EXPECT_FALSE(GuidFromString(text)) << text;
  const char withNul[] = "{DEADBEEF-0102-A0B0-FF00-10203040\0A6B}";
  EXPECT_FALSE(GuidFromString(std::string_view(withNul, sizeof withNul - 1)));
}

TEST(HResult, ErrnoBecomesSystemErrorCodeAndSeverityDecidesSuccess) {
  struct Case {
    int err;
    uint32_t expected;
  };
  const Case cases[] = {
      {ENOENT, 0x80070002}, {EACCES, 0x80070005}, {ENOMEM, 0x8007000E},
      {EINVAL, 0x80070057}, {ENOSPC, 0x80070070}, {0, 0x80004005},
  };
  for (const Case& c : cases) EXPECT_EQ(static_cast<uint32_t>(HResultFromErrno(c.err)), c.expected) << c.err;
  // The named codes callers compare with are these very numbers.
  EXPECT_EQ(static_cast<uint32_t>(E_ACCESSDENIED), 0x80070005u);
  EXPECT_EQ(static_cast<uint32_t>(E_INVALIDARG), 0x80070057u);
  EXPECT_EQ(static_cast<uint32_t>(E_OUTOFMEMORY), 0x8007000Eu);
  // S_FALSE is a success, however often it means "nothing done".
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  EXPECT_FALSE(FAILED(S_FALSE));
  // Unmapped numbers stay failures and never pose as another system error.
  HRESULT pipe = HResultFromErrno(EPIPE);
  EXPECT_TRUE(FAILED(pipe));
  EXPECT_NE(static_cast<uint32_t>(pipe), 0x80070000u | EPIPE);
  EXPECT_NE(HResultFromErrno(EPIPE), HResultFromErrno(ECONNRESET));
}

}  // namespace
}  // namespace kv::platform
