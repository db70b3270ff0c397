#!/usr/bin/env bash
# Unpacks the FTP daemons that the tests run beside vsftpd into BUILD_DIR/ftpservers.
# Their Debian packages conflict with vsftpd (and with each other) as installed
# packages, so they are downloaded and unpacked instead; their libraries come
# from scripts/install-deps.sh. Without a package source the tests that need
# them skip with a message.
set -uo pipefail
target="${1:?usage: $0 BUILD_DIR}/ftpservers"
[ -x "$target/usr/sbin/proftpd" ] && [ -x "$target/usr/sbin/pure-ftpd" ] && exit 0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chown _apt "$work" 2>/dev/null || true  # apt downloads as _apt where it can
if (cd "$work" && apt-get download -q proftpd-core pure-ftpd); then
  mkdir -p "$target"
  for deb in "$work"/*.deb; do dpkg-deb -x "$deb" "$target"; done
else
  echo "warning: proftpd-core and pure-ftpd could not be downloaded; their FTP tests will skip" >&2
fi
