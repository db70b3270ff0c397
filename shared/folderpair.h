#pragma once
// The folder-pair file "SrcDest.kst" of a profile: one 3828-byte record per
// folder pair, written by the profile editor and read by the list builder,
// the scheduler and the copy engine. The system itself only reads it; Encode
// exists so that tests and tools can write such files.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "shared/synccodes.h"

namespace kv {

// What to do for each kind of difference: ten (direction, action) pairs; pair
// k serves the state StrategyPairForState maps to k; pair 0 serves none.
struct TSyncStrategy {
  static constexpr size_t kSize = 20;
  struct Pair {
    uint8_t direction = 0;  // 2: destination to source; any other value: source to destination
    uint8_t action = 0;
  };
  std::array<Pair, kStrategyPairCount> pairs{};

  // The action of the pair that serves the state; nullopt for states that
  // take no pair (10, 14, unknown).
  std::optional<uint8_t> ActionForState(int state) const;
  // The list direction flag the pair of the state sets; nullopt where the
  // scan's direction stands (one-sided states and states without a pair).
  std::optional<int> FlagForState(int state) const;

  std::array<uint8_t, kSize> Bytes() const;
  // Takes exactly kSize bytes (std::invalid_argument otherwise).
  static TSyncStrategy FromBytes(std::span<const uint8_t> bytes);
};

// The connection data of one side. For an FTP side: the server; for a local
// or network side, host, user and password carry the network share and the
// credentials to connect it.
struct TFtpSite {
  static constexpr size_t kSize = 1632;
  std::string host;
  int32_t port = 0;  // only the low 16 bits count
  std::string user;
  std::string proxyHost;
  int32_t proxyPort = 0;
  uint8_t proxyOn = 0;
  std::string password;  // stored as plain text by the profile editor
  std::string account;

  uint16_t PortNumber() const { return static_cast<uint16_t>(static_cast<uint32_t>(port) & 0xFFFFu); }
  bool UsesProxy() const { return proxyOn != 0; }
};

// Values of the pair-kind byte.
inline constexpr uint8_t kPairKindLocal = 0;
inline constexpr uint8_t kPairKindFtpSource = 1;
inline constexpr uint8_t kPairKindFtpDestination = 2;
// Filter mode 1 excludes the matching files; any other value takes only them.
inline constexpr uint8_t kFilterModeExclude = 1;

struct TFolderPair {
  static constexpr size_t kSize = 3828;

  std::string sourceRoot;  // ends in "\"; "ftp:" (any case) for an FTP side
  std::string destinationRoot;
  uint8_t active = 0;
  uint8_t subfolders = 0;
  uint8_t filterMode = 0;
  TSyncStrategy strategy;
  uint8_t pairKind = kPairKindLocal;
  TFtpSite sourceSite;
  TFtpSite destinationSite;

  bool IsActive() const { return active != 0; }
  bool ScansSubfolders() const { return subfolders != 0; }
  bool ExcludesMatchingFiles() const { return filterMode == kFilterModeExclude; }
  bool HasFtpSide() const { return pairKind == kPairKindFtpSource || pairKind == kPairKindFtpDestination; }
  // The site of the FTP side; nullptr when neither side is on FTP.
  const TFtpSite* FtpSite() const;

  // Zero-filled record, the bytes the system does not read included. Throws
  // platform::FieldTooLong naming the field when a text does not fit.
  std::vector<uint8_t> Encode() const;
  // Takes exactly kSize bytes (std::invalid_argument otherwise).
  static TFolderPair Decode(std::span<const uint8_t> bytes);
};

// Everything read from one "SrcDest.kst".
struct FolderPairFile {
  bool ok = false;    // false: missing or unreadable; error names the file
  std::string error;
  std::vector<TFolderPair> pairs;  // in file order
  // A last record shorter than kSize is not taken; note names the file and
  // the byte count so callers can report it.
  size_t ignoredTailBytes = 0;
  std::string note;
};

// Reads the file (a Windows path) record by record from its start.
FolderPairFile ReadFolderPairs(std::string_view path);

}  // namespace kv
