#pragma once
// A profile whose one folder pair has a side on an FTP server: the local
// folder "loc" beside the server's root "srv" in one temporary tree, the
// job items of such a pair, and what a run leaves on both sides.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "copyengine/copyobj.h"
#include "copyengine/tests/engine_fixture.h"
#include "platform/treefolder.h"
#include "testsupport/ftpserver.h"
#include "testsupport/patternfile.h"
#include "testsupport/temptree.h"

namespace kv::test {

// A job carried out by a copy object of its own, as the scheduler does.
inline platform::HRESULT RunCopyObject(const EngineCall& call) {
  TCopyObj* obj = new TCopyObj;
  obj->AddRef();
  const platform::HRESULT hr = DriveCopyObject(*obj, call);
  obj->Release();
  return hr;
}

class FtpPairEnv {
 public:
  TempTree tree;
  ScopedRegistry registry;
  ScopedEnv cache{"XDG_CACHE_HOME", tree.Posix("cache").c_str()};
  const std::string profile = "work/Profile/1/";
  uint8_t pairKind;  // 1: side 1 on the server, 2: side 2
  uint16_t port = 0;
  std::string remoteRoot;  // the server's path of "srv"
  std::string user = "anonymous", password = "kv@example.org";

  explicit FtpPairEnv(uint8_t pairKind) : pairKind(pairKind) {
    tree.Mkdir("loc");
    tree.Mkdir("srv");
    tree.Write(profile + "AUTOptk/00000.ptk", "");
  }
  // Serves "srv" through the server, reached directly or through a relay
  // at the port `via`; the pair file names its site.
  void Use(const FtpServer& server, uint16_t via = 0) {
    port = via != 0 ? via : static_cast<uint16_t>(server.port());
    remoteRoot = server.RemotePath("");
    user = server.user();
    password = server.password();
    WritePairs({Pair()});
  }

  SiteSpec Site() const { return {.host = "127.0.0.1", .port = port, .user = user, .password = password}; }
  // The pair of the folders "rel" on both sides.
  FolderPairSpec Pair(const std::string& rel = "", const SiteSpec& site = {}) const {
    FolderPairSpec pair{.source = Side1(rel), .destination = Side2(rel), .pairKind = pairKind};
    (pairKind == 1 ? pair.sourceSite : pair.destinationSite) = site.host.empty() ? Site() : site;
    return pair;
  }
  std::string Local(const std::string& rel = "") const { return tree.WinFolder("loc/" + rel); }
  std::string Remote(const std::string& rel = "") const {
    std::string path = "ftp://127.0.0.1" + remoteRoot;
    if (path.back() != '/') path += '/';
    return rel.empty() ? path : path + rel + "/";
  }
  std::string Side1(const std::string& rel = "") const { return pairKind == 1 ? Remote(rel) : Local(rel); }
  std::string Side2(const std::string& rel = "") const { return pairKind == 1 ? Local(rel) : Remote(rel); }
  void WritePairs(const std::vector<FolderPairSpec>& pairs) const {
    WriteSrcDest(tree.Posix(profile + "SrcDest.kst"), pairs);
  }

  // Items: a folder of the pair, and a file copied from one side to the
  // other (the side it is only on), or deleted.
  JobItemSpec Folder(const std::string& rel, uint8_t stateCode, uint8_t action) const {
    return FolderItem(Side1(rel), Side2(rel), stateCode, action);
  }
  JobItemSpec Both(const std::string& rel = "") const { return Folder(rel, 10, 1); }
  // A folder only on the local side (made on the server), or back.
  JobItemSpec OnlyLocal(const std::string& rel) const { return Folder(rel, pairKind == 1 ? 8 : 9, 1); }
  JobItemSpec OnlyRemote(const std::string& rel) const { return Folder(rel, pairKind == 1 ? 9 : 8, 1); }
  // up: from the local side to the server, else back.
  JobItemSpec Copy(const std::string& name, int64_t size, bool up, bool replacing = false) const {
    const bool fromSide1 = up == (pairKind == 2);
    JobItemSpec item{.action = 1, .direction = static_cast<uint8_t>(fromSide1 ? 1 : 2)};
    (fromSide1 ? item.source : item.destination) = name;
    (fromSide1 ? item.sourceSize : item.destinationSize) = size;
    item.stateCode = replacing ? (fromSide1 ? 3 : 4) : (fromSide1 ? 2 : 1);
    if (replacing) (fromSide1 ? item.destination : item.source) = name;
    return item;
  }
  // onServer / local: the sides it is deleted on (both: state code 3).
  JobItemSpec Delete(const std::string& name, bool onServer, bool local) const {
    const bool side1 = pairKind == 1 ? onServer : local, side2 = pairKind == 1 ? local : onServer;
    return {.source = side1 ? name : "", .destination = side2 ? name : "", .action = 2,
            .stateCode = static_cast<uint8_t>(side1 && side2 ? 3 : side1 ? 2 : 1)};
  }

  EngineCall Call(const std::vector<JobItemSpec>& items) const {
    WriteJob(tree.Posix(profile + "$0ABC.tmp"), items);
    EngineCall call;
    call.ptkFile = tree.Win(profile + "AUTOptk/00000.ptk");
    call.srcFile = tree.Win(profile + "$0ABC.tmp");
    call.mainFile = tree.Win(profile + "SrcDest.kst");
    return call;
  }
  platform::HRESULT Run(const std::vector<JobItemSpec>& items) const { return RunCopyObject(Call(items)); }
  DecodedPtk Ptk() const { return DecodePtk(tree.Posix(profile + "AUTOptk/00000.ptk")); }
  std::vector<int> Statuses() const {
    std::vector<int> out;
    for (const PtkRecordFields& r : Ptk().records) out.push_back(r.status);
    return out;
  }
  std::string Message(size_t record) const {
    const DecodedPtk ptk = Ptk();
    return record < ptk.records.size() ? ptk.records[record].message : "(no record)";
  }
  // The local mirror of "kvftp.log".
  std::string Mirror() const { return tree.Posix("work/FTPLog/127.0.0.1/kvftp.log"); }

  // Every entry below a folder of the tree ("a", "sub/b"), sorted; the
  // system's temporary files only with temps.
  std::vector<std::string> Entries(const std::string& rel, bool temps = true) const {
    std::vector<std::string> names;
    const std::string root = tree.Posix(rel);
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
      if (!temps && platform::IsSystemTempName(e.path().filename().string())) continue;
      names.push_back(std::filesystem::relative(e.path(), root).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // SHA-256 of every file of both sides but the remote-state record.
  std::map<std::string, std::string> Digests() const {
    std::map<std::string, std::string> out;
    for (const char* side : {"loc", "srv"}) {
      for (const auto& e : std::filesystem::recursive_directory_iterator(tree.Posix(side))) {
        if (e.is_regular_file() && e.path().filename() != "kvftp.log")
          out[std::filesystem::relative(e.path(), tree.Posix()).string()] = Sha256OfFile(e.path().string());
      }
    }
    return out;
  }
};

}  // namespace kv::test
