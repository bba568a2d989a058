#!/usr/bin/env bash
# Installs the Debian packages Tandem builds with (skipped when all are present).
set -euo pipefail
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
      libsimpleini-dev libcli11-dev libsoxr-dev libfftw3-dev libsimde-dev pkg-config qt6-base-dev qt6-multimedia-dev libqt6svg6 fonts-noto-cjk qt6-l10n-tools qt6-translations-l10n locales gettext
      xvfb xauth strace qemu-user python3)
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
# The Japanese command-line test needs the ja_JP.UTF-8 locale, which a fresh Debian
# does not generate.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  if [ -f /etc/locale.gen ] && grep -q '^# *ja_JP.UTF-8 UTF-8' /etc/locale.gen; then
    $sudo sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    $sudo locale-gen >/dev/null
  else
    $sudo localedef -i ja_JP -c -f UTF-8 -A /usr/share/locale/locale.alias ja_JP.UTF-8
  fi
fi
