#include "copyengine/server/registration.h"

#include <cerrno>

#include "copyengine/icopy.h"
#include "platform/com/comrt.h"
#include "platform/errors.h"
#include "platform/registry.h"

namespace kv {

using namespace platform;

namespace {

std::string ClassKey() { return "CLSID\\" + GuidToString(CLSID_CopyObj); }
std::string LibraryKey() { return "TypeLib\\" + GuidToString(LIBID_Kestro); }
std::string LibraryVersionKey() { return LibraryKey() + "\\" + kKestroLibVersion; }
std::string InterfaceKey() { return "Interface\\" + GuidToString(IID_ICopy); }

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string LocaleKey() {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x", kKestroLibLocale);
  return buf;
}

// Removes key with its subtree; a key that is not there counts as removed.
bool RemoveKey(Registry& registry, const std::string& key) {
  if (registry.DeleteKey(key)) return true;
  return GetLastError() == ENOENT && !registry.KeyExists(key);
}

bool IsEmptyKey(const Registry& registry, const std::string& key) {
  return registry.GetKeyNames(key).empty() && registry.GetValueNames(key).empty();
}

}  // namespace

std::vector<RegistryEntry> CopyServerEntries(const std::string& serverPath) {
  const std::string clsid = GuidToString(CLSID_CopyObj);
  const std::string libid = GuidToString(LIBID_Kestro);
  const std::string version = LibraryVersionKey();
  return {
      {ClassKey(), "", kCopyClassHelp},
      {ClassKey() + "\\ProgID", "", kCopyProgId},
      {ClassKey() + "\\Version", "", kKestroLibVersion},
      {ClassKey() + "\\TypeLib", "", libid},
      {kCopyProgId, "", kCopyClassHelp},
      {std::string(kCopyProgId) + "\\Clsid", "", clsid},
      {version, "", kKestroLibHelp},
      {version + "\\FLAGS", "", "0"},
      {version + "\\" + LocaleKey() + "\\win32", "", serverPath},
      {version + "\\HELPDIR", "", FolderOf(serverPath)},
      {InterfaceKey(), "", "ICopy"},
      {InterfaceKey() + "\\TypeLib", "", libid},
      {InterfaceKey() + "\\TypeLib", "Version", kKestroLibVersion},
      {InprocServerKey(CLSID_CopyObj), "ThreadingModel", "Apartment"},
      {InprocServerKey(CLSID_CopyObj), "", serverPath},
  };
}

std::vector<std::string> CopyServerKeys() { return {ClassKey(), kCopyProgId, InterfaceKey(), LibraryVersionKey()}; }

HRESULT RegisterCopyServer(const std::string& serverPath) {
  Registry registry(Hive::ClassesRoot);
  for (const RegistryEntry& entry : CopyServerEntries(serverPath)) {
    if (registry.WriteString(entry.key, entry.name, entry.value)) continue;
    UnregisterCopyServer();
    return E_FAIL;
  }
  return S_OK;
}

HRESULT UnregisterCopyServer() {
  Registry registry(Hive::ClassesRoot);
  bool removed = true;
  for (const std::string& key : CopyServerKeys()) removed = RemoveKey(registry, key) && removed;
  // Other versions of the library may still be registered below its key.
  if (registry.KeyExists(LibraryKey()) && IsEmptyKey(registry, LibraryKey())) {
    removed = RemoveKey(registry, LibraryKey()) && removed;
  }
  return removed ? S_OK : E_FAIL;
}

}  // namespace kv
