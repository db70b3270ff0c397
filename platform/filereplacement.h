#pragma once
// New content for a file, written through a stream and put under the file's
// name only when it is complete. Until Commit the target stays as it was; a
// replacement that is discarded (or destroyed uncommitted) leaves nothing
// behind. The content is written to a temporary file of the system's own
// beside the target (IsSystemTempName: created exclusively, mode 0666 less
// the umask, locked while it is written), so that the leftover of a killed
// process is never taken for data, is left out of the scans and is removed
// by the next clean-up of its folder.
#include <string>
#include <string_view>

#include "platform/filestream.h"
#include "platform/treefolder.h"

namespace kv::platform {

class FileReplacement {
 public:
  FileReplacement() = default;
  ~FileReplacement() { Discard(); }
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Creates the temporary file beside target (a Windows path) and opens it
  // for reading and writing; false with the reason in GetLastError().
  [[nodiscard]] bool Begin(std::string_view target);
  FileStream& Stream() { return stream_; }
  const FileStream& Stream() const { return stream_; }

  // Closes the stream (synced first when a file is replaced), gives the new
  // file the permission bits and owner of the file it replaces, and renames
  // it over the target. A file renamed over keeps no hard links, and a link
  // at the target's name is replaced, not written through. On failure the
  // temporary file is removed and the target is unchanged.
  [[nodiscard]] bool Commit();
  // Closes and removes the temporary file; nothing happens after Commit.
  void Discard();

 private:
  TreeFolder folder_;      // the target's folder
  std::string name_;       // the target's name in it
  std::string temporary_;  // empty when nothing is pending
  FileStream stream_;
};

}  // namespace kv::platform
