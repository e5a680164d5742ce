#!/usr/bin/env bash
# The Debian package of the finished build: cpack into a temporary folder, then
# dpkg-deb's view of it (file list, owners, dependencies), apt's dependency
# resolution of an install, lintian, the manual pages, the changelog, the menu
# entry, the console program run from the unpacked package through its link in
# usr/bin, and an install and purge into a scratch root with dpkg --root.
# Nothing is installed on this machine.
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
pages=(tarvCanFlash tarvCanFlashGui tarvModuleSim)
dpkg-deb -c "$deb" >"$work/contents"
grep -q '^\./usr/share/man/man1/' <(awk '{ print $6 }' "$work/contents") \
  || fail "no manual pages in the package: was scdoc installed when the build was configured? (./run setup)"
# Nothing in /etc: the package has no conffiles, and a bench file there is the administrator's.
! awk '{ print $6 }' "$work/contents" | grep '^\./etc' || fail "the package ships files in /etc"
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
  echo "./usr/share/icons/hicolor/scalable/apps/tarvcanflash.svg"
  for size in 16 32 48 64 128 256; do
    echo "./usr/share/icons/hicolor/${size}x$size/apps/tarvcanflash.png"
  done
  for doc in README.md changelog.gz copyright; do
    echo "./usr/share/doc/tarvcanflash/$doc"
  done
  for page in "${pages[@]}"; do
    echo "./usr/share/man/man1/$page.1.gz"
  done
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

# lintian: no error, and no warning beyond these, each kept by design
# (the reasons are in the README).
allowed_warnings=(
)
command -v lintian >/dev/null || fail "lintian is not installed (./run setup)"
lintian --no-cfg --ignore-lintian-env --color never --tag-display-limit 0 --fail-on none "$deb" \
  >"$work/lintian.out" 2>"$work/lintian.err" \
  || { cat "$work/lintian.out" "$work/lintian.err"; fail "lintian did not run"; }
! grep '^E: ' "$work/lintian.out" || fail "lintian errors"
unexpected=$(awk '$1 == "W:" { print $3 }' "$work/lintian.out" | sort -u \
  | grep -vxF -f <(printf '%s\n' "${allowed_warnings[@]}" "(none)")) \
  && { grep '^W: ' "$work/lintian.out"; fail "lintian warnings not allowed: $unexpected"; }

dpkg-deb -x "$deb" "$work/root"
doc=$work/root/usr/share/doc/tarvcanflash
# The changelog's latest entry is this package and version.
changelog=$(gzip -dc "$doc/changelog.gz" | head -n1)
[[ "$changelog" == "tarvcanflash ($version) "* ]] || fail "changelog entry \"$changelog\", package version $version"
# Every page renders without a complaint from groff or man.
for page in "${pages[@]}"; do
  file=$work/root/usr/share/man/man1/$page.1.gz
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$file" 2>&1 >"$work/page.txt") \
    && [ -z "$warnings" ] || fail "man $page: $warnings"
  grep -q "^NAME" "$work/page.txt" && grep -q "^ *$page - " "$work/page.txt" || fail "man $page: no NAME line for $page"
done
entry=$work/root/usr/share/applications/tarvcanflash.desktop
# Hints too: an entry without a main category lands in a catch-all menu.
validation=$(desktop-file-validate "$entry" 2>&1) && [ -z "$validation" ] || fail "desktop entry: $validation"
[ -x "$work/root/usr/bin/$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")" ] || fail "the entry's Exec is not in usr/bin"
[ -f "$work/root/usr/share/icons/hicolor/64x64/apps/$(sed -n 's/^Icon=//p' "$entry").png" ] \
  || fail "the entry's Icon is not installed"

rc=0
env -u LD_LIBRARY_PATH "$work/root/usr/bin/tarvCanFlash" --help >"$work/usage.out" 2>&1 </dev/null || rc=$?
[ "$rc" -eq 0 ] && grep -q '^Syntax: tarvCanFlash ' "$work/usage.out" \
  || { cat "$work/usage.out"; fail "packaged tarvCanFlash --help: exit code $rc, no usage"; }

# Install and purge into a scratch root with its own dpkg database, which knows
# no trigger of this machine: the purge leaves nothing but dpkg's own files
# behind. The package has no maintainer scripts; dpkg would run one chrooted
# into the scratch root, which has no shell, so the install would fail here.
if [ "$(id -u)" -eq 0 ]; then
  scratch=$work/scratch
  mkdir -p "$scratch/var/lib/dpkg/info" "$scratch/var/lib/dpkg/updates"
  touch "$scratch/var/lib/dpkg/status" "$scratch/var/lib/dpkg/available"
  in_scratch() { dpkg --root="$scratch" --log=/dev/null --force-depends "$@"; }
  in_scratch --install "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --install into a scratch root"; }
  [ -x "$scratch/usr/bin/tarvCanFlash" ] || fail "dpkg --install into a scratch root installed no tarvCanFlash"
  in_scratch --purge tarvcanflash >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --purge in a scratch root"; }
  left=$(cd "$scratch" && find . -path ./var/lib/dpkg -prune -o ! -type d -print -o -type d -empty ! -name . -print)
  [ -z "$left" ] || fail "left behind after the purge: $left"
else
  echo "install and purge skipped: dpkg --root needs root"
fi
echo "ok"
