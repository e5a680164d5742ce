#!/usr/bin/env bash
# cmake --install into a temporary prefix, then the installed programs as a
# technician starts them, by their links in P/bin: tarvCanFlash flashes a copy
# of the installed demo bench (its images and trace are written beside the
# bench file, and /usr/share is read-only), the wire judge reads the trace,
# the installed tarvModuleSim verifies the images, and the front end starts
# offscreen.
# usage: install-run.sh BUILD_DIR WIRE_JUDGE
set -euo pipefail
build=$1 judge=$2
work=$(mktemp -d)
gui=
trap '[ -n "$gui" ] && kill "$gui" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
show() { echo "--- $1"; cat "$1"; }

cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" \
  || { show "$work/install.log"; fail "cmake --install"; }
prefix=$(realpath "$work/prefix")
programs=$prefix/lib/tarvcanflash
# Nothing of the build folder may help the installed programs along.
unset LD_LIBRARY_PATH TARVCAN_CONFIG
export PATH="$prefix/bin:/usr/bin:/bin" HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
cd "$work"

# ldd's output is taken whole first: grep -q stops reading at the match, and
# under pipefail the writer's SIGPIPE would fail a good result.
deps=$(ldd "$programs/libtarvpcan3.so")
grep -qF "libtarvcanapi.so => $programs/libtarvcanapi.so " <<<"$deps" \
  || { echo "$deps"; fail "tarvpcan3 does not take libtarvcanapi from its own folder"; }

rc=0
tarvCanFlash >"$work/usage.out" 2>&1 </dev/null || rc=$?
[ "$rc" -eq 1 ] && grep -q '^Syntax: tarvCanFlash ' "$work/usage.out" \
  || { show "$work/usage.out"; fail "tarvCanFlash without arguments: exit code $rc, no usage"; }

bench=$work/bench
cp -r "$prefix/share/tarvcanflash/examples" "$bench"
ini=$bench/bench-demo.ini
# value KEY: the values of KEY in the demo bench, one a line.
value() { sed -n "s/^$1 *= *\([^ ;]*\).*/\1/p" "$ini"; }
trace=$(value trace)
images=$(value image)
[ "$(echo "$trace" | wc -w)" -eq 1 ] && [ -n "$images" ] \
  || fail "the demo bench needs one trace and images"
firmware=$bench/K3B7_421.hex
rc=0
TARVCAN_CONFIG=$ini tarvCanFlash PCAN_USB 125 0 "$firmware" CLOSE_AUTO \
  >"$work/flash.out" 2>"$work/flash.err" </dev/null || rc=$?
[ "$rc" -eq 0 ] || { show "$work/flash.out"; show "$work/flash.err"; fail "tarvCanFlash exit code $rc"; }
grep -qF "\"$programs/libtarvpcan3.so\" loaded succesfully" "$work/flash.err" \
  || { show "$work/flash.err"; fail "tarvpcan3 not loaded from $programs"; }
"$judge" --trace "$bench/$trace" --firmware "$firmware" --out "$work/flash.out" --err "$work/flash.err" \
  || fail "the wire judge refused the run"
for image in $images; do
  tarvModuleSim --verify "$firmware" "$bench/$image" || fail "image $image"
done

# The platform plugin is loaded once QApplication stands; the window comes
# next, and the program must still be running a moment later. An ended child
# stays a zombie until waited for, so its state is read, not kill -0.
running() { local state; state=$(sed -n 's/.*) \(.\).*/\1/p' "/proc/$1/stat" 2>/dev/null); [ -n "$state" ] && [ "$state" != Z ]; }
QT_QPA_PLATFORM=offscreen tarvCanFlashGui >"$work/gui.log" 2>&1 </dev/null &
gui=$!
for _ in $(seq 100); do
  running "$gui" || break
  grep -q libqoffscreen "/proc/$gui/maps" 2>/dev/null && break
  sleep 0.2
done
grep -q libqoffscreen "/proc/$gui/maps" 2>/dev/null && sleep 2 && running "$gui" \
  || { show "$work/gui.log"; fail "tarvCanFlashGui did not start"; }
echo "ok"
