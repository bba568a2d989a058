#!/usr/bin/env bash
# Installs the Debian packages Tandem builds with (skipped when all are present).
set -euo pipefail
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
      libsimpleini-dev libcli11-dev libsoxr-dev libfftw3-dev libsimde-dev pkg-config qt6-base-dev qt6-multimedia-dev libqt6svg6 fonts-noto-cjk qt6-l10n-tools qt6-translations-l10n locales gettext
      xvfb xauth strace)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
