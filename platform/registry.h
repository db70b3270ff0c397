#pragma once
// A file-backed registry: one file per hive under
// $XDG_CONFIG_HOME/kestrovane/registry/ (KESTROVANE_REGISTRY_DIR overrides
// it). Key paths use "\" separators and compare case-insensitively, keeping
// their case. Values are strings or DWORDs; the empty name is the default
// value. Writes take an flock on the hive, write a temporary file and rename
// it into place; readers always see a whole file and re-read it when it
// changed, so another process's registration is seen at once. The file
// format is described in platform/hivetext.h.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {

enum class Hive { CurrentUser, LocalMachine, ClassesRoot };

class Registry {
 public:
  explicit Registry(Hive hive) : hive_(hive) {}

  // Key paths: leading, trailing and doubled "\" are ignored; "" is the hive's
  // root. Failures leave the reason in GetLastError() (ENOENT: no such key or
  // value; EINVAL: the root cannot be deleted).
  bool KeyExists(std::string_view key) const;
  bool CreateKey(std::string_view key);  // with parents; true when it exists afterwards
  // Removes the key with its subkeys and values; false when it is missing.
  bool DeleteKey(std::string_view key);
  std::vector<std::string> GetKeyNames(std::string_view key) const;    // direct subkeys, sorted
  std::vector<std::string> GetValueNames(std::string_view key) const;  // order of creation

  // nullopt when the value is missing or of the other type.
  std::optional<std::string> ReadString(std::string_view key, std::string_view name) const;
  std::optional<uint32_t> ReadDword(std::string_view key, std::string_view name) const;
  // Create the key when missing.
  bool WriteString(std::string_view key, std::string_view name, std::string_view value);
  bool WriteDword(std::string_view key, std::string_view name, uint32_t value);
  bool DeleteValue(std::string_view key, std::string_view name);

  // The folder the hive files live in (created on first write).
  static std::string Directory();
  // A value that changes whenever the hive's file does (one stat; 0 while
  // there is no file), for callers that cache what they read from a hive.
  static uint64_t ChangeStamp(Hive hive);
  // The hive's file, e.g. Directory() + "/HKEY_LOCAL_MACHINE.txt".
  static std::string FilePath(Hive hive);

 private:
  Hive hive_;
};

}  // namespace kv::platform
