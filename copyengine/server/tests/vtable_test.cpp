// The binary layout of ICopy: the scheduler and the server meet only at the
// vtable, so the slot of every member is checked by calling through a raw
// table of function pointers, as a client built elsewhere would.
#include <gtest/gtest.h>

#include <string>

#include "copyengine/icopy.h"

namespace kv {
namespace {

using namespace platform;

// Records which member ran and with which argument.
class RecordingCopy final : public ICopy {
 public:
  std::string member;
  std::string argument;

  HRESULT QueryInterface(REFIID, void**) override { return Note("QueryInterface"); }
  ULONG AddRef() override { return Note("AddRef"), 1; }
  ULONG Release() override { return Note("Release"), 1; }
  HRESULT GetTypeInfoCount(UINT*) override { return Note("GetTypeInfoCount"); }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Note("GetTypeInfo"); }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return Note("GetIDsOfNames"); }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return Note("Invoke");
  }
  HRESULT Set_SrcFile(const char* v) override { return Note("SrcFile", v); }
  HRESULT CopyFiles() override { return Note("CopyFiles"); }
  HRESULT Set_OSFile(const char* v) override { return Note("OSFile", v); }
  HRESULT Set_Manuell(VARIANT_BOOL v) override { return Note("Manuell", v); }
  HRESULT Set_Binary(VARIANT_BOOL v) override { return Note("Binary", v); }
  HRESULT Set_Hidden(VARIANT_BOOL v) override { return Note("Hidden", v); }
  HRESULT Set_Minimized(VARIANT_BOOL v) override { return Note("Minimized", v); }
  HRESULT Set_MainFile(const char* v) override { return Note("MainFile", v); }
  HRESULT Set_MailAdress(const char* v) override { return Note("MailAdress", v); }
  HRESULT Set_NTFSAccess(VARIANT_BOOL v) override { return Note("NTFSAccess", v); }
  HRESULT Set_SecurityRename(VARIANT_BOOL v) override { return Note("SecurityRename", v); }
  HRESULT Set_ExtLog(const char* v) override { return Note("ExtLog", v); }
  HRESULT Set_ExtAppend(VARIANT_BOOL v) override { return Note("ExtAppend", v); }
  HRESULT Set_ExtErr(VARIANT_BOOL v) override { return Note("ExtErr", v); }
  HRESULT Set_ExtDone(VARIANT_BOOL v) override { return Note("ExtDone", v); }
  HRESULT Set_ExtTrenn(const char* v) override { return Note("ExtTrenn", v); }
  HRESULT Set_DelSchredder(int32_t v) override { return Note("DelSchredder", v); }
  HRESULT Set_PtkFile(const char* v) override { return Note("PtkFile", v); }
  HRESULT Set_ArchivSchredder(VARIANT_BOOL v) override { return Note("ArchivSchredder", v); }
  HRESULT Set_AnalyseTime(const char* v) override { return Note("AnalyseTime", v); }

 private:
  HRESULT Note(const char* name, const char* value = "") {
    member = name;
    argument = value;
    return S_OK;
  }
  HRESULT Note(const char* name, int32_t value) { return Note(name, std::to_string(value).c_str()); }
};

enum class Arg { None, Text, Bool, Long };

struct Slot {
  const char* member;
  Arg arg;
};

// Slot order of ICopy after IUnknown (3) and IDispatch (4).
const Slot kSlots[] = {
    {"SrcFile", Arg::Text},        {"CopyFiles", Arg::None},       {"OSFile", Arg::Text},
    {"Manuell", Arg::Bool},        {"Binary", Arg::Bool},          {"Hidden", Arg::Bool},
    {"Minimized", Arg::Bool},      {"MainFile", Arg::Text},        {"MailAdress", Arg::Text},
    {"NTFSAccess", Arg::Bool},     {"SecurityRename", Arg::Bool},  {"ExtLog", Arg::Text},
    {"ExtAppend", Arg::Bool},      {"ExtErr", Arg::Bool},          {"ExtDone", Arg::Bool},
    {"ExtTrenn", Arg::Text},       {"DelSchredder", Arg::Long},    {"PtkFile", Arg::Text},
    {"ArchivSchredder", Arg::Bool}, {"AnalyseTime", Arg::Text},
};

using NoArgFn = HRESULT (*)(void*);
using TextFn = HRESULT (*)(void*, const char*);
using BoolFn = HRESULT (*)(void*, VARIANT_BOOL);
using LongFn = HRESULT (*)(void*, int32_t);

// The Itanium ABI: the object starts with a pointer to its table of
// function pointers; a member is called with the object as first argument.
void* const* TableOf(ICopy* copy) { return *reinterpret_cast<void* const* const*>(copy); }

TEST(ICopyLayout, EverySlotCallsItsMember) {
  RecordingCopy recorder;
  ICopy* copy = &recorder;
  void* const* table = TableOf(copy);
  const char* base[] = {"QueryInterface", "AddRef", "Release", "GetTypeInfoCount", "GetTypeInfo", "GetIDsOfNames",
                        "Invoke"};
  for (int i = 0; i < 7; ++i) {
    recorder.member.clear();
    reinterpret_cast<NoArgFn>(table[i])(copy);  // the other arguments are not looked at
    EXPECT_EQ(recorder.member, base[i]) << "slot " << i;
  }
  for (size_t i = 0; i < std::size(kSlots); ++i) {
    const Slot& slot = kSlots[i];
    void* fn = table[7 + i];
    std::string text = std::string("Wert ") + slot.member;
    std::string expected;
    recorder.member.clear();
    switch (slot.arg) {
      case Arg::None: reinterpret_cast<NoArgFn>(fn)(copy); break;
      case Arg::Text: reinterpret_cast<TextFn>(fn)(copy, text.c_str()), expected = text; break;
      case Arg::Bool: reinterpret_cast<BoolFn>(fn)(copy, VARIANT_TRUE), expected = "-1"; break;
      case Arg::Long: reinterpret_cast<LongFn>(fn)(copy, -123456789), expected = "-123456789"; break;
    }
    EXPECT_EQ(recorder.member, slot.member) << "slot " << 7 + i;
    EXPECT_EQ(recorder.argument, expected) << slot.member;
  }
}

}  // namespace
}  // namespace kv
