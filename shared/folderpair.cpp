#include "shared/folderpair.h"

#include <stdexcept>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/record.h"
#include "platform/text.h"

namespace kv {
namespace {

using platform::Quoted;

using platform::RecordReader;
using platform::RecordWriter;

constexpr size_t kNameWidth = 255;

// TFolderPair layout.
constexpr size_t kOffSourceRoot = 0;
constexpr size_t kOffDestinationRoot = 256;
constexpr size_t kOffActive = 512;
constexpr size_t kOffSubfolders = 513;
constexpr size_t kOffFilterMode = 514;
constexpr size_t kOffStrategy = 516;
constexpr size_t kOffPairKind = 560;
constexpr size_t kOffSourceSite = 564;
constexpr size_t kOffDestinationSite = 2196;

// TFtpSite layout, relative to the block.
constexpr size_t kSiteHost = 81;
constexpr size_t kSitePort = 596;
constexpr size_t kSiteUser = 600;
constexpr size_t kSiteProxyHost = 856;
constexpr size_t kSiteProxyPort = 1112;
constexpr size_t kSiteProxyOn = 1116;
constexpr size_t kSitePassword = 1117;
constexpr size_t kSiteAccount = 1373;

// Field names for the error of a text that does not fit, per side.
struct SiteFieldNames {
  const char* host;
  const char* user;
  const char* proxyHost;
  const char* password;
  const char* account;
};
constexpr SiteFieldNames kSourceSiteNames{"source site host", "source site user", "source site proxy host",
                                          "source site password", "source site account"};
constexpr SiteFieldNames kDestinationSiteNames{"destination site host", "destination site user",
                                               "destination site proxy host", "destination site password",
                                               "destination site account"};

void EncodeSite(RecordWriter& w, size_t base, const TFtpSite& site, const SiteFieldNames& names) {
  w.TextExact(base + kSiteHost, kNameWidth, site.host, names.host);
  w.I32(base + kSitePort, site.port);
  w.TextExact(base + kSiteUser, kNameWidth, site.user, names.user);
  w.TextExact(base + kSiteProxyHost, kNameWidth, site.proxyHost, names.proxyHost);
  w.I32(base + kSiteProxyPort, site.proxyPort);
  w.U8(base + kSiteProxyOn, site.proxyOn);
  w.TextExact(base + kSitePassword, kNameWidth, site.password, names.password);
  w.TextExact(base + kSiteAccount, kNameWidth, site.account, names.account);
}

TFtpSite DecodeSite(const RecordReader& r, size_t base) {
  TFtpSite site;
  site.host = r.Text(base + kSiteHost, kNameWidth);
  site.port = r.I32(base + kSitePort);
  site.user = r.Text(base + kSiteUser, kNameWidth);
  site.proxyHost = r.Text(base + kSiteProxyHost, kNameWidth);
  site.proxyPort = r.I32(base + kSiteProxyPort);
  site.proxyOn = r.U8(base + kSiteProxyOn);
  site.password = r.Text(base + kSitePassword, kNameWidth);
  site.account = r.Text(base + kSiteAccount, kNameWidth);
  return site;
}

}  // namespace

std::optional<uint8_t> TSyncStrategy::ActionForState(int state) const {
  std::optional<int> pair = StrategyPairForState(state);
  if (!pair) return std::nullopt;
  return pairs[*pair].action;
}

std::optional<int> TSyncStrategy::FlagForState(int state) const {
  std::optional<int> pair = StrategyPairForState(state);
  if (!pair || !StrategyPairDirectionIsRead(*pair)) return std::nullopt;
  return FlagFromStrategyDirection(pairs[*pair].direction);
}

std::array<uint8_t, TSyncStrategy::kSize> TSyncStrategy::Bytes() const {
  std::array<uint8_t, kSize> bytes{};
  for (size_t k = 0; k < pairs.size(); ++k) {
    bytes[2 * k] = pairs[k].direction;
    bytes[2 * k + 1] = pairs[k].action;
  }
  return bytes;
}

TSyncStrategy TSyncStrategy::FromBytes(std::span<const uint8_t> bytes) {
  if (bytes.size() != kSize) throw std::invalid_argument("TSyncStrategy::FromBytes: a strategy has 20 bytes");
  TSyncStrategy strategy;
  for (size_t k = 0; k < strategy.pairs.size(); ++k) {
    strategy.pairs[k] = {bytes[2 * k], bytes[2 * k + 1]};
  }
  return strategy;
}

const TFtpSite* TFolderPair::FtpSite() const {
  if (pairKind == kPairKindFtpSource) return &sourceSite;
  if (pairKind == kPairKindFtpDestination) return &destinationSite;
  return nullptr;
}

std::vector<uint8_t> TFolderPair::Encode() const {
  RecordWriter w(kSize);
  w.TextExact(kOffSourceRoot, kNameWidth, sourceRoot, "source root");
  w.TextExact(kOffDestinationRoot, kNameWidth, destinationRoot, "destination root");
  w.U8(kOffActive, active);
  w.U8(kOffSubfolders, subfolders);
  w.U8(kOffFilterMode, filterMode);
  std::array<uint8_t, TSyncStrategy::kSize> strategyBytes = strategy.Bytes();
  for (size_t i = 0; i < strategyBytes.size(); ++i) w.U8(kOffStrategy + i, strategyBytes[i]);
  w.U8(kOffPairKind, pairKind);
  EncodeSite(w, kOffSourceSite, sourceSite, kSourceSiteNames);
  EncodeSite(w, kOffDestinationSite, destinationSite, kDestinationSiteNames);
  return w.take();
}

TFolderPair TFolderPair::Decode(std::span<const uint8_t> bytes) {
  if (bytes.size() != kSize) throw std::invalid_argument("TFolderPair::Decode: a record has 3828 bytes");
  RecordReader r(bytes);
  TFolderPair pair;
  pair.sourceRoot = r.Text(kOffSourceRoot, kNameWidth);
  pair.destinationRoot = r.Text(kOffDestinationRoot, kNameWidth);
  pair.active = r.U8(kOffActive);
  pair.subfolders = r.U8(kOffSubfolders);
  pair.filterMode = r.U8(kOffFilterMode);
  pair.strategy = TSyncStrategy::FromBytes(bytes.subspan(kOffStrategy, TSyncStrategy::kSize));
  pair.pairKind = r.U8(kOffPairKind);
  pair.sourceSite = DecodeSite(r, kOffSourceSite);
  pair.destinationSite = DecodeSite(r, kOffDestinationSite);
  return pair;
}

FolderPairFile ReadFolderPairs(std::string_view path) {
  FolderPairFile file;
  std::vector<uint8_t> bytes;
  if (!platform::ReadWholeFile(path, bytes)) {
    file.error = "Ordnerpaar-Datei " + Quoted(path) + " nicht lesbar: " +
                 platform::SysErrorMessage(platform::GetLastError());
    return file;
  }
  file.ok = true;
  const std::span<const uint8_t> all(bytes);
  size_t at = 0;
  for (; at + TFolderPair::kSize <= all.size(); at += TFolderPair::kSize) {
    file.pairs.push_back(TFolderPair::Decode(all.subspan(at, TFolderPair::kSize)));
  }
  file.ignoredTailBytes = all.size() - at;
  if (file.ignoredTailBytes != 0) {
    file.note = "Ordnerpaar-Datei " + Quoted(path) + ": unvollständiger letzter Datensatz (" +
                std::to_string(file.ignoredTailBytes) + " von " + std::to_string(TFolderPair::kSize) +
                " Bytes) ignoriert";
  }
  return file;
}

}  // namespace kv
