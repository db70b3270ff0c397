#include "testsupport/fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "testsupport/goldenbytes.h"

namespace kv::test {
namespace {

void PutSite(GoldenBytes& b, size_t base, const SiteSpec& s) {
  b.Text(base + 81, 255, s.host);
  b.Int(base + 596, static_cast<uint32_t>(s.port), 4);
  b.Text(base + 600, 255, s.user);
  b.Text(base + 856, 255, s.proxyHost);
  b.Int(base + 1112, static_cast<uint32_t>(s.proxyPort), 4);
  b.U8(base + 1116, s.proxyOn);
  b.Text(base + 1117, 255, s.password);
  b.Text(base + 1373, 255, s.account);
}

// Reads SS[width] and marks the bytes it used.
std::string TakeText(const uint8_t* rec, size_t at, size_t width, std::vector<bool>& used) {
  size_t n = std::min<size_t>(rec[at], width);
  for (size_t i = 0; i <= n; ++i) used[at + i] = true;
  return std::string(reinterpret_cast<const char*>(rec + at + 1), n);
}

uint64_t TakeInt(const uint8_t* rec, size_t at, int width, std::vector<bool>& used) {
  for (int i = 0; i < width; ++i) used[at + i] = true;
  return LittleEndian(rec + at, width);
}

}  // namespace

FolderPairSpec& FolderPairSpec::Strategy(int state, uint8_t direction, uint8_t action) {
  static constexpr int kStateOfPair[10] = {-1, 8, 7, 1, 0, 2, 3, 4, 5, 6};
  const int* found = std::find(std::begin(kStateOfPair) + 1, std::end(kStateOfPair), state);
  if (found == std::end(kStateOfPair)) {
    ADD_FAILURE() << "state " << state << " has no strategy pair";
    return *this;
  }
  strategy[found - std::begin(kStateOfPair)] = {direction, action};
  return *this;
}

FolderPairSpec MirrorPair(std::string source, std::string destination) {
  FolderPairSpec p;
  p.source = std::move(source);
  p.destination = std::move(destination);
  p.Strategy(8, 1, 1).Strategy(7, 1, 2).Strategy(1, 1, 1).Strategy(0, 1, 2);
  for (int state : {2, 3, 4, 5, 6}) p.Strategy(state, 1, 1);
  return p;
}

std::vector<uint8_t> FolderPairBytes(const FolderPairSpec& p) {
  GoldenBytes b(kFolderPairRecordSize);
  b.Text(0, 255, p.source);
  b.Text(256, 255, p.destination);
  b.U8(512, p.active);
  b.U8(513, p.subfolders);
  b.U8(514, p.filterMode);
  for (size_t k = 0; k < p.strategy.size(); ++k) {
    b.U8(516 + 2 * k, p.strategy[k].direction);
    b.U8(516 + 2 * k + 1, p.strategy[k].action);
  }
  b.U8(560, p.pairKind);
  PutSite(b, 564, p.sourceSite);
  PutSite(b, 2196, p.destinationSite);
  return b.take();
}

void WriteSrcDest(const std::string& posixPath, const std::vector<FolderPairSpec>& pairs, size_t extraTail) {
  std::vector<uint8_t> all;
  for (const FolderPairSpec& p : pairs) {
    std::vector<uint8_t> rec = FolderPairBytes(p);
    all.insert(all.end(), rec.begin(), rec.end());
  }
  all.resize(all.size() + extraTail, 0);
  WriteBytes(posixPath, all);
}

JobRecord DecodeJobRecord(const uint8_t* rec) {
  std::vector<bool> used(kJobRecordSize, false);
  JobRecord r;
  r.source = TakeText(rec, 0, 255, used);
  r.destination = TakeText(rec, 256, 255, used);
  r.sourceSize = static_cast<int64_t>(TakeInt(rec, 512, 8, used));
  r.destinationSize = static_cast<int64_t>(TakeInt(rec, 520, 8, used));
  r.rowIndex = static_cast<int32_t>(TakeInt(rec, 528, 4, used));
  r.sourceTime = static_cast<uint32_t>(TakeInt(rec, 532, 4, used));
  r.destinationTime = static_cast<uint32_t>(TakeInt(rec, 536, 4, used));
  r.rowKind = static_cast<uint8_t>(TakeInt(rec, 548, 1, used));
  r.action = static_cast<uint8_t>(TakeInt(rec, 549, 1, used));
  r.stateCode = static_cast<uint8_t>(TakeInt(rec, 550, 1, used));
  r.direction = static_cast<uint8_t>(TakeInt(rec, 551, 1, used));
  r.sourceTimeText = TakeText(rec, 560, 8, used);
  r.destinationTimeText = TakeText(rec, 569, 8, used);
  r.sourceDateText = TakeText(rec, 578, 10, used);
  r.destinationDateText = TakeText(rec, 589, 10, used);
  for (size_t i = 0; i < kJobRecordSize; ++i) {
    if (!used[i] && rec[i] != 0) r.zeroFilled = false;
  }
  return r;
}

std::vector<JobRecord> DecodeJobFile(const std::string& posixPath) {
  std::vector<JobRecord> records;
  if (!std::filesystem::exists(posixPath)) {
    ADD_FAILURE() << "job file " << posixPath << " is missing";
    return records;
  }
  std::vector<uint8_t> bytes = ReadBytes(posixPath);
  if (bytes.size() % kJobRecordSize != 0) {
    ADD_FAILURE() << "job file " << posixPath << " has " << bytes.size() << " bytes, not a multiple of 600";
  }
  for (size_t at = 0; at + kJobRecordSize <= bytes.size(); at += kJobRecordSize) {
    records.push_back(DecodeJobRecord(bytes.data() + at));
  }
  return records;
}

std::vector<uint8_t> ReadBytes(const std::string& posixPath) {
  std::ifstream f(posixPath, std::ios::binary);
  if (!f) {
    ADD_FAILURE() << "cannot open " << posixPath;
    return {};
  }
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& posixPath, const std::vector<uint8_t>& bytes) {
  std::filesystem::path p(posixPath);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  f.close();
  if (!f) ADD_FAILURE() << "cannot write " << posixPath;
}

}  // namespace kv::test
