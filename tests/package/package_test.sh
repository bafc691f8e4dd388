#!/usr/bin/env bash
# The Debian package as a user gets it. Packs the build with cpack into a temporary folder,
# unpacks the .deb with dpkg-deb -x, checks its files, its man page and its Depends, then runs the
# unpacked program under Xvfb with COM2 on the simulated board's pseudo-terminal, waits for its
# window and closes it as a window manager would.
#   usage: package_test.sh BUILD_DIR CPACK
set -euo pipefail
build=$(realpath "$1")
cpack=$2
bin=$build/bin

work=$(mktemp -d "${TMPDIR:-/tmp}/quenby-package.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "package_test: $*" >&2
    exit 1
}
show_log() { sed 's/^/  | /' "$1" >&2; }

# Pack. -B keeps the build directory's own package and staging area untouched.
if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" \
    >"$work/cpack.log" 2>&1; then
    show_log "$work/cpack.log"
    fail "cpack failed"
fi
debs=("$work"/out/quenby_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one quenby_*.deb, got: ${debs[*]}"
deb=${debs[0]}
root=$work/root
dpkg-deb -x "$deb" "$root"

# Exactly these files: the program and what a user reads, no test tools, no simulated board.
expected="usr/bin/quenby
usr/share/applications/quenby.desktop
usr/share/doc/quenby/changelog.gz
usr/share/doc/quenby/copyright
usr/share/icons/hicolor/32x32/apps/quenby.png
usr/share/man/man1/quenby.1.gz"
actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "files in the package:
$actual
expected:
$expected"

program=$root/usr/bin/quenby
desktop=$root/usr/share/applications/quenby.desktop
[ -x "$program" ] || fail "usr/bin/quenby is not executable"
file -b "$program" | grep -q 'ELF.*, stripped' || fail "usr/bin/quenby is not a stripped program"
grep -qx 'Exec=quenby' "$desktop" || fail "desktop entry does not run quenby"
grep -qx 'Icon=quenby' "$desktop" || fail "desktop entry does not name the icon"
icon=$root/usr/share/icons/hicolor/32x32/apps/quenby.png
file -b "$icon" | grep -q '^PNG image data, 32 x 32' || fail "the icon is not a 32x32 PNG"
grep -q 'Copyright' "$root/usr/share/doc/quenby/copyright" || fail "copyright file states none"

# The man page: gzip without a time stamp, renders without a warning, covers what it must.
man_gz=$root/usr/share/man/man1/quenby.1.gz
gzip -t "$man_gz" || fail "man page is not valid gzip"
[ "$(od -An -tu4 -j4 -N4 "$man_gz" | tr -d ' ')" = 0 ] || fail "man page gzip has a time stamp"
LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$man_gz" \
    >"$work/man.txt" 2>"$work/man.err" || fail "man cannot render the page"
[ ! -s "$work/man.err" ] || { show_log "$work/man.err"; fail "man page has warnings"; }
for text in QUENBY_COM1 QUENBY_COM4 dialout /dev/ttyS0 /dev/ttyS3 38400 115200 \
    を開けませんでした を開きました ファイル転送中です \
    ファイル転送終了しました ファイル転送に失敗しました ファイルを開けませんでした \
    0x55データ送信 0xAAデータ送信 0x55データ送信失敗 0xAAデータ送信失敗; do
    grep -qF -- "$text" "$work/man.txt" || fail "man page does not mention $text"
done

# Depends comes from the binary: the Qt 6 widgets library and the C library, as package names.
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libc6; do
    grep -qE "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done
for field in Maintainer Section Description; do
    [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "control field $field is empty"
done

# The unpacked program opens its window on a display of its own, COM2 on a pseudo-terminal.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { show_log "$work/xvfb.log"; fail "Xvfb did not start"; }
export DISPLAY=":$(head -n 1 "$work/display")" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work"

"$bin/quenby-board" --quiet >"$work/board.out" 2>"$work/board.err" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/board.out" ] && break; sleep 0.05; done
tty=$(head -n 1 "$work/board.out")
if [ ! -c "$tty" ]; then
    show_log "$work/board.err"
    fail "the simulated board printed no pseudo-terminal"
fi

mkdir "$work/cwd"
(cd "$work/cwd" && QUENBY_COM1="$tty" QUENBY_COM2="$tty" QUENBY_COM3="$tty" QUENBY_COM4="$tty" \
    exec "$program") >"$work/quenby.out" 2>"$work/quenby.err" &
app=$!
pids+=("$app")
if ! window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Quenby $' | head -n 1) ||
    [ -z "$window" ]; then
    show_log "$work/quenby.err"
    fail "no window titled \"Quenby \" was mapped within 30 s"
fi
if grep -q 'cannot open' "$work/quenby.err"; then
    show_log "$work/quenby.err"
    fail "the program did not open COM2 on $tty"
fi

"$bin/quenby-close-window" "$window" || fail "could not ask the window to close"
for _ in $(seq 200); do kill -0 "$app" 2>/dev/null || break; sleep 0.05; done
if kill -0 "$app" 2>/dev/null; then
    show_log "$work/quenby.err"
    fail "the program did not end within 10 s of the close"
fi
status=0
wait "$app" || status=$?
if [ "$status" -ne 0 ]; then
    show_log "$work/quenby.err"
    fail "the program ended with status $status"
fi
echo "package_test: $(basename "$deb") holds its files; Depends: $depends"
echo "package_test: the unpacked program opened its window and ended with status 0 on close"
