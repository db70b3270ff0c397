#pragma once
// The component runtime: per-thread initialisation and creation of objects
// of in-process servers. It lives in the shared library kv_comrt, together
// with the rest of the platform layer, so that the program and every server
// library it loads share one copy of the per-thread state, the registry code
// and the loaded-library table.
//
// Creation reads the server's path from
// "HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32" (default value) on every
// call, so a registration made meanwhile by another process counts at once.
// A server library is loaded once per process and path (RTLD_NOW |
// RTLD_LOCAL) and never unloaded: objects and code of it may still be alive
// anywhere in the process.
#include <string>

#include "platform/com/unknown.h"

namespace kv::platform {

inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

// Counted per thread: the first call on a thread gives S_OK, every further
// one S_FALSE; asking for the other model than the thread has gives
// RPC_E_CHANGED_MODE and counts nothing. Every call that succeeded (S_OK or
// S_FALSE) is balanced by one CoUninitialize.
HRESULT CoInitialize(void* reserved);  // apartment-threaded
HRESULT CoInitializeEx(void* reserved, DWORD model);
// One fewer; at zero the thread is no longer initialised. Extra calls do
// nothing.
void CoUninitialize();
bool CoIsInitialized();  // on the calling thread

// *object := nullptr first. CO_E_NOTINITIALIZED on a thread that has not
// called CoInitialize(Ex); REGDB_E_CLASSNOTREG when the class has no
// in-process server registered (or the context excludes in-process
// servers); CO_E_DLLNOTFOUND when the library does not load;
// CO_E_ERRORINDLL when it lacks DllGetClassObject; otherwise what the
// server's factory returns. A failure leaves a description in the thread's
// error info (platform/com/errorinfo.h).
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);
// The class factory of a registered in-process server.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID iid, void** object);

// "CLSID\{...}\InprocServer32" below HKEY_CLASSES_ROOT, for servers that
// register themselves.
std::string InprocServerKey(REFCLSID clsid);

}  // namespace kv::platform
