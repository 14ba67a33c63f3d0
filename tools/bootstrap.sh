#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the build and the tests need, only when some are missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libhidapi-dev libudev-dev
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins
  libfftw3-dev libsndfile1-dev qt6-multimedia-dev pulseaudio pulseaudio-utils
  clang libclang-rt-14-dev
  fonts-wqy-microhei fonts-liberation2 qt6-translations-l10n
  dpkg-dev desktop-file-utils appstream shared-mime-info libxml2-utils groff-base
  libcli11-dev jq
  # The remote server and the editor's QR code for its address.
  qt6-httpserver-dev qt6-websockets-dev libqrencode-dev
  # The phone page's test in a real browser (headless Chromium driven through its WebDriver).
  chromium chromium-driver python3-selenium
  # The package stage: dpkg-shlibdeps (through CPack) needs file; the package is checked by lintian.
  file lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
