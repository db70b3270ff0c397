#pragma once
// The progress window of the list builder, as a model on the run thread: it
// holds the settings of the folder pair being built, runs the per-pair scan
// and analysis (sbAbgleichClick), and turns the progress callbacks of the
// folder tree and the sync list into the texts the window shows. Its widget,
// when there is one, lives on the window thread and only sees snapshots;
// clicks and close requests come back as messages to this model (WndProc),
// so the abort question is asked on the run thread while the scan waits.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/cancelflag.h"
#include "platform/ui/snapshot.h"
#include "platform/msgloop.h"
#include "synclist/syncliste.h"

namespace kv {

class TDirTree;

inline constexpr char kKestronizeCaption[] = "Kestrovane [ Fortschritt ]";
inline constexpr char kKestronizeAbortQuestion[] = "Möchten Sie den Vorgang wirklich abbrechen?";
inline constexpr char kStepAbortedByUser[] = "Abbruch durch den Anwender";
// Width (pixels at 96 dpi) the current folder is shortened to.
inline constexpr int kKestronizePathWidth = 300;

// What the window shows; published after every change.
struct TKestronizeSnapshot {
  std::string sourceDestinationText;  // tpSrcDest
  std::string statusText;             // tpStatus: "Aktueller Prozeß: " + step text
  std::string timeText;               // stbTime
  std::string currentFolder;          // stbStatus shows it shortened, after "Aktueller Pfad: "
  bool abortEnabled = true;           // sbAbort
  bool visible = false;
  bool minimized = false;
};

using TKestronizeChannel = platform::ui::SnapshotChannel<TKestronizeSnapshot>;

// Messages the widget posts to the model.
inline constexpr uint32_t kKestronizeAbortClick = platform::WM_USER + 1;
inline constexpr uint32_t kKestronizeCloseRequest = platform::WM_USER + 2;

// What a widget gets to talk to its model: where to post clicks, the
// snapshots to show, and the abort flag (a close is allowed once it is set).
struct TKestronizeLink {
  platform::HandlerRef model;
  std::shared_ptr<TKestronizeChannel> channel;
  std::shared_ptr<const platform::ui::CancelFlag> abortFlag;
};

// The window side of a shown progress window; destroying it removes the
// widget.
class TKestronizeView {
 public:
  virtual ~TKestronizeView() = default;
};
using KestronizeViewFactory = std::function<std::unique_ptr<TKestronizeView>(const TKestronizeLink&)>;
// Installed once by the program that has a window thread; returns the
// factory it replaces. Called for every progress window that is not hidden
// (the view itself stays headless without a window thread). Without a
// factory every progress window is headless.
KestronizeViewFactory SetKestronizeViewFactory(KestronizeViewFactory factory);

class TtfKestronize : public platform::MessageHandler {
 public:
  // FormCreate. A hidden window never gets a widget; its callbacks still run.
  explicit TtfKestronize(bool hidden = false);
  // FormDestroy.
  ~TtfKestronize() override;

  // --- Settings of the pair being built -------------------------------------
  // Roots as the pair record stores them; the scan gets them with a "\".
  void SetRoots(std::string_view sourceRoot, std::string_view destinationRoot);
  const std::string& sourceRoot() const { return sourceRoot_; }
  const std::string& destinationRoot() const { return destinationRoot_; }
  std::string includeMasks;
  std::string excludeFileMasks;
  std::string excludeFolderMasks;
  uint8_t folderRowKind = kRowKindFolderDefault;
  bool twoSecondTolerance = false;
  std::string oldStampFile;  // "" = no old-timestamp test
  bool recurse = false;
  TUnpackedStrategy strategy{};

  // --- Results of the last pair ---------------------------------------------
  int64_t destinationEntriesSeen() const { return destinationEntriesSeen_; }
  // The pair's list; nullptr before a run and after an abort.
  const TSyncListe* pairList() const { return pairList_.get(); }
  TSyncListe* pairList() { return pairList_.get(); }
  // Folders and names the scans left out, and a disabled old-timestamp test,
  // as protocol lines, over every pair since the last call.
  std::vector<std::string> TakeReportLines() { return std::move(reportLines_); }

  // --- Window ---------------------------------------------------------------
  void Show(bool minimize);
  void SetStepText(std::string text);
  const std::string& stepText() const { return stepText_; }
  bool abortRequested() const { return abortFlag_->IsRequested(); }
  bool visible() const { return snapshot_.visible; }
  const TKestronizeSnapshot& snapshot() const { return snapshot_; }
  const std::shared_ptr<TKestronizeChannel>& channel() const { return channel_; }
  bool hasWidget() const { return view_ != nullptr; }
  // "" when no folder is shown, else "Aktueller Pfad: " + the folder shortened without a font (one
  // character counts kHeadlessCharWidth pixels); the widget measures its own.
  std::string StatusPathText() const;

  // --- Handlers ---------------------------------------------------------------
  // The per-pair runner: scan, list, analysis and strategy of the current
  // pair. EAbort and errors pass on after the clean-up.
  void sbAbgleichClick();
  // Asks the abort question; only Yes sets the abort flag.
  void sbAbortClick();
  // A close request: true when the window may close (it is hidden then).
  bool FormClose();
  void TreeProgress(TDirTree& tree);
  void ListProgress(TSyncListe& list);

 protected:
  // WndProc: the widget's clicks and close requests.
  void HandleMessage(const platform::Message& message) override;

 private:
  void ShowProgress(const std::string& currentFolder);
  void Publish();
  void CollectIssues(const TDirTree& tree);
  void WithholdDeletionsForMissingRoot();
  void ExcludeNestedRoot(TDirTree& tree);
  void HideAfterAbort();

  uint64_t startTick_ = 0;
  std::string storedSourceRoot_;
  std::string storedDestinationRoot_;
  std::string sourceRoot_;
  std::string destinationRoot_;
  std::string stepText_;
  int64_t destinationEntriesSeen_ = 0;
  std::unique_ptr<TSyncListe> pairList_;
  std::vector<std::string> reportLines_;
  std::shared_ptr<platform::ui::CancelFlag> abortFlag_;
  std::shared_ptr<TKestronizeChannel> channel_;
  TKestronizeSnapshot snapshot_;
  bool hidden_ = false;
  std::unique_ptr<TKestronizeView> view_;
};

// "hh:nn:ss" of a duration; hours do not wrap at a day.
std::string ElapsedText(uint64_t milliseconds);

}  // namespace kv
