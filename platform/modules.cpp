#include "platform/modules.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/errors.h"
#include "platform/volumes.h"

namespace kv::platform {

namespace {

struct LoadedLibrary {
  void* handle = nullptr;  // what dlopen gave, for dlclose
  int loads = 0;
};

// Never destroyed: a library may be unloaded while static objects go away.
struct ModuleState {
  std::mutex mutex;
  std::vector<ModuleUnloadHook> hooks;
  std::map<ModuleHandle, LoadedLibrary> libraries;
};

ModuleState& State() {
  static ModuleState* state = new ModuleState;
  return *state;
}

std::string LoaderMessage() {
  const char* message = dlerror();
  return message ? message : "unknown loader error";
}

}  // namespace

void AddModuleUnloadHook(ModuleUnloadHook hook) {
  if (!hook) return;
  ModuleState& state = State();
  std::lock_guard lock(state.mutex);
  state.hooks.push_back(hook);
}

void RemoveModuleUnloadHook(ModuleUnloadHook hook) {
  ModuleState& state = State();
  std::lock_guard lock(state.mutex);
  auto it = std::find(state.hooks.begin(), state.hooks.end(), hook);
  if (it != state.hooks.end()) state.hooks.erase(it);
}

ModuleHandle ModuleOfAddress(const void* address) {
  Dl_info info;
  struct link_map* map = nullptr;
  if (!address || dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) return nullptr;
  return map;
}

ModuleHandle LoadModule(std::string_view path, std::string* error) {
  std::optional<std::string> posix = ResolvePath(path);
  if (!posix) {
    if (error) *error = SysErrorMessage(GetLastError());
    return nullptr;
  }
  // The library's initialisers may register classes through code that adds
  // hooks: no lock is held while it loads.
  void* handle = dlopen(posix->c_str(), RTLD_NOW | RTLD_LOCAL);
  struct link_map* map = nullptr;
  if (handle && dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0) {
    dlclose(handle);
    handle = nullptr;
  }
  if (!handle) {
    if (error) *error = LoaderMessage();
    SetLastError(ELIBBAD);
    return nullptr;
  }
  ModuleState& state = State();
  std::lock_guard lock(state.mutex);
  LoadedLibrary& library = state.libraries[map];
  // A second dlopen of one file gives the same handle; the loader counts it
  // too, so every load is matched by one dlclose.
  library.handle = handle;
  ++library.loads;
  return map;
}

bool UnloadModule(ModuleHandle module) {
  ModuleState& state = State();
  std::vector<ModuleUnloadHook> hooks;
  void* handle = nullptr;
  {
    std::lock_guard lock(state.mutex);
    auto it = state.libraries.find(module);
    if (it == state.libraries.end()) {
      SetLastError(EINVAL);
      return false;
    }
    handle = it->second.handle;
    if (--it->second.loads == 0) {
      state.libraries.erase(it);
      hooks = state.hooks;
    }
  }
  // The hooks may take the lock themselves (to remove a hook, say).
  for (ModuleUnloadHook hook : hooks) hook(module);
  dlclose(handle);
  return true;
}

}  // namespace kv::platform
