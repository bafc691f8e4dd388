#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the demo and the benchmarks need.
# The one list of packages lives here; only missing ones are installed.
set -euo pipefail

packages=(
    build-essential cmake make pkg-config
    qt6-base-dev libgl-dev
    libgtest-dev googletest libbenchmark-dev
    fonts-ipafont-gothic
    xvfb xdotool x11-utils imagemagick libxcb1-dev libx11-dev openbox
    locales
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
sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" apt-get install -y -q "${missing[@]}"
fi

# The locales the clock's tests read their time formats from; generated only when missing.
locales=(ja_JP.UTF-8 en_US.UTF-8 de_DE.UTF-8)
have=$(locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]' | sed 's/utf-8/utf8/')
wanted=()
for l in "${locales[@]}"; do
    norm=$(echo "$l" | tr '[:upper:]' '[:lower:]' | sed 's/utf-8/utf8/')
    grep -qx "$norm" <<<"$have" || wanted+=("$l")
done
if [ ${#wanted[@]} -gt 0 ]; then
    echo "install-deps: generating locales ${wanted[*]}"
    for l in "${wanted[@]}"; do
        line="$l ${l#*.}"
        # Uncomment the listed line, or add it when the list lacks it.
        "${sudo[@]}" sed -i "s/^# *$line\$/$line/" /etc/locale.gen
        grep -qx "$line" /etc/locale.gen ||
            echo "$line" | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
    done
    "${sudo[@]}" locale-gen
fi
