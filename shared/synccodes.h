#pragma once
// The codes that the list builder and the copy engine share: comparison
// states of the sync list, the codes the job file stores for them, actions,
// directions and row kinds, and which strategy pair serves which state.
//
// States, flags and kinds are plain integers because the sync list keeps them
// as decimal text and the job file as bytes; values outside the known sets
// must survive a round trip and map to the documented fallbacks.
#include <cstdint>
#include <optional>

namespace kv {

// --- Comparison states (sync list) -----------------------------------------
inline constexpr int kStateOnlyInDestination = 0;
inline constexpr int kStateOnlyInSource = 1;
inline constexpr int kStateDestinationOlder = 2;
inline constexpr int kStateDestinationNewer = 3;
inline constexpr int kStateSameTimeDestinationSmaller = 4;
inline constexpr int kStateSameTimeDestinationLarger = 5;
inline constexpr int kStateChangedOnBothSides = 6;
inline constexpr int kStateFolderOnlyInDestination = 7;
inline constexpr int kStateFolderOnlyInSource = 8;
inline constexpr int kStateFolderOnBothSides = 10;
inline constexpr int kStateEqualWithinHourTolerance = 14;

// --- State codes (job file) -------------------------------------------------
// Folder rows carry 8, 9 and 10; the copy engine tells folder items by these.
inline constexpr uint8_t kCodeFolderOnlyInDestination = 8;
inline constexpr uint8_t kCodeFolderOnlyInSource = 9;
inline constexpr uint8_t kCodeFolderOnBothSides = 10;
inline constexpr uint8_t kCodeEqualWithinHourTolerance = 15;
// Any state the writer does not know is stored as this code.
inline constexpr uint8_t kCodeOfUnknownState = 3;

// States 0..8 are stored as state + 1, 10 as 10, 14 as 15, anything else as 3.
constexpr uint8_t JobStateCode(int state) {
  if (state >= 0 && state <= kStateFolderOnlyInSource) return static_cast<uint8_t>(state + 1);
  if (state == kStateFolderOnBothSides) return kCodeFolderOnBothSides;
  if (state == kStateEqualWithinHourTolerance) return kCodeEqualWithinHourTolerance;
  return kCodeOfUnknownState;
}

constexpr bool IsFolderStateCode(uint8_t code) {
  return code == kCodeFolderOnlyInDestination || code == kCodeFolderOnlyInSource ||
         code == kCodeFolderOnBothSides;
}

// --- Actions (list and job file) --------------------------------------------
inline constexpr uint8_t kActionNone = 0;
inline constexpr uint8_t kActionCopy = 1;  // copy the file, or create the folder
inline constexpr uint8_t kActionDelete = 2;
inline constexpr uint8_t kActionCreateFolder = 3;          // folder rows only
inline constexpr uint8_t kActionCreateFolderIfCopy = 4;    // folder rows only: when a copy follows

// --- Directions -------------------------------------------------------------
// The list's direction flag of a row.
inline constexpr int kFlagDestinationToSource = 0;
inline constexpr int kFlagSourceToDestination = 1;
inline constexpr int kFlagNone = 2;  // folder rows
// The job file's direction byte.
inline constexpr uint8_t kJobDirectionNone = 0;
inline constexpr uint8_t kJobDirectionSourceToDestination = 1;
inline constexpr uint8_t kJobDirectionDestinationToSource = 2;
// A strategy direction byte: only this value turns a copy around.
inline constexpr uint8_t kStrategyDestinationToSource = 2;

// List flag 0 is stored as 2, flag 1 as 1, any other flag (folder rows) as 0.
constexpr uint8_t JobDirection(int flag) {
  if (flag == kFlagDestinationToSource) return kJobDirectionDestinationToSource;
  if (flag == kFlagSourceToDestination) return kJobDirectionSourceToDestination;
  return kJobDirectionNone;
}

// The list flag that a strategy direction byte stands for.
constexpr int FlagFromStrategyDirection(uint8_t direction) {
  return direction == kStrategyDestinationToSource ? kFlagDestinationToSource : kFlagSourceToDestination;
}

// --- Row kinds ----------------------------------------------------------------
inline constexpr uint8_t kRowKindFile = 0;
// Folder rows carry the kind the user options choose (1 or 2); readers only
// test for non-zero. The progress window starts with 2.
inline constexpr uint8_t kRowKindFolderDefault = 2;

constexpr bool IsFolderRowKind(int kind) { return kind != kRowKindFile; }

// What the job file stores as row kind: 0, 1 and 2 as they are, anything else 0.
constexpr uint8_t JobRowKind(int kind) {
  return (kind == 1 || kind == 2) ? static_cast<uint8_t>(kind) : kRowKindFile;
}

// --- Strategy pairs -------------------------------------------------------------
inline constexpr int kStrategyPairCount = 10;

// The strategy pair (1..9) that serves a comparison state; states 10, 14 and
// unknown states take none.
constexpr std::optional<int> StrategyPairForState(int state) {
  switch (state) {
    case kStateFolderOnlyInSource: return 1;
    case kStateFolderOnlyInDestination: return 2;
    case kStateOnlyInSource: return 3;
    case kStateOnlyInDestination: return 4;
    case kStateDestinationOlder: return 5;
    case kStateDestinationNewer: return 6;
    case kStateSameTimeDestinationSmaller: return 7;
    case kStateSameTimeDestinationLarger: return 8;
    case kStateChangedOnBothSides: return 9;
    default: return std::nullopt;
  }
}

// Pairs 1 to 4 serve one-sided states: the scan's direction stands, only the
// pair's action is taken.
constexpr bool StrategyPairDirectionIsRead(int pair) { return pair >= 5 && pair <= 9; }

}  // namespace kv
