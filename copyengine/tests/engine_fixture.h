#pragma once
// Shared by the copy engine's tests and the end-to-end tests: job items
// encoded and protocols and old-timestamp files decoded straight from the
// record layouts (not through the codecs in shared/), and a driver that sets
// the copy object's properties in the scheduler's order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "copyengine/icopy.h"
#include "testsupport/fixtures.h"
#include "testsupport/goldenbytes.h"
#include "testsupport/goldenrecords.h"

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

inline void WriteJob(const std::string& posixPath, const std::vector<JobItemSpec>& items) {
  std::vector<uint8_t> all;
  for (size_t i = 0; i < items.size(); ++i) {
    const JobItemSpec& s = items[i];
    const std::vector<uint8_t> one = GoldenRecord(600)
                                          .Text(0, s.source)
                                          .Text(256, s.destination)
                                          .Le(512, static_cast<uint64_t>(s.sourceSize), 8)
                                          .Le(520, static_cast<uint64_t>(s.destinationSize), 8)
                                          .Le(528, i, 4)
                                          .Le(532, s.sourceTime, 4)
                                          .Le(536, s.destinationTime, 4)
                                          .Byte(548, s.rowKind)
                                          .Byte(549, s.action)
                                          .Byte(550, s.stateCode)
                                          .Byte(551, s.direction)
                                          .bytes();
    all.insert(all.end(), one.begin(), one.end());
  }
  WriteBytes(posixPath, all);
}

// A folder item (kind 2, as the list builder writes by default).
inline JobItemSpec FolderItem(std::string side1, std::string side2, uint8_t stateCode, uint8_t action) {
  return {.source = std::move(side1), .destination = std::move(side2), .rowKind = 2, .action = action, .stateCode = stateCode};
}

// --- Protocol and old-timestamp file ---------------------------------------------------

inline std::string TextAt(const uint8_t* p, size_t width) {
  return std::string(reinterpret_cast<const char*>(p + 1), std::min<size_t>(p[0], width));
}

struct PtkRecordFields {
  std::string first, second;  // texts at 0 and 256
  uint8_t rowKind = 0, action = 0, stateCode = 0, direction = 0, status = 0;
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
  out.wellFormed = bytes.size() % kProtocolRecordSize == 0;
  for (size_t at = 0; at + kProtocolRecordSize <= bytes.size(); at += kProtocolRecordSize) {
    const uint8_t* r = bytes.data() + at;
    if (out.trailer) out.wellFormed = false;
    if (r[600] == 255) {
      out.trailer = PtkTrailerFields{TextAt(r, 255), TextAt(r + 256, 255),
                                     static_cast<int32_t>(LittleEndian(r + 528, 4)), TextAt(r + 560, 8),
                                     TextAt(r + 569, 8)};
      continue;
    }
    out.records.push_back({TextAt(r, 255), TextAt(r + 256, 255), r[548], r[549], r[550], r[551], r[600],
                           TextAt(r + 601, 255)});
  }
  return out;
}

struct StampFields {
  std::string folder1, folder2, name;
  int64_t fileTime = 0;
};

// Every entry of every block; a malformed file fails the test.
inline std::vector<StampFields> DecodeOsVrl(const std::string& posixPath) {
  std::vector<StampFields> out;
  const std::vector<uint8_t> b = ReadBytes(posixPath);
  for (size_t at = 0; at < b.size();) {
    const int32_t count = at + 516 <= b.size() ? static_cast<int32_t>(LittleEndian(b.data() + at + 512, 4)) : -1;
    if (count < 0 || at + 516 + static_cast<size_t>(count) * 264 > b.size()) {
      ADD_FAILURE() << "torn block at byte " << at << " of " << posixPath;
      break;
    }
    const std::string f1 = TextAt(b.data() + at, 255), f2 = TextAt(b.data() + at + 256, 255);
    at += 516;
    for (int32_t i = 0; i < count; ++i, at += 264) {
      out.push_back({f1, f2, TextAt(b.data() + at, 255), static_cast<int64_t>(LittleEndian(b.data() + at + 256, 8))});
    }
  }
  return out;
}

inline std::vector<std::string> StampNames(const std::string& posixPath) {
  std::vector<std::string> names;
  for (const StampFields& s : DecodeOsVrl(posixPath)) names.push_back(s.name);
  return names;
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
  struct tm t = {
      .tm_sec = second, .tm_min = minute, .tm_hour = hour, .tm_mday = day, .tm_mon = month - 1, .tm_year = year - 1900};
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

// Sets the properties in the order the scheduler uses and runs the job; the
// first failing property ends it.
inline platform::HRESULT DriveCopyObject(ICopy& obj, const EngineCall& c) {
  const std::vector<std::function<platform::HRESULT()>> steps = {
      [&] { return c.ptkFile ? obj.Set_PtkFile(c.ptkFile->c_str()) : platform::S_OK; },
      [&] { return obj.Set_AnalyseTime(c.analyseTime); },
      [&] { return c.delSchredder ? obj.Set_DelSchredder(*c.delSchredder) : platform::S_OK; },
      [&] { return c.archivSchredder ? obj.Set_ArchivSchredder(Vb(*c.archivSchredder)) : platform::S_OK; },
      [&] { return obj.Set_Manuell(Vb(c.manual)); },
      [&] { return obj.Set_SrcFile(c.srcFile.c_str()); },
      [&] { return obj.Set_MainFile(c.mainFile.c_str()); },
      [&] { return c.osFile ? obj.Set_OSFile(c.osFile->c_str()) : platform::S_OK; },
      [&] { return obj.Set_Binary(platform::VARIANT_FALSE); },
      [&] { return obj.Set_Minimized(Vb(c.minimized)); },
      [&] { return obj.Set_Hidden(Vb(c.hidden)); },
      [&] { return obj.Set_NTFSAccess(Vb(c.ntfsAccess)); },
      [&] { return obj.Set_SecurityRename(Vb(c.securityRename)); },
      [&] { return obj.CopyFiles(); },
  };
  platform::HRESULT hr = platform::S_OK;
  for (const auto& step : steps) {
    hr = step();
    if (platform::FAILED(hr)) break;
  }
  return hr;
}

}  // namespace kv::test
