#!/bin/sh
# Takes docs/gui-mid-run.png and docs/gui-main-window.png: one run of the
# front end on a simulated bench of two modules, the second never ready for
# the update, under Xvfb, pictured during the first module's run and when the
# run has ended with the second one not updated.
#   gui/tools/screenshot.sh [BUILD_DIR]        (default: build)
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
cmake --build "$BUILD" --target tarvGuiScreenshot tarvCanFlash tarvpcan3 tarvcanapi
WORK=$(mktemp -d /tmp/firmware.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cp "$ROOT/examples/K3B7_421.hex" "$WORK/"
cat > "$WORK/bench.ini" <<'INI'
[adapter.a]
index = 0
driver = pcan_usb
backend = sim

[module.m]
adapter = 0
address = 1
name = K3B7
image = m.s3

[module.n]
adapter = 0
address = 3
name = K3B7
never_ready = true
image = n.s3
INI
mkdir -p "$ROOT/docs"
# Run from the firmware's folder, so that the file field shows its plain name.
cd "$WORK"
TARVCAN_CONFIG="$WORK/bench.ini" XDG_CONFIG_HOME="$WORK/config" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 800x600x24" \
  "$BUILD/bin/tarvGuiScreenshot" K3B7_421.hex "$ROOT/docs/gui-main-window.png" "$ROOT/docs/gui-mid-run.png"
echo "wrote $ROOT/docs/gui-mid-run.png and $ROOT/docs/gui-main-window.png"
