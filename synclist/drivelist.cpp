#include "synclist/drivelist.h"

#include <optional>
#include <stdexcept>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/inifile.h"
#include "platform/netconnect.h"
#include "platform/paths.h"
#include "platform/privatefile.h"
#include "platform/text.h"
#include "platform/volumes.h"

namespace kv {
namespace {

using platform::DriveType;

constexpr const char* kKeyName = "Name";
constexpr const char* kKeyUncName = "UNCName";
constexpr const char* kKeyKind = "Kind";
constexpr const char* kKeyUser = "USR";
constexpr const char* kKeyPassword = "PWD";
constexpr const char* kKeyActive = "Active";

bool StartsWithUnc(std::string_view s) { return s.size() >= 2 && s[0] == '\\' && s[1] == '\\'; }

// A drive counts as there when the volume table finds it available (a drive
// that must be mounted and is not stands for a vanished disk or share, however
// its empty folder looks) and its root is a folder.
bool RootAvailable(std::string_view root) {
  return platform::CurrentVolumes()->IsAvailable(root) && platform::DirectoryExists(root);
}

std::string ActiveText(bool active) { return active ? "1" : "0"; }

int KindOfDriveType(DriveType type, bool hasCredentials) {
  switch (type) {
    case DriveType::Unknown:
    case DriveType::NoRootDir:
      return hasCredentials ? kDriveKindNetworkLetter : kDriveKindLocal;
    case DriveType::Remote:
      return kDriveKindNetworkLetter;
    default:
      return kDriveKindLocal;
  }
}

// The network name a drive letter stands for, also while it is not
// connected; nullopt for a local letter.
std::optional<std::string> RemoteNameOf(std::string_view root) {
  std::string remote = platform::CurrentVolumes()->RemoteName(root);
  if (remote.empty()) return std::nullopt;
  return remote;
}

std::string DropTrailingBackslash(std::string_view s) {
  if (!s.empty() && s.back() == '\\') s.remove_suffix(1);
  return std::string(s);
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

// INI values are trimmed and lose one pair of surrounding quotes when read:
// a value that would change so is written inside quotes. A line break cannot
// be stored in a line at all (it would start keys of its own); such a value
// is left empty.
std::string IniValue(std::string_view s) {
  if (s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) return {};
  if (s.empty()) return {};
  const bool changedByReading = static_cast<unsigned char>(s.front()) <= 0x20 ||
                                static_cast<unsigned char>(s.back()) <= 0x20 || IsQuote(s.front()) || IsQuote(s.back());
  if (!changedByReading) return std::string(s);
  return "\"" + std::string(s) + "\"";
}

}  // namespace

std::string DriveRootOf(std::string_view path) {
  if (path.empty()) return {};
  if (path[0] != '\\' && !(path.size() >= 2 && path[1] == ':')) return {};
  std::string drive = platform::ExtractFileDrive(path);
  if (drive.empty()) return {};
  return platform::LowerCase(drive + "\\");
}

void TDriveList::Append(std::string name, std::string uncName, int kind, std::string user, std::string password,
                        bool active) {
  names_.push_back(std::move(name));
  uncNames_.push_back(std::move(uncName));
  kinds_.push_back(std::to_string(kind));
  users_.push_back(std::move(user));
  passwords_.push_back(std::move(password));
  actives_.push_back(ActiveText(active));
}

void TDriveList::AddPath(std::string_view path, std::string_view shareName, std::string_view user,
                         std::string_view password) {
  if (path.substr(0, 3) == "ftp") return;
  std::string root = DriveRootOf(path);
  if (root.empty() || IndexOf(root) >= 0) return;
  int kind = kDriveKindNetworkShare;
  if (!StartsWithUnc(root)) {
    const bool hasCredentials = !shareName.empty() && !user.empty() && !password.empty();
    kind = KindOfDriveType(platform::CurrentVolumes()->GetDriveType(root), hasCredentials);
  }
  if (kind == kDriveKindLocal) {
    bool active = RootAvailable(root);
    Append(std::move(root), {}, kind, {}, {}, active);
    return;
  }
  bool active = RootAvailable(root) || Connect(root, shareName, user, password);
  Append(std::move(root), std::string(shareName), kind, std::string(user), std::string(password), active);
}

void TDriveList::AddDrive(const TDriveEntry& entry) {
  const std::string& path = entry.name;
  if (IndexOf(path) >= 0 || platform::SameTextAscii(path.substr(0, 3), "ftp")) return;
  std::string root = DriveRootOf(path);
  if (root.empty()) return;
  const bool active = RootAvailable(root);
  if (root[0] == '\\') {
    std::string unc = root;
    Append(std::move(root), std::move(unc), kDriveKindNetworkShare, entry.user, entry.password, active);
    return;
  }
  std::optional<std::string> remote = RemoteNameOf(root);
  if (remote || platform::CurrentVolumes()->GetDriveType(root) == DriveType::NoRootDir) {
    std::string unc = remote ? platform::LowerCase(platform::IncludeTrailingBackslash(*remote)) : std::string();
    Append(std::move(root), std::move(unc), kDriveKindNetworkLetter, entry.user, entry.password, active);
    return;
  }
  Append(std::move(root), {}, kDriveKindLocal, entry.user, entry.password, active);
}

void TDriveList::AddPathOnly(std::string_view path) {
  TDriveEntry entry;
  entry.name = std::string(path);
  AddDrive(entry);
}

int TDriveList::IndexOf(std::string_view path) const {
  std::string root = DriveRootOf(path);
  if (root.empty()) return -1;
  for (size_t i = 0; i < names_.size(); ++i) {
    if (platform::SameText(names_[i], root)) return static_cast<int>(i);
  }
  return -1;
}

bool TDriveList::IsAvailable(std::string_view path, bool ftpResult) {
  if (platform::SameTextAscii(path.substr(0, 4), "ftp:")) return ftpResult;
  int row = IndexOf(path);
  if (row < 0) {
    AddPathOnly(path);
    row = IndexOf(path);
  }
  // A path that names no drive has no row: nothing there to reach.
  if (row < 0) return false;
  return actives_[static_cast<size_t>(row)] == "1";
}

bool TDriveList::Connect(std::string_view root, std::string_view shareName, std::string_view user,
                         std::string_view password) {
  std::string local = DropTrailingBackslash(root);
  if (!(local.size() >= 2 && local[1] == ':')) local.clear();
  std::string remote = DropTrailingBackslash(shareName);
  if (platform::AddNetConnection(local, remote, std::nullopt)) return true;
  return platform::AddNetConnection(local, remote, platform::NetCredentials{std::string(user), std::string(password)});
}

std::string TDriveList::SaveToTempFile() const {
  std::string fileName = platform::CreatePrivateTempFile("kv");
  if (fileName.empty()) {
    throw std::runtime_error("Die Laufwerkstabelle kann nicht angelegt werden: " +
                             platform::SysErrorMessage(platform::GetLastError()));
  }
  platform::IniFile ini(fileName);
  bool ok = true;
  for (size_t i = 0; i < names_.size() && ok; ++i) {
    const std::string section = std::to_string(i);
    ok = ini.WriteString(section, kKeyName, IniValue(names_[i])) &&
         ini.WriteString(section, kKeyUncName, IniValue(uncNames_[i])) &&
         ini.WriteInteger(section, kKeyKind, platform::StrToIntDef(kinds_[i], 0)) &&
         ini.WriteString(section, kKeyUser, IniValue(users_[i])) &&
         ini.WriteString(section, kKeyPassword, IniValue(passwords_[i])) &&
         ini.WriteBool(section, kKeyActive, actives_[i] == "1");
  }
  // The file holds passwords: whatever the writes left, only its owner reads it.
  ok = platform::RestrictToOwner(fileName) && ok;
  if (!ok) {
    int err = platform::GetLastError();
    platform::DeleteFile(fileName);
    throw std::runtime_error("Die Laufwerkstabelle \"" + fileName +
                             "\" kann nicht geschrieben werden: " + platform::SysErrorMessage(err));
  }
  return fileName;
}

void TDriveList::LoadFromFile(std::string_view fileName) {
  Clear();
  platform::IniFile ini{std::string(fileName)};
  for (int i = 0;; ++i) {
    const std::string section = std::to_string(i);
    if (!ini.SectionExists(section)) break;
    Append(ini.ReadString(section, kKeyName, ""), ini.ReadString(section, kKeyUncName, ""),
           ini.ReadInteger(section, kKeyKind, 0), ini.ReadString(section, kKeyUser, ""),
           ini.ReadString(section, kKeyPassword, ""), ini.ReadBool(section, kKeyActive, false));
  }
}

TDriveEntry TDriveList::GetEntry(int index) const {
  if (index < 0 || index >= Count()) {
    throw std::out_of_range("Laufwerkstabelle: Zeile " + std::to_string(index) + " gibt es nicht");
  }
  const size_t i = static_cast<size_t>(index);
  return {names_[i], uncNames_[i], platform::StrToIntDef(kinds_[i], 0), users_[i], passwords_[i], actives_[i] == "1"};
}

void TDriveList::Clear() {
  names_.clear();
  uncNames_.clear();
  kinds_.clear();
  users_.clear();
  passwords_.clear();
  actives_.clear();
}

}  // namespace kv
