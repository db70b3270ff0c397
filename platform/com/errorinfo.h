#pragma once
// Error information of a failed component call. A server sets it on the
// thread right before it returns a failure code; the client takes it after
// the call. Both run on the same thread (in-process, apartment threaded), and
// the slot lives in kv_comrt, so server and client see the same one.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/com/unknown.h"

namespace kv::platform {

struct ErrorInfo {
  IID iid{};                // interface whose member failed
  std::string source;       // ProgID of the server, e.g. "Kestro.CopyObj"
  std::string description;  // the message for a person
};

// Replaces the thread's error info.
void SetErrorInfo(ErrorInfo info);
// Hands the thread's error info over and empties the slot; nullopt when none
// was set since it was last taken.
std::optional<ErrorInfo> GetErrorInfo();
void ClearErrorInfo();

// A failure code with its description; what a client throws for a failed
// call, and what a server may throw to return a particular code.
class ComError : public std::runtime_error {
 public:
  ComError(HRESULT code, const std::string& description, std::string source = {});
  HRESULT Code() const { return code_; }
  const std::string& Source() const { return source_; }

 private:
  HRESULT code_;
  std::string source_;
};

// Client side: does nothing for a success code; for a failure throws
// ComError with the thread's error info (taken) as its text, or a text naming
// the code when the server left none.
void CheckHResult(HRESULT hr);
// "Komponentenfehler 0x80004005": the text for a code without description.
std::string DescribeHResult(HRESULT hr);

// Server side, inside a catch block: the failure code for the exception in
// flight (ComError: its code; std::system_error: its errno as a system error
// code; std::bad_alloc: E_OUTOFMEMORY; anything else: E_UNEXPECTED), with its
// message set as the thread's error info.
HRESULT HResultFromCurrentException(std::string_view source, REFIID iid);

// Runs body, which reports failures by throwing, as a server member must
// behave: no exception leaves. The result is S_OK (or what body returns, when
// it returns an HRESULT), or the failure code with error info.
template <class Body>
HRESULT SafeCall(std::string_view source, REFIID iid, Body&& body) noexcept {
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<Body>>) {
      std::forward<Body>(body)();
      return S_OK;
    } else {
      return std::forward<Body>(body)();
    }
  } catch (...) {
    return HResultFromCurrentException(source, iid);
  }
}

}  // namespace kv::platform
