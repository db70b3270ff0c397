#include "platform/netconnect.h"

#include <cerrno>
#include <vector>

#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/volumes.h"

namespace kv::platform {
namespace {

bool HoldsLineBreakOrNul(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos; }

bool RunConnectCommand(const Volume& share, const std::optional<NetCredentials>& credentials) {
  if (share.connectCommand.empty()) {
    SetLastError(EHOSTDOWN);
    return false;
  }
  std::optional<std::vector<std::string>> argv = ShellSplit(share.connectCommand);
  if (!argv || argv->empty()) {
    SetLastError(EINVAL);
    return false;
  }
  std::string input;
  if (credentials) {
    // One line each: a line break inside would shift what the command reads.
    if (HoldsLineBreakOrNul(credentials->user) || HoldsLineBreakOrNul(credentials->password)) {
      SetLastError(EINVAL);
      return false;
    }
    input = credentials->user + "\n" + credentials->password + "\n";
  }
  int status = SpawnWithInput(*argv, input);
  if (status != 0) {
    if (status > 0) SetLastError(EACCES);
    return false;
  }
  return true;
}

bool IsDriveLetterName(std::string_view name) {
  return name.size() == 2 && name[1] == ':' &&
         ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

// The share a volume serves: its own root, or for a letter the share it
// stands for.
std::string ShareNameOf(const Volume& v) { return v.remoteName.empty() ? v.root : v.remoteName; }

bool MapLetterToShare(VolumeTable& table, std::string_view localName, const Volume& share) {
  if (!IsDriveLetterName(localName)) {
    SetLastError(EINVAL);
    return false;
  }
  if (const Volume* existing = table.Find(localName)) {
    if (SameText(existing->remoteName, ShareNameOf(share))) return true;  // remembered already
    SetLastError(EEXIST);
    return false;
  }
  Volume letter;
  letter.root = UpperCaseAscii(localName);
  letter.folder = share.folder;
  letter.type = DriveType::Remote;
  letter.remoteName = ShareNameOf(share);
  letter.mustBeMounted = share.mustBeMounted;
  letter.connectCommand = share.connectCommand;
  table.Set(std::move(letter));
  return table.Save();  // a letter the registry did not take resolves nowhere
}

}  // namespace

bool AddNetConnection(std::string_view localName, std::string_view remoteName,
                      const std::optional<NetCredentials>& credentials) {
  VolumeTable table = VolumeTable::Load();
  const Volume* found = IsUncPath(remoteName) ? table.Lookup(remoteName) : nullptr;
  if (!found) {
    SetLastError(ENXIO);
    return false;
  }
  const Volume share = *found;  // a copy: Set below may move the entries
  if (!table.IsAvailable(remoteName)) {
    if (!RunConnectCommand(share, credentials)) return false;
    if (!table.IsAvailable(remoteName)) {
      SetLastError(EHOSTDOWN);
      return false;
    }
  }
  if (localName.empty()) return true;
  return MapLetterToShare(table, localName, share);
}

}  // namespace kv::platform
