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
  auto g = GuidFromString("{deadbeef-0102-a0b0-ff00-102030405a6b}");
  ASSERT_TRUE(g);
  EXPECT_EQ(g->Data1, 0xDEADBEEFu);
  EXPECT_EQ(g->Data2, 0x0102);
  EXPECT_EQ(g->Data3, 0xA0B0);
  const uint8_t tail[8] = {0xFF, 0x00, 0x10, 0x20, 0x30, 0x40, 0x5A, 0x6B};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(g->Data4[i], tail[i]) << i;
  EXPECT_EQ(GuidToString(*g), "{DEADBEEF-0102-A0B0-FF00-102030405A6B}");
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

TEST(HResult, SeverityDecidesSuccess) {
  EXPECT_TRUE(SUCCEEDED(S_OK));
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  EXPECT_FALSE(FAILED(S_FALSE));
  for (HRESULT hr : {E_FAIL, E_UNEXPECTED, REGDB_E_CLASSNOTREG, CO_E_NOTINITIALIZED, DISP_E_EXCEPTION}) {
    EXPECT_TRUE(FAILED(hr)) << hr;
  }
}

TEST(HResult, ErrnoBecomesSystemErrorCode) {
  struct Case {
    int err;
    uint32_t expected;
  };
  const Case cases[] = {
      {ENOENT, 0x80070002}, {EACCES, 0x80070005}, {ENOMEM, 0x8007000E},
      {EINVAL, 0x80070057}, {ENOSPC, 0x80070070}, {0, 0x80004005},
  };
  for (const Case& c : cases) EXPECT_EQ(static_cast<uint32_t>(HResultFromErrno(c.err)), c.expected) << c.err;
  EXPECT_EQ(HResultFromErrno(EACCES), E_ACCESSDENIED);
  EXPECT_EQ(HResultFromErrno(EINVAL), E_INVALIDARG);
  EXPECT_EQ(HResultFromErrno(ENOMEM), E_OUTOFMEMORY);
  // Unmapped numbers stay failures and never pose as another system error.
  HRESULT pipe = HResultFromErrno(EPIPE);
  EXPECT_TRUE(FAILED(pipe));
  EXPECT_NE(static_cast<uint32_t>(pipe), 0x80070000u | EPIPE);
  EXPECT_NE(HResultFromErrno(EPIPE), HResultFromErrno(ECONNRESET));
}

}  // namespace
}  // namespace kv::platform
