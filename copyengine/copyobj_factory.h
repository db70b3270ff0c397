#pragma once
// The seam between the server library (copyengine/server) and the copy
// object: the server's class factory calls these, the copy object's unit
// implements them.
#include <cstdint>

#include "platform/com/unknown.h"

namespace kv {

// Makes a new CopyObj and hands out its interface iid with one reference in
// *object (nullptr and the failure code otherwise, E_NOINTERFACE for an
// interface it does not offer). Never throws.
platform::HRESULT CreateCopyObj(platform::REFIID iid, void** object);
// CopyObj instances alive in this module, for DllCanUnloadNow.
int32_t LiveCopyObjCount();

}  // namespace kv
