#include "copyengine/jobrun.h"

#include <cerrno>
#include <utility>

#include "copyengine/filecopy.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace kv {

Outcome Combined(Outcome first, Outcome second) { return second.status == kPtkDone ? first : second; }

void TCurrentFolders::Enter(const std::string& folder1, const std::string& folder2, std::string root1,
                            std::string root2) {
  side1 = folder1;
  side2 = folder2;
  root1_ = std::move(root1);
  root2_ = std::move(root2);
  folder1_.Reset();
  folder2_.Reset();
}

const platform::TreeFolder* TCurrentFolders::Open(TJobRun& run, TSide side, bool create) {
  platform::TreeFolder& folder = side == TSide::k1 ? folder1_ : folder2_;
  if (folder.IsOpen()) return &folder;
  const std::string& root = side == TSide::k1 ? root1_ : root2_;
  const std::optional<std::string> rel = PathBelowRoot(Path(side), root);
  if (!rel) {
    platform::SetLastError(EINVAL);
    return nullptr;
  }
  const platform::TreeFolder* top = run.Root(root, create);
  if (!top) return nullptr;
  folder = top->OpenFolder(*rel, create);
  return folder.IsOpen() ? &folder : nullptr;
}

namespace {

Outcome NotDeleted(int err) {
  return {kPtkError, std::string(kMsgFoldersNotDeleted) + " " + platform::SysErrorMessage(err)};
}

// Nothing there (or something that is no folder): nothing to remove.
bool NothingThere(int err) { return err == ENOENT || err == ENOTDIR; }

}  // namespace

Outcome TCurrentFolders::RemoveFolder(TJobRun& run, TSide side) {
  const Outcome removed{kPtkDone, std::string(kMsgFoldersDeleted)};
  platform::TreeFolder& folder = side == TSide::k1 ? folder1_ : folder2_;
  if (!Open(run, side, false)) {
    const int err = platform::GetLastError();
    return NothingThere(err) ? removed : NotDeleted(err);
  }
  (void)folder.ClearOwnReadOnly();
  folder.Reset();
  const std::string& root = side == TSide::k1 ? root1_ : root2_;
  const std::string rel = PathBelowRoot(Path(side), root).value_or("");
  // The root itself is removed by its name, as the pair names it.
  if (rel.empty()) {
    if (platform::RemoveDir(root)) return removed;
    return NothingThere(platform::GetLastError()) ? removed : NotDeleted(platform::GetLastError());
  }
  const std::string parentRel = platform::ExtractFilePath(platform::ExcludeTrailingBackslash(rel));
  const std::string name = platform::ExtractFileName(platform::ExcludeTrailingBackslash(rel));
  const platform::TreeFolder* top = run.Root(root, false);
  const platform::TreeFolder parent = top ? top->OpenFolder(parentRel, false) : platform::TreeFolder();
  if (!parent.IsOpen() || !parent.RemoveFolder(name)) {
    const int err = platform::GetLastError();
    return NothingThere(err) ? removed : NotDeleted(err);
  }
  return removed;
}

TCopyFtp& TJobRun::Ftp() {
  if (!ftp) ftp = std::make_unique<TCopyFtp>(ftpStates, files.ftpLogFolder);
  return *ftp;
}

const platform::TreeFolder* TJobRun::Root(const std::string& root, bool create) {
  auto it = roots.find(root);
  if (it != roots.end()) return &it->second;
  platform::TreeFolder folder = platform::TreeFolder::OpenRoot(root, create);
  if (!folder.IsOpen()) return nullptr;
  return &roots.emplace(root, std::move(folder)).first->second;
}

void SetOutcome(TPtkItem& record, Outcome outcome) {
  record.status = outcome.status;
  record.message = std::move(outcome.message);
}

std::optional<uint64_t> TJobRun::WriteRecord(const TPtkItem& record) {
  if (!files.protocol) return std::nullopt;
  return files.protocol->Append(record);
}

void TJobRun::RewriteRecord(std::optional<uint64_t> position, const Outcome& outcome) {
  if (files.protocol && position) files.protocol->Rewrite(*position, outcome.status, outcome.message);
}

void TJobRun::WriteOutcome(TPtkItem& record, Outcome outcome) {
  SetOutcome(record, std::move(outcome));
  WriteRecord(record);
}

void TJobRun::WriteFailure(TPtkItem& record, std::string_view message) {
  WriteOutcome(record, {kPtkError, std::string(message)});
}

void TJobRun::ShowPaths(std::string_view side1, std::string_view side2) {
  ShortenPathLabel(*window, CopyLabel::tlSrc, side1);
  ShortenPathLabel(*window, CopyLabel::tlDest, side2);
}

void TJobRun::AddBytesDone(int64_t bytes) {
  bytesDone = AddSizes(bytesDone, bytes);
  window->SetBarPosition(CopyBar::pgAll, static_cast<int32_t>(bytesDone / overallDivisor));
}

}  // namespace kv
