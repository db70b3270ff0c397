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
    SCOPED_TRACE(c.text);
    ClearErrorInfo();
    EXPECT_EQ(SafeCall("Test.Src", kSomeIid, c.body), c.expected);
    auto info = GetErrorInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->source, "Test.Src");
    EXPECT_EQ(info->iid, kSomeIid);
    EXPECT_FALSE(info->description.empty());
    if (!c.text.empty()) {
      EXPECT_EQ(info->description, c.text);
    }
  }
}

TEST(ErrorInfo, SafeCallPassesResultsThrough) {
  ClearErrorInfo();
  EXPECT_EQ(SafeCall("s", kSomeIid, [] {}), S_OK);
  EXPECT_EQ(SafeCall("s", kSomeIid, [] { return S_FALSE; }), S_FALSE);
  EXPECT_EQ(SafeCall("s", kSomeIid, [] { return E_NOTIMPL; }), E_NOTIMPL);
  EXPECT_FALSE(GetErrorInfo());
}

// What CheckHResult throws for hr.
ComError ThrownBy(HRESULT hr) {
  try {
    CheckHResult(hr);
  } catch (const ComError& e) {
    return e;
  }
  ADD_FAILURE() << "no exception for " << hr;
  return ComError(S_OK, "");
}

TEST(ErrorInfo, CheckHResultThrowsWithTheServersText) {
  EXPECT_NO_THROW(CheckHResult(S_OK));
  EXPECT_NO_THROW(CheckHResult(S_FALSE));
  SetErrorInfo({kSomeIid, "Kestro.CopyObj", "Auftragsdatei fehlt"});
  const ComError e = ThrownBy(E_FAIL);
  EXPECT_EQ(e.Code(), E_FAIL);
  EXPECT_STREQ(e.what(), "Auftragsdatei fehlt");
  EXPECT_EQ(e.Source(), "Kestro.CopyObj");
  EXPECT_FALSE(GetErrorInfo()) << "taken by the check";
  EXPECT_STREQ(ThrownBy(REGDB_E_CLASSNOTREG).what(), "Komponentenfehler 0x80040154");
}

}  // namespace
}  // namespace kv::platform
