#include "platform/com/errorinfo.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <new>
#include <system_error>
#include <thread>

namespace kv::platform {
namespace {

const IID kSomeIid{0x11111111, 0x2222, 0x3333, {4, 5, 6, 7, 8, 9, 10, 11}};

TEST(ErrorInfo, IsTakenOnceAndPerThread) {
  ClearErrorInfo();
  EXPECT_FALSE(GetErrorInfo());
  SetErrorInfo({kSomeIid, "Src", "Beschreibung"});
  std::thread([] { EXPECT_FALSE(GetErrorInfo()); }).join();
  auto info = GetErrorInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->iid, kSomeIid);
  EXPECT_EQ(info->source, "Src");
  EXPECT_EQ(info->description, "Beschreibung");
  EXPECT_FALSE(GetErrorInfo());
}

TEST(ErrorInfo, SafeCallTurnsExceptionsIntoCodesWithText) {
  struct Case {
    std::function<void()> body;
    HRESULT expected;
    std::string text;
  };
  const Case cases[] = {
      {[] { throw ComError(E_ABORT, "abgebrochen"); }, E_ABORT, "abgebrochen"},
      {[] { throw std::system_error(ENOENT, std::generic_category(), "open x"); }, MakeHResult(0x80070002), ""},
      {[] { throw std::bad_alloc(); }, E_OUTOFMEMORY, ""},
      {[] { throw std::runtime_error("kaputt"); }, E_UNEXPECTED, "kaputt"},
      {[] { throw 42; }, E_UNEXPECTED, "Unbekannte Ausnahme"},
      // A success code thrown as a failure must not reach the client as success.
      {[] { throw ComError(S_FALSE, "seltsam"); }, E_UNEXPECTED, "seltsam"},
  };
  for (const Case& c : cases) {
    ClearErrorInfo();
    HRESULT hr = SafeCall("Test.Src", kSomeIid, c.body);
    EXPECT_EQ(hr, c.expected) << c.text;
    auto info = GetErrorInfo();
    ASSERT_TRUE(info) << c.text;
    EXPECT_EQ(info->source, "Test.Src");
    EXPECT_EQ(info->iid, kSomeIid);
    if (!c.text.empty()) {
      EXPECT_EQ(info->description, c.text);
    }
    EXPECT_FALSE(info->description.empty());
  }
}

TEST(ErrorInfo, SafeCallPassesResultsThrough) {
  ClearErrorInfo();
  EXPECT_EQ(SafeCall("s", kSomeIid, [] {}), S_OK);
  EXPECT_EQ(SafeCall("s", kSomeIid, [] { return S_FALSE; }), S_FALSE);
  EXPECT_EQ(SafeCall("s", kSomeIid, [] { return E_NOTIMPL; }), E_NOTIMPL);
  EXPECT_FALSE(GetErrorInfo());
}

TEST(ErrorInfo, CheckHResultThrowsWithTheServersText) {
  EXPECT_NO_THROW(CheckHResult(S_OK));
  EXPECT_NO_THROW(CheckHResult(S_FALSE));

  SetErrorInfo({kSomeIid, "Kestro.CopyObj", "Auftragsdatei fehlt"});
  try {
    CheckHResult(E_FAIL);
    FAIL() << "no exception";
  } catch (const ComError& e) {
    EXPECT_EQ(e.Code(), E_FAIL);
    EXPECT_STREQ(e.what(), "Auftragsdatei fehlt");
    EXPECT_EQ(e.Source(), "Kestro.CopyObj");
  }
  EXPECT_FALSE(GetErrorInfo()) << "taken by the check";

  try {
    CheckHResult(REGDB_E_CLASSNOTREG);
    FAIL() << "no exception";
  } catch (const ComError& e) {
    EXPECT_STREQ(e.what(), "Komponentenfehler 0x80040154");
  }
}

}  // namespace
}  // namespace kv::platform
