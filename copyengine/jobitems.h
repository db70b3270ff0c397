#pragma once
// The job file of a run as items: read one at a time in file order (the run
// keeps its place in it), the block of a folder looked through ahead, and
// the one pass over the whole job before the loop.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/filestream.h"
#include "shared/syncitem.h"

namespace kv {

// Folder items carry the folder codes 8, 9 and 10; file items 1 to 7 and 13
// to 15. Anything else is no item this engine knows.
bool IsFileItem(const TSyncItem& item);
bool IsFolderItem(const TSyncItem& item);
// Actions 1 to 4; 0 and anything above 4 are passed over.
bool HasAction(uint8_t action);
// The bytes a copy of the item moves: the size of the side it comes from;
// nothing for an item without a direction or with a negative size.
int64_t CopySizeOf(const TSyncItem& item);
// a + b for byte counts of at least 0, held at the largest value instead of
// overflowing (a job file may state any size).
int64_t AddSizes(int64_t a, int64_t b);

class TJobItems {
 public:
  // job: open for reading; path names it in errors.
  TJobItems(platform::FileStream& job, const std::string& path) : job_(job), path_(path) {}

  // Counts the whole items; returns the bytes of a torn item at the end
  // (0 when there is none), which no read ever reaches.
  uint64_t CountItems();
  int64_t Count() const { return count_; }
  // 1-based number of the item being handled; 0 before the first.
  int64_t Index() const { return index_; }

  // The next item, which becomes the one being handled; none at the end.
  std::optional<TSyncItem> Next();
  // The next item when it still belongs to the current folder (anything up
  // to the next folder item, which is left for Next).
  std::optional<TSyncItem> NextItemOfFolder();
  // Whether the current folder holds a file item to be copied; the place
  // stays.
  bool HasFolderContent();
  // Whether any item of the current folder asks for something; the place
  // stays.
  bool FolderHasAction();

  // The sum, over the file items to be copied, of what each copy moves.
  int64_t GetCopySize();

  // JobFileError naming the job file and the system's error.
  [[noreturn]] void ThrowReadError() const;

 private:
  TSyncItem Read(int64_t index);
  template <typename Pred>
  bool FolderHasItem(Pred pred);

  platform::FileStream& job_;
  const std::string& path_;
  int64_t count_ = 0;
  int64_t index_ = 0;
};

}  // namespace kv
