#pragma once
// Shared libraries loaded while the program runs, and the hooks that must run
// before one of them goes away. A process-wide list that holds classes (or
// other code and data) defined in a library installs a hook and drops what
// that library defined while it is still mapped, so nothing is left pointing
// into unmapped memory.
#include <string>
#include <string_view>

namespace kv::platform {

// One loaded object (the program itself or a shared library), valid while it
// stays loaded; nullptr stands for none.
using ModuleHandle = const void*;
using ModuleUnloadHook = void (*)(ModuleHandle module);

// A hook added twice runs twice; removing takes away one of its entries.
// Hooks run in the order they were added, on the thread that unloads.
void AddModuleUnloadHook(ModuleUnloadHook hook);
void RemoveModuleUnloadHook(ModuleUnloadHook hook);

// The loaded object whose code or data holds address; nullptr when none does.
ModuleHandle ModuleOfAddress(const void* address);

// Loads a shared library given by its Windows path, resolving every symbol at
// once and keeping them local to it. Loading it again gives the same handle
// and needs one more UnloadModule. nullptr on failure, with the loader's
// message in error when asked for.
ModuleHandle LoadModule(std::string_view path, std::string* error = nullptr);

// Undoes one LoadModule. The last one runs every unload hook with the module
// and then unmaps it. False when the module was not loaded through LoadModule.
bool UnloadModule(ModuleHandle module);

}  // namespace kv::platform
