#pragma once
// The FTP component's published enumerations. Their numeric values are stored
// and compared by callers (the listing parser takes the server style), so the
// order never changes.

namespace kv {

enum TMFtpServerType : int {
  ftpstAutoDetect = 0,
  ftpstDefault,
  ftpstUNIX,
  ftpstULTRIX,
  ftpstClix,
  ftpstChameleon,
  ftpstNCSA,
  ftpstQVT,
  ftpstBSD,
  ftpstSunOS,
  ftpstVmsMultinet,
  ftpstVmsUcx,
  ftpstMVS,
  ftpstVM,
  ftpstVMVPS,
  ftpstMSFTP,
  ftpstNetTerm,
  ftpstServU,
  ftpstWFTPD,
  ftpWarFTPD,
  ftpstNetware,
  ftpstNetPresenz,
};

enum TMFtpTransferType : int { AsciiTransfer = 0, BinaryTransfer };

enum TMFtpProxyType : int {
  proxyNone = 0,
  proxyHost,
  proxyHostUser,
  proxyOpen,
  proxySite,
  proxyUserSite,
};

}  // namespace kv
