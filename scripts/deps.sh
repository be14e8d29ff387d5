#!/usr/bin/env bash
# Installs the Debian packages the panel and its tests need, when missing.
set -euo pipefail
pkgs=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev xvfb xauth fonts-dejavu-core)
# The production record: QtSql's drivers; the server for its PostgreSQL test.
pkgs+=(libqt6sql6-sqlite libqt6sql6-psql libsqlite3-dev postgresql)
# Module labels: the QR code library, pkg-config to find it, zbarimg to read
# labels back; printing: the CUPS client (lp) and a scheduler the test starts.
pkgs+=(pkg-config libqrencode-dev zbar-tools cups-client cups-daemon)
# The package check of the test suite: dpkg-shlibdeps, validators, man.
pkgs+=(dpkg-dev file desktop-file-utils appstream man-db)
# The driver tests: a QEMU machine booting Debian's kernel with busybox.
pkgs+=(qemu-system-x86 linux-image-amd64 busybox-static kmod python3)
[ "${TW_WITH_BENCH:-0}" = 1 ] && pkgs+=(libvterm-dev)
[ "${TW_WITH_PACKAGE:-0}" = 1 ] && pkgs+=(lintian)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
