#pragma once
// A profile whose one folder pair has a side on an FTP server: the local
// folder "loc" beside the server's root "srv" in one temporary tree, the
// job items of such a pair, and what a run leaves on both sides.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "copyengine/icopy.h"
#include "copyengine/tests/engine_fixture.h"
#include "testsupport/ftpserver.h"
#include "testsupport/patternfile.h"
#include "testsupport/temptree.h"

namespace kv::test {

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
  // Serves "srv" through the server; the pair file names its site.
  void Use(const FtpServer& server) {
    port = static_cast<uint16_t>(server.port());
    remoteRoot = server.RemotePath("");
    user = server.user();
    password = server.password();
    WritePairs({Pair()});
  }

  SiteSpec Site() const { return {.host = "127.0.0.1", .port = port, .user = user, .password = password}; }
  std::string Local(const std::string& rel = "") const { return tree.WinFolder("loc/" + rel); }
  std::string Remote(const std::string& rel = "") const {
    std::string path = "ftp://127.0.0.1" + remoteRoot;
    if (path.back() != '/') path += '/';
    return rel.empty() ? path : path + rel + "/";
  }
  std::string Side1(const std::string& rel = "") const { return pairKind == 1 ? Remote(rel) : Local(rel); }
  std::string Side2(const std::string& rel = "") const { return pairKind == 1 ? Local(rel) : Remote(rel); }
  FolderPairSpec Pair() const {
    FolderPairSpec pair{.source = Side1(), .destination = Side2(), .pairKind = pairKind};
    (pairKind == 1 ? pair.sourceSite : pair.destinationSite) = Site();
    return pair;
  }
  void WritePairs(const std::vector<FolderPairSpec>& pairs) const {
    WriteSrcDest(tree.Posix(profile + "SrcDest.kst"), pairs);
  }

  // Items: a folder of the pair, and a file copied from one side to the
  // other (the side it is only on), or deleted.
  JobItemSpec Folder(const std::string& rel, uint8_t stateCode, uint8_t action) const {
    return FolderItem(Side1(rel), Side2(rel), stateCode, action);
  }
  JobItemSpec Both() const { return Folder("", 10, 1); }
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
    const bool serverIsSide1 = pairKind == 1;
    const bool side1 = (onServer && serverIsSide1) || (local && !serverIsSide1);
    const bool side2 = (onServer && !serverIsSide1) || (local && serverIsSide1);
    JobItemSpec item{.action = 2, .stateCode = static_cast<uint8_t>(side1 && side2 ? 3 : side1 ? 2 : 1)};
    if (side1) item.source = name;
    if (side2) item.destination = name;
    return item;
  }

  std::string JobPosix() const { return tree.Posix(profile + "$0ABC.tmp"); }
  EngineCall Call(const std::vector<JobItemSpec>& items) const {
    WriteJob(JobPosix(), items);
    EngineCall call;
    call.ptkFile = tree.Win(profile + "AUTOptk/00000.ptk");
    call.srcFile = tree.Win(profile + "$0ABC.tmp");
    call.mainFile = tree.Win(profile + "SrcDest.kst");
    return call;
  }
  DecodedPtk Ptk() const { return DecodePtk(tree.Posix(profile + "AUTOptk/00000.ptk")); }
  // (status, message start) of every record.
  std::vector<std::pair<int, std::string>> Records(size_t messageChars = 200) const {
    std::vector<std::pair<int, std::string>> out;
    for (const PtkRecordFields& r : Ptk().records) out.emplace_back(r.status, r.message.substr(0, messageChars));
    return out;
  }
  // The local mirror of "kvftp.log".
  std::string Mirror() const { return tree.Posix("work/FTPLog/127.0.0.1/kvftp.log"); }

  // Every entry below a folder of the tree ("a", "sub/b"), sorted.
  std::vector<std::string> Entries(const std::string& rel) const {
    std::vector<std::string> names;
    const std::string root = tree.Posix(rel);
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
      names.push_back(std::filesystem::relative(e.path(), root).string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string Sha(const std::string& rel) const { return Sha256OfFile(tree.Posix(rel)); }
};

}  // namespace kv::test
