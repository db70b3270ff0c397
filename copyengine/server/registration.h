#pragma once
// The registry entries of the server: the class CopyObj, its ProgID, the
// type library "Kestro" 4.0 and the interface ICopy, all below
// HKEY_CLASSES_ROOT.
#include <string>
#include <vector>

#include "platform/com/hresult.h"

namespace kv {

struct RegistryEntry {
  std::string key;
  std::string name;  // "" is the key's default value
  std::string value;
};

// What registration writes for the server file at serverPath, in writing
// order: the class becomes creatable only with the last entry.
std::vector<RegistryEntry> CopyServerEntries(const std::string& serverPath);
// The keys that registration owns, each removed with everything below it.
std::vector<std::string> CopyServerKeys();

// E_FAIL when a value cannot be written; what was written is removed again.
platform::HRESULT RegisterCopyServer(const std::string& serverPath);
// Removes the entries; missing ones are fine. E_FAIL when one stays.
platform::HRESULT UnregisterCopyServer();

}  // namespace kv
