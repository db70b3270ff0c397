#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libjpeg-dev libacl1-dev acl
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  python3 python3-pyftpdlib trash-cli libglib2.0-bin rsync
  vsftpd libhiredis0.14 libmemcached11 libmemcachedutil2 libpcre2-posix3 libsodium23  # FTP server fixtures
  msmtp python3-aiosmtpd
  openssl  # digests of transferred files in the FTP tests
  libldap-2.5-0 libwrap0  # ftp-proxy, unpacked for the proxy login tests
  php-cli rhash python3-crcmod
  libcrypto++-dev python3-pycryptodome openssl  # cipher oracles
  iproute2  # veth pairs in the network watcher's namespace test
  xvfb xauth libjpeg-turbo-progs  # window tests on a real X server; djpeg as the picture's oracle
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends "${missing[@]}"
fi
