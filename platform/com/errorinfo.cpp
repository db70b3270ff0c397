#include "platform/com/errorinfo.h"

#include <cstdio>
#include <new>
#include <system_error>

namespace kv::platform {

namespace {

thread_local std::optional<ErrorInfo> t_errorInfo;

struct CodeAndText {
  HRESULT code;
  std::string text;
};

CodeAndText DescribeCurrentException() {
  try {
    throw;
  } catch (const ComError& e) {
    // A "failure" with a success code would reach the client as success.
    return {FAILED(e.Code()) ? e.Code() : E_UNEXPECTED, e.what()};
  } catch (const std::system_error& e) {
    const std::error_category& cat = e.code().category();
    bool isErrno = cat == std::generic_category() || cat == std::system_category();
    return {isErrno ? HResultFromErrno(e.code().value()) : E_FAIL, e.what()};
  } catch (const std::bad_alloc& e) {
    return {E_OUTOFMEMORY, e.what()};
  } catch (const std::exception& e) {
    return {E_UNEXPECTED, e.what()};
  } catch (...) {
    return {E_UNEXPECTED, "Unbekannte Ausnahme"};
  }
}

}  // namespace

void SetErrorInfo(ErrorInfo info) { t_errorInfo = std::move(info); }

std::optional<ErrorInfo> GetErrorInfo() { return std::exchange(t_errorInfo, std::nullopt); }

void ClearErrorInfo() { t_errorInfo.reset(); }

ComError::ComError(HRESULT code, const std::string& description, std::string source)
    : std::runtime_error(description), code_(code), source_(std::move(source)) {}

std::string DescribeHResult(HRESULT hr) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "Komponentenfehler 0x%08X", static_cast<uint32_t>(hr));
  return buf;
}

void CheckHResult(HRESULT hr) {
  if (SUCCEEDED(hr)) return;
  std::optional<ErrorInfo> info = GetErrorInfo();
  if (!info || info->description.empty()) {
    throw ComError(hr, DescribeHResult(hr), info ? info->source : std::string());
  }
  throw ComError(hr, info->description, info->source);
}

HRESULT HResultFromCurrentException(std::string_view source, REFIID iid) {
  try {
    CodeAndText failure = DescribeCurrentException();
    SetErrorInfo({iid, std::string(source), std::move(failure.text)});
    return failure.code;
  } catch (...) {
    // Not even the description could be kept.
    return E_OUTOFMEMORY;
  }
}

}  // namespace kv::platform
