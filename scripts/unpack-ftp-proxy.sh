#!/usr/bin/env bash
# Unpacks Debian's ftp-proxy into BUILD_DIR/ftpservers for the proxy login
# tests. It is only downloaded and unpacked, never installed: the tests start
# it themselves in its one-connection mode. Its libraries come from
# scripts/install-deps.sh. Without a package source the tests that need it
# skip with a message.
set -uo pipefail
target="${1:?usage: $0 BUILD_DIR}/ftpservers"
[ -x "$target/usr/sbin/ftp-proxy" ] && exit 0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chown _apt "$work" 2>/dev/null || true  # apt downloads as _apt where it can
if (cd "$work" && apt-get download -q ftp-proxy); then
  mkdir -p "$target"
  dpkg-deb -x "$work"/ftp-proxy_*.deb "$target"
else
  echo "warning: ftp-proxy could not be downloaded; its proxy tests will skip" >&2
fi
