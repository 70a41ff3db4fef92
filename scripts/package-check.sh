#!/usr/bin/env bash
# Builds the Debian package from the default build and checks it as a user's machine would see it:
# unpacked into a scratch folder (dpkg-deb -x), its declared dependencies (dpkg-deb -I), the
# unpacked programs' versions, the unpacked remcons against its built-in simulator, the man pages
# (man -l, without warnings), the desktop entry and the capture files' type.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/default
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "package: $*" >&2
  exit 1
}

rm -f "$build"/remcons_*.deb
(cd "$build" && cpack -G DEB) >"$scratch/cpack.txt" 2>&1 || fail "cpack: $(cat "$scratch/cpack.txt")"
deb=$(ls "$build"/remcons_*_"$(dpkg --print-architecture)".deb)

dpkg-deb -x "$deb" "$scratch"
depends=$(dpkg-deb -I "$deb" | sed -n 's/^ Depends: //p')
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 zlib1g; do
  grep -q "\b$lib\b" <<<"$depends" || fail "$deb does not declare $lib (Depends: $depends)"
done

root="$scratch/usr"
for program in remcons remcons-tool mpsim; do
  [ -x "$root/bin/$program" ] || fail "no $program in bin/"
  "$root/bin/$program" --version | grep -qx "$program [0-9.]*" || fail "$program --version"
done
env -u DISPLAY -u WAYLAND_DISPLAY "$root/bin/remcons" --demo --headless --seconds 2 \
  --events "$scratch/events.json" --snapshot "$scratch/demo.png" 2>"$scratch/err.txt" ||
  fail "the unpacked remcons --demo --headless failed: $(cat "$scratch/err.txt")"
grep -q '"event":"OnResize"' "$scratch/events.json" || fail "the demo showed no picture"
[ -s "$scratch/demo.png" ] || fail "the demo wrote no snapshot"

for page in remcons remcons-tool mpsim; do
  file="$root/share/man/man1/$page.1.gz"
  MANWIDTH=100 man --warnings -l "$file" 2>"$scratch/man.txt" | grep -q "$page" ||
    fail "man -l $file shows nothing"
  [ ! -s "$scratch/man.txt" ] || fail "man -l $file: $(cat "$scratch/man.txt")"
done
desktop-file-validate "$root/share/applications/remcons.desktop"
xmllint --noout "$root/share/mime/packages/remcons.xml"
for size in 16 32 48 64 128 256; do
  [ -s "$root/share/icons/hicolor/${size}x${size}/apps/remcons.png" ] || fail "no ${size}px icon"
done
echo "package: $(basename "$deb") checked ($(du -k "$deb" | cut -f1) KiB)"
