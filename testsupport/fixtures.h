#pragma once
// Fixture files for tests, written and read byte by byte from the record
// layouts on their own, without the codecs in shared/, so that a test of a
// reader or writer there has an independent oracle.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::test {

// One side's connection block of a folder pair.
struct SiteSpec {
  std::string host;
  int32_t port = 0;
  std::string user;
  std::string proxyHost;
  int32_t proxyPort = 0;
  uint8_t proxyOn = 0;
  std::string password;
  std::string account;
};

struct StrategyPairSpec {
  uint8_t direction = 0;
  uint8_t action = 0;
};

// A folder pair as the profile editor would store it. Texts longer than
// their field are cut at the byte (a foreign writer may split a character).
struct FolderPairSpec {
  std::string source;       // source root, e.g. "C:\\data\\"
  std::string destination;  // destination root
  uint8_t active = 1;
  uint8_t subfolders = 1;
  uint8_t filterMode = 0;
  // Raw pairs 0..9: byte 2k is the direction, 2k+1 the action.
  std::array<StrategyPairSpec, 10> strategy{};
  uint8_t pairKind = 0;
  SiteSpec sourceSite;
  SiteSpec destinationSite;

  // The strategy pair that serves a comparison state (8, 7, 1, 0, 2, 3, 4,
  // 5, 6 map to pairs 1 to 9); fails the test for a state without a pair.
  FolderPairSpec& Strategy(int state, uint8_t direction, uint8_t action);
};

// A pair that mirrors the source into the destination: what is only or
// newer or older in the source is copied, what is only in the destination
// is deleted.
FolderPairSpec MirrorPair(std::string source, std::string destination);

inline constexpr size_t kFolderPairRecordSize = 3828;
inline constexpr size_t kJobRecordSize = 600;

// The bytes of one folder-pair record.
std::vector<uint8_t> FolderPairBytes(const FolderPairSpec& pair);
// Writes a "SrcDest.kst" (a POSIX path) with one record per pair; extraTail
// bytes (zeros) are appended to imitate a cut-off last record.
void WriteSrcDest(const std::string& posixPath, const std::vector<FolderPairSpec>& pairs, size_t extraTail = 0);

// One job-file record as this decoder sees it.
struct JobRecord {
  std::string source;
  std::string destination;
  int64_t sourceSize = 0;
  int64_t destinationSize = 0;
  int32_t rowIndex = 0;
  uint32_t sourceTime = 0;
  uint32_t destinationTime = 0;
  uint8_t rowKind = 0;
  uint8_t action = 0;
  uint8_t stateCode = 0;
  uint8_t direction = 0;
  std::string sourceTimeText;
  std::string destinationTimeText;
  std::string sourceDateText;
  std::string destinationDateText;
  // Every byte outside the fields' contents (reserved ranges, unused text
  // space) is zero, as a writer must leave it.
  bool zeroFilled = true;
};

// Decodes a whole job file (a POSIX path). A missing file or a size that is
// not a multiple of 600 fails the test and returns what could be decoded.
std::vector<JobRecord> DecodeJobFile(const std::string& posixPath);
JobRecord DecodeJobRecord(const uint8_t* record);

// Raw file helpers.
std::vector<uint8_t> ReadBytes(const std::string& posixPath);
void WriteBytes(const std::string& posixPath, const std::vector<uint8_t>& bytes);

}  // namespace kv::test
