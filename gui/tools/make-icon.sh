#!/bin/sh
# Renders the icon of tarvCanFlash from its one drawing, gui/images/tarvcanflash.svg
# (a module front in dark blue with a yellow high-voltage flash and a CAN bus
# line): the window icon (64 x 64 PNG, and the Windows icon with 64, 32 and
# 16 pixels), and the PNGs of the menu entry's icon theme sizes in
# packaging/icons. Run once after changing the drawing; the results are
# committed, so the build needs neither a converter nor this script.
# Needs rsvg-convert (Debian package librsvg2-bin) and python3.
set -eu
RSVG=${RSVG:-rsvg-convert}
cd "$(dirname "$0")/../.."
svg=gui/images/tarvcanflash.svg
render() { "$RSVG" --width "$1" --height "$1" --format png --output "$2" "$svg"; }

render 64 gui/images/tarvFlash64x64.png
for size in 16 32 48 128 256; do
  render "$size" "packaging/icons/tarvcanflash-$size.png"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 64 32 16; do
  render "$size" "$work/$size.png"
done
# The Windows icon: one 32-bit BGRA bitmap (with its AND mask) a size, as
# ImageMagick writes them, read from rsvg-convert's 8-bit RGBA PNGs.
python3 - "$work" gui/images/tarvFlash64x64.ico <<'PY'
import struct, sys, zlib

def read_png(path):
    data = open(path, 'rb').read()
    assert data[:8] == b'\x89PNG\r\n\x1a\n', path
    pos, idat = 8, b''
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
            assert (depth, colour, interlace) == (8, 6, 0), f'{path}: not 8-bit RGBA'
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    raw, stride, rows, prev = zlib.decompress(idat), width * 4, [], bytearray(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    return width, height, rows

def bitmap(width, height, rows):
    header = struct.pack('<IiiHHIIiiII', 40, width, 2 * height, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''.join(bytes(v for px in range(width) for v in (row[4 * px + 2], row[4 * px + 1], row[4 * px], row[4 * px + 3]))
                      for row in reversed(rows))
    mask_stride = ((width + 31) // 32) * 4
    mask = b''
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for px in range(width):
            if row[4 * px + 3] == 0:
                bits[px // 8] |= 0x80 >> (px % 8)
        mask += bytes(bits)
    return header + pixels + mask

work, out = sys.argv[1], sys.argv[2]
images = [(size, bitmap(*read_png(f'{work}/{size}.png'))) for size in (64, 32, 16)]
offset = 6 + 16 * len(images)
ico = struct.pack('<HHH', 0, 1, len(images))
for size, body in images:
    ico += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(body), offset)
    offset += len(body)
open(out, 'wb').write(ico + b''.join(body for _, body in images))
PY
