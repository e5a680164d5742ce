#!/usr/bin/env bash
# The Debian package of the finished build: cpack into a temporary folder, then
# dpkg-deb's view of it (file list, owners, dependencies), apt's dependency
# resolution of an install, the menu entry, and the console program run from
# the unpacked package through its link in usr/bin.
# usage: package-check.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/out/tarvcanflash_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "no single tarvcanflash_*.deb"
deb=${debs[0]}
field() { dpkg-deb -f "$deb" "$1"; }
version=$(field Version)
[ "$(basename "$deb")" = "tarvcanflash_${version}_$(dpkg --print-architecture).deb" ] \
  || fail "package file name $(basename "$deb")"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture $(field Architecture)"

# Exactly these files: no test program, benchmark or fuzzer slips in.
dpkg-deb -c "$deb" >"$work/contents"
awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' "$work/contents" | sort >"$work/files"
{
  for program in tarvCanFlash tarvCanFlashGui tarvModuleSim; do
    echo "./usr/bin/$program -> ../lib/tarvcanflash/$program"
    echo "./usr/lib/tarvcanflash/$program"
  done
  echo "./usr/lib/tarvcanflash/libtarvcanapi.so"
  echo "./usr/lib/tarvcanflash/libtarvpcan3.so -> libtarvpcan3.so.${version%%.*}"
  echo "./usr/lib/tarvcanflash/libtarvpcan3.so.${version%%.*} -> libtarvpcan3.so.$version"
  echo "./usr/lib/tarvcanflash/libtarvpcan3.so.$version"
  echo "./usr/share/applications/tarvcanflash.desktop"
  echo "./usr/share/icons/hicolor/64x64/apps/tarvcanflash.png"
  for example in "$source"/examples/*.ini "$source"/examples/K3B7_421.hex; do
    echo "./usr/share/tarvcanflash/examples/$(basename "$example")"
  done
} | sort >"$work/expected"
diff -u "$work/expected" "$work/files" || fail "file list (- expected, + packaged)"
awk '$2 != "root/root" { bad = 1; print } END { exit bad }' "$work/contents" || fail "files not owned by root"

# The dependencies dpkg-shlibdeps found in the programs' and libraries' links.
depends=$(field Depends)
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialbus6; do
  [[ ", $depends," == *", $package (>= "* ]] || fail "Depends lacks a versioned $package: $depends"
done
apt-get install --simulate "$deb" >"$work/apt.log" 2>&1 \
  || { cat "$work/apt.log"; fail "apt cannot resolve an install of the package"; }

dpkg-deb -x "$deb" "$work/root"
entry=$work/root/usr/share/applications/tarvcanflash.desktop
# Hints too: an entry without a main category lands in a catch-all menu.
validation=$(desktop-file-validate "$entry" 2>&1) && [ -z "$validation" ] || fail "desktop entry: $validation"
[ -x "$work/root/usr/bin/$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")" ] || fail "the entry's Exec is not in usr/bin"
[ -f "$work/root/usr/share/icons/hicolor/64x64/apps/$(sed -n 's/^Icon=//p' "$entry").png" ] \
  || fail "the entry's Icon is not installed"

rc=0
env -u LD_LIBRARY_PATH "$work/root/usr/bin/tarvCanFlash" >"$work/usage.out" 2>&1 </dev/null || rc=$?
[ "$rc" -eq 1 ] && grep -q '^Syntax: tarvCanFlash ' "$work/usage.out" \
  || { cat "$work/usage.out"; fail "packaged tarvCanFlash: exit code $rc, no usage"; }
echo "ok"
