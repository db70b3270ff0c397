#pragma once
// A minimal in-process server for the runtime's tests: one class whose object
// keeps a number and can fail on request.
#include "platform/com/unknown.h"

namespace kv::test {

inline constexpr platform::CLSID CLSID_FakeObj{
    0x4F97EFB2, 0x40BB, 0x4F58, {0xA0, 0x27, 0xAF, 0xA2, 0xAA, 0xF1, 0xA0, 0x67}};
inline constexpr platform::IID IID_IFake{0xB410B34C, 0x1D10, 0x474C, {0x82, 0xE8, 0x55, 0x7F, 0x5F, 0xBD, 0xA7, 0x59}};
inline constexpr const char* kFakeSource = "Fake.Obj";
// DllRegisterServer fails with E_FAIL while this variable is set.
inline constexpr const char* kFakeFailRegistration = "KV_FAKE_SERVER_FAIL";

class IFake : public platform::IUnknown {
 public:
  virtual platform::HRESULT SetValue(int32_t value) = 0;
  virtual platform::HRESULT GetValue(int32_t* value) = 0;
  // Throws inside the server; the call returns E_ABORT with message as error info.
  virtual platform::HRESULT FailWith(const char* message) = 0;
};

}  // namespace kv::test
