#include "synclist/kestronize.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/files.h"
#include "platform/text.h"
#include "platform/paths.h"
#include "platform/time.h"
#include "platform/ui/jobstop.h"
#include "platform/ui/pathfit.h"
#include "platform/ui/question.h"
#include "platform/ui/viewfactory.h"
#include "synclist/abort.h"
#include "synclist/dirtree.h"

namespace kv {
namespace {

namespace ui = platform::ui;

// Once per process, though the model library may be linked into several of
// its binaries.
constexpr ui::ViewFactorySlot<KestronizeViewFactory> kViewFactory{"kv.synclist.TtfKestronize"};

// A folder on both sides gives a row only when file rows follow it.
const std::initializer_list<int> kSkipEmptyFolderStates = {kStateFolderOnBothSides};

std::string IssueText(const TScanIssue& issue, const std::string& sideRoot) {
  const std::string path = sideRoot + issue.key + issue.name;
  switch (issue.kind) {
    case TScanIssueKind::UnlistableFolder:
      return "Ordner nicht lesbar, übergangen: " + path + " (" + issue.error + ")";
    case TScanIssueKind::CaseCollision:
      return "Name nur durch Groß-/Kleinschreibung unterschieden, übergangen: " + path;
    case TScanIssueKind::FolderLink:
      return "Verknüpfung auf einen Ordner, übergangen: " + path;
    case TScanIssueKind::UnnamableName:
      return "Name mit \"\\\" nicht verwendbar, übergangen: " + path;
    case TScanIssueKind::BrokenLink:
      return "Verknüpfung ohne Ziel, übergangen: " + path;
    case TScanIssueKind::PathTooLong:
      return "Pfad länger als 255 Zeichen, übergangen: " + path;
  }
  return "Übergangen: " + path;
}

}  // namespace

KestronizeViewFactory SetKestronizeViewFactory(KestronizeViewFactory factory) {
  return kViewFactory.Exchange(std::move(factory));
}

std::string ElapsedText(uint64_t milliseconds) {
  const uint64_t seconds = milliseconds / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu", static_cast<unsigned long long>(seconds / 3600),
                static_cast<unsigned long long>(seconds / 60 % 60), static_cast<unsigned long long>(seconds % 60));
  return text;
}

TtfKestronize::TtfKestronize(bool hidden)
    : startTick_(platform::TickCount64()),
      abortFlag_(std::make_shared<ui::CancelFlag>()),
      channel_(TKestronizeChannel::Create()),
      hidden_(hidden) {
  if (hidden_) return;
  if (KestronizeViewFactory factory = kViewFactory.Get()) view_ = factory({Ref(), channel_, abortFlag_});
}

TtfKestronize::~TtfKestronize() = default;

void TtfKestronize::SetRoots(std::string_view sourceRoot, std::string_view destinationRoot) {
  storedSourceRoot_ = sourceRoot;
  storedDestinationRoot_ = destinationRoot;
  sourceRoot_ = platform::IncludeTrailingBackslash(sourceRoot);
  destinationRoot_ = platform::IncludeTrailingBackslash(destinationRoot);
}

void TtfKestronize::Show(bool minimize) {
  if (hidden_) return;
  snapshot_.visible = true;
  snapshot_.minimized = minimize;
  Publish();
}

void TtfKestronize::SetStepText(std::string text) {
  stepText_ = std::move(text);
  snapshot_.statusText = "Aktueller Prozeß: " + stepText_;
  Publish();
}

std::string TtfKestronize::StatusPathText() const {
  if (snapshot_.currentFolder.empty()) return {};
  return "Aktueller Pfad: " +
         ui::MinimizeNameChars(snapshot_.currentFolder, kKestronizePathWidth / ui::kHeadlessCharWidth);
}

void TtfKestronize::Publish() { channel_->Publish(snapshot_); }

// --- Per-pair runner -----------------------------------------------------------

void TtfKestronize::sbAbgleichClick() {
  destinationEntriesSeen_ = 0;
  snapshot_.abortEnabled = true;
  pairList_.reset();

  SetStepText("Suchen der Dateien");
  pairList_ = std::make_unique<TSyncListe>([this](TSyncListe& list) { ListProgress(list); });
  pairList_->SetRoots(sourceRoot_, destinationRoot_);

  TDirTree tree;
  tree.SetMasks(includeMasks, excludeFileMasks, excludeFolderMasks);
  tree.SetFolderKind(folderRowKind);
  tree.progress = [this](TDirTree& t) { TreeProgress(t); };
  tree.dropEqualFiles = true;
  tree.twoSecondTolerance = twoSecondTolerance;
  tree.recurse = recurse;
  // A folder row holds root and key in 255 bytes, on both sides.
  tree.maxKeyBytes = 255 - static_cast<int64_t>(std::max(sourceRoot_.size(), destinationRoot_.size()));
  ExcludeNestedRoot(tree);

  struct Finally {
    TtfKestronize& form;
    TDirTree& tree;
    ~Finally() {
      form.destinationEntriesSeen_ = tree.destinationEntriesSeen();
      form.CollectIssues(tree);
      form.snapshot_.currentFolder.clear();
      form.Publish();
      if (form.abortRequested()) form.HideAfterAbort();
    }
  } finally{*this, tree};

  tree.ScanSource(sourceRoot_);
  tree.ScanDestination(destinationRoot_);
  tree.SortFolderList();

  SetStepText("Suche beendet, Liste wird generiert");
  pairList_->AddFromTree(tree, kSkipEmptyFolderStates);

  SetStepText("Liste wird analysiert");
  if (!oldStampFile.empty()) {
    pairList_->CheckOldStamps(oldStampFile);
    if (!pairList_->oldStampError().empty()) reportLines_.push_back(pairList_->oldStampError());
  }
  pairList_->HourTolerance();
  pairList_->HourTwoSecTolerance();

  SetStepText("Setzen der Strategie");
  pairList_->ApplyStrategy(strategy);
  WithholdDeletionsForMissingRoot();
}

// One root inside the other: the inner root would be scanned as part of the
// outer side, so a mirror would copy the destination into itself on every run
// or, the other way round, delete the source as a folder "only in the
// destination". The inner root is left out of both scans.
void TtfKestronize::ExcludeNestedRoot(TDirTree& tree) {
  auto below = [](const std::string& path, const std::string& root) {
    return path.size() > root.size() && platform::SameText(std::string_view(path).substr(0, root.size()), root);
  };
  std::string key;
  if (below(destinationRoot_, sourceRoot_)) key = destinationRoot_.substr(sourceRoot_.size());
  if (below(sourceRoot_, destinationRoot_)) key = sourceRoot_.substr(destinationRoot_.size());
  if (key.empty()) return;
  tree.ExcludeFolder(key);
  reportLines_.push_back("Quell- und Zielordner liegen ineinander, \"" + key +
                         "\" wird nicht abgeglichen: " + sourceRoot_ + " | " + destinationRoot_);
}

// A root folder that is not there (renamed, not yet mounted, a typing error)
// makes every file of the other side look deleted. Copies into a new folder
// are what a first run needs, but deleting the other side's files because
// of a missing folder would destroy the very data the pair protects.
void TtfKestronize::WithholdDeletionsForMissingRoot() {
  for (const std::string* root : {&sourceRoot_, &destinationRoot_}) {
    if (platform::DirectoryExists(*root)) continue;
    if (pairList_->WithholdDeletions() == 0) return;
    reportLines_.push_back("Der Ordner \"" + *root +
                           "\" existiert nicht: Löschungen auf der anderen Seite wurden nicht ausgeführt.");
    return;
  }
}

void TtfKestronize::CollectIssues(const TDirTree& tree) {
  for (const TScanIssue& issue : tree.issues()) {
    reportLines_.push_back(IssueText(issue, issue.side == TScanSide::Source ? sourceRoot_ : destinationRoot_));
  }
}

void TtfKestronize::HideAfterAbort() {
  snapshot_.visible = false;
  SetStepText(kStepAbortedByUser);
  pairList_.reset();
}

// --- Abort and close -------------------------------------------------------------

void TtfKestronize::sbAbortClick() {
  if (abortRequested()) return;
  const ui::Question question{kKestronizeAbortQuestion, ui::QuestionKind::Confirmation,
                               ui::QuestionButtons::YesNoCancel, ""};
  if (ui::Ask(question, hidden_) != ui::Answer::Yes) return;
  abortFlag_->Request();
  snapshot_.abortEnabled = false;
  Publish();
}

bool TtfKestronize::FormClose() {
  if (!abortRequested()) {
    sbAbortClick();
    return false;
  }
  snapshot_.visible = false;
  Publish();
  return true;
}

void TtfKestronize::HandleMessage(const platform::Message& message) {
  if (message.id == kKestronizeAbortClick) sbAbortClick();
  if (message.id == kKestronizeCloseRequest) FormClose();
}

// --- Progress callbacks -------------------------------------------------------------

void TtfKestronize::TreeProgress(TDirTree& tree) { ShowProgress(tree.currentFolder()); }

void TtfKestronize::ListProgress(TSyncListe& list) { ShowProgress(list.currentFolder()); }

void TtfKestronize::ShowProgress(const std::string& currentFolder) {
  snapshot_.sourceDestinationText = "Quelle: " + storedSourceRoot_ + " | Ziel: " + storedDestinationRoot_;
  snapshot_.currentFolder = currentFolder;
  snapshot_.statusText = "Aktueller Prozeß: " + stepText_;
  snapshot_.timeText = "Vergangene Zeit: " + ElapsedText(platform::TickCount64() - startTick_);
  Publish();
  platform::MessageLoop::Current().ProcessMessages();
  // A program that closes stops the build as the abort button does.
  if (ui::AllJobsStopping()) abortFlag_->Request();
  if (abortRequested()) throw EAbort();
}

}  // namespace kv
