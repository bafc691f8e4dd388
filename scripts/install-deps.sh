#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the demo and the benchmarks need.
# The one list of packages lives here; only missing ones are installed.
set -euo pipefail

packages=(
    build-essential cmake make pkg-config
    qt6-base-dev libgl-dev
    libgtest-dev googletest libbenchmark-dev
    fonts-ipafont-gothic
    xvfb xdotool x11-utils imagemagick libxcb1-dev libx11-dev
    clang libclang-rt-14-dev
    util-linux procps
    dpkg-dev file lintian
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q "${missing[@]}"
