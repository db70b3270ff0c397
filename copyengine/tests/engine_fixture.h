#pragma once
// Shared by the copy engine's tests and the end-to-end tests: job items
// encoded and protocols and old-timestamp files decoded straight from the
// record layouts (not through the codecs in shared/), and a driver that sets
// the copy object's properties in the scheduler's order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "copyengine/icopy.h"
#include "testsupport/fixtures.h"

namespace kv::test {

// --- Job items ----------------------------------------------------------------------

struct JobItemSpec {
  std::string source;  // folder item: full path ending in "\"; file item: bare name
  std::string destination;
  int64_t sourceSize = 0;
  int64_t destinationSize = 0;
  uint32_t sourceTime = 0;  // DOS date-time
  uint32_t destinationTime = 0;
  uint8_t rowKind = 0;
  uint8_t action = 0;
  uint8_t stateCode = 0;
  uint8_t direction = 0;
};

inline void PutLe(std::vector<uint8_t>& b, size_t at, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b.at(at + static_cast<size_t>(i)) = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutText(std::vector<uint8_t>& b, size_t at, size_t width, const std::string& s) {
  const size_t n = std::min(s.size(), width);
  b.at(at) = static_cast<uint8_t>(n);
  std::copy_n(s.begin(), n, b.begin() + static_cast<std::ptrdiff_t>(at + 1));
}
inline uint64_t GetLe(const uint8_t* p, int width) {
  uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
inline std::string GetText(const uint8_t* p, size_t width) {
  return std::string(reinterpret_cast<const char*>(p + 1), std::min<size_t>(p[0], width));
}

inline std::vector<uint8_t> JobItemBytes(const JobItemSpec& s, int32_t rowIndex) {
  std::vector<uint8_t> b(600, 0);
  PutText(b, 0, 255, s.source);
  PutText(b, 256, 255, s.destination);
  PutLe(b, 512, static_cast<uint64_t>(s.sourceSize), 8);
  PutLe(b, 520, static_cast<uint64_t>(s.destinationSize), 8);
  PutLe(b, 528, static_cast<uint32_t>(rowIndex), 4);
  PutLe(b, 532, s.sourceTime, 4);
  PutLe(b, 536, s.destinationTime, 4);
  b[548] = s.rowKind;
  b[549] = s.action;
  b[550] = s.stateCode;
  b[551] = s.direction;
  return b;
}

inline void WriteJob(const std::string& posixPath, const std::vector<JobItemSpec>& items) {
  std::vector<uint8_t> all;
  for (size_t i = 0; i < items.size(); ++i) {
    std::vector<uint8_t> one = JobItemBytes(items[i], static_cast<int32_t>(i));
    all.insert(all.end(), one.begin(), one.end());
  }
  WriteBytes(posixPath, all);
}

// A folder item (kind 2, as the list builder writes by default).
inline JobItemSpec FolderItem(std::string side1, std::string side2, uint8_t stateCode, uint8_t action) {
  JobItemSpec s;
  s.source = std::move(side1);
  s.destination = std::move(side2);
  s.rowKind = 2;
  s.stateCode = stateCode;
  s.action = action;
  return s;
}

// --- Protocol --------------------------------------------------------------------------

struct PtkRecordFields {
  std::string first, second;  // texts at 0 and 256
  uint8_t rowKind = 0, action = 0, stateCode = 0, direction = 0;
  uint8_t status = 0;
  std::string message;
};

struct PtkTrailerFields {
  std::string elapsed, size;
  int32_t errorFlag = 0;
  std::string analyseTime, copyTime;
};

struct DecodedPtk {
  std::vector<PtkRecordFields> records;
  std::optional<PtkTrailerFields> trailer;
  bool wellFormed = true;  // whole records, trailer last if any
};

inline DecodedPtk DecodePtk(const std::string& posixPath) {
  DecodedPtk out;
  const std::vector<uint8_t> bytes = ReadBytes(posixPath);
  if (bytes.size() % 864 != 0) out.wellFormed = false;
  for (size_t at = 0; at + 864 <= bytes.size(); at += 864) {
    const uint8_t* r = bytes.data() + at;
    if (out.trailer) out.wellFormed = false;
    if (r[600] == 255) {
      PtkTrailerFields t;
      t.elapsed = GetText(r, 255);
      t.size = GetText(r + 256, 255);
      t.errorFlag = static_cast<int32_t>(GetLe(r + 528, 4));
      t.analyseTime = GetText(r + 560, 8);
      t.copyTime = GetText(r + 569, 8);
      out.trailer = t;
      continue;
    }
    PtkRecordFields f;
    f.first = GetText(r, 255);
    f.second = GetText(r + 256, 255);
    f.rowKind = r[548];
    f.action = r[549];
    f.stateCode = r[550];
    f.direction = r[551];
    f.status = r[600];
    f.message = GetText(r + 601, 255);
    out.records.push_back(f);
  }
  return out;
}

// --- Old-timestamp file ---------------------------------------------------------------

struct StampFields {
  std::string folder1, folder2, name;
  int64_t fileTime = 0;
};

// Every entry of every block; a malformed file fails the test.
inline std::vector<StampFields> DecodeOsVrl(const std::string& posixPath) {
  std::vector<StampFields> out;
  const std::vector<uint8_t> b = ReadBytes(posixPath);
  size_t at = 0;
  while (at < b.size()) {
    if (at + 516 > b.size()) {
      ADD_FAILURE() << "torn header in " << posixPath;
      break;
    }
    const std::string f1 = GetText(b.data() + at, 255), f2 = GetText(b.data() + at + 256, 255);
    const int32_t count = static_cast<int32_t>(GetLe(b.data() + at + 512, 4));
    at += 516;
    if (count < 0 || at + static_cast<size_t>(count) * 264 > b.size()) {
      ADD_FAILURE() << "bad count in " << posixPath;
      break;
    }
    for (int32_t i = 0; i < count; ++i, at += 264) {
      out.push_back({f1, f2, GetText(b.data() + at, 255), static_cast<int64_t>(GetLe(b.data() + at + 256, 8))});
    }
  }
  return out;
}

// --- Times -------------------------------------------------------------------------------

// The DOS date-time of a local calendar time (seconds halved), packed by hand.
inline uint32_t DosOf(int year, int month, int day, int hour, int minute, int second) {
  return (static_cast<uint32_t>(year - 1980) << 25) | (static_cast<uint32_t>(month) << 21) |
         (static_cast<uint32_t>(day) << 16) | (static_cast<uint32_t>(hour) << 11) |
         (static_cast<uint32_t>(minute) << 5) | static_cast<uint32_t>(second / 2);
}

// Seconds since 1970 of a local calendar time (the zone of TZ).
inline time_t LocalEpoch(int year, int month, int day, int hour, int minute, int second) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return mktime(&t);
}

inline int64_t FileTimeOfEpoch(time_t seconds) { return static_cast<int64_t>(seconds) * 10000000 + 116444736000000000LL; }

// --- Driving the object --------------------------------------------------------------------

// The properties a scheduler run sends; unset optionals are not sent.
struct EngineCall {
  std::optional<std::string> ptkFile;
  const char* analyseTime = "00:00:07";
  std::optional<int32_t> delSchredder = 0;
  std::optional<bool> archivSchredder;
  bool manual = false;
  std::string srcFile;
  std::string mainFile;
  std::optional<std::string> osFile;
  bool minimized = false;
  bool hidden = true;
  bool ntfsAccess = false;
  bool securityRename = false;
};

inline platform::VARIANT_BOOL Vb(bool v) { return v ? platform::VARIANT_TRUE : platform::VARIANT_FALSE; }

// Sets the properties in the order the scheduler uses and runs the job.
inline platform::HRESULT DriveCopyObject(ICopy& obj, const EngineCall& c) {
  using platform::FAILED;
  platform::HRESULT hr = platform::S_OK;
  auto step = [&hr](platform::HRESULT r) {
    if (!FAILED(hr)) hr = r;
    return !FAILED(hr);
  };
  if (c.ptkFile && !step(obj.Set_PtkFile(c.ptkFile->c_str()))) return hr;
  if (!step(obj.Set_AnalyseTime(c.analyseTime))) return hr;
  if (c.delSchredder && !step(obj.Set_DelSchredder(*c.delSchredder))) return hr;
  if (c.archivSchredder && !step(obj.Set_ArchivSchredder(Vb(*c.archivSchredder)))) return hr;
  if (!step(obj.Set_Manuell(Vb(c.manual)))) return hr;
  if (!step(obj.Set_SrcFile(c.srcFile.c_str()))) return hr;
  if (!step(obj.Set_MainFile(c.mainFile.c_str()))) return hr;
  if (c.osFile && !step(obj.Set_OSFile(c.osFile->c_str()))) return hr;
  if (!step(obj.Set_Binary(platform::VARIANT_FALSE))) return hr;
  if (!step(obj.Set_Minimized(Vb(c.minimized)))) return hr;
  if (!step(obj.Set_Hidden(Vb(c.hidden)))) return hr;
  if (!step(obj.Set_NTFSAccess(Vb(c.ntfsAccess)))) return hr;
  if (!step(obj.Set_SecurityRename(Vb(c.securityRename)))) return hr;
  return obj.CopyFiles();
}

}  // namespace kv::test
