#!/usr/bin/env bash
# Draws the program icon (128, both programs) and the banner frames of
# Marlix.exe (147-161: five frames at 100, 150 and 200%). This script is the
# source of the artwork: the files it writes are committed, so run it again
# only to change the artwork.
# Needs ImageMagick, python3 and fonts-nanum.
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/truetype/nanum/NanumBarunGothicBold.ttf
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

blue='#1d5bb8'
red='#e8483b'

# The mark: a white envelope with a red seal at its corner, drawn afresh for
# each size on whole pixels, so that 16 and 32 pixels stay sharp instead of
# being shrunk from a large drawing.
# envelope SIZE BACKGROUND SEAL OUT [ANTIALIAS] [TILE]
envelope() {
  local s=$1 bg=$2 seal=$3 out=$4 aa=${5:-} tile=${6:-}
  local e=$((s / 8))
  local x0=$e x1=$((s - 1 - e)) y0=$((s * 9 / 32)) y1=$((s - 1 - s * 9 / 32 + s / 32))
  local mx=$(((x0 + x1) / 2)) my=$((y0 + (y1 - y0) * 5 / 8))
  local w=$((s / 16 > 1 ? s / 16 : 1))
  local r=$((s * 3 / 16))
  local cx=$((s - 1 - r - s / 32))
  local round=$((s / 6))
  local draw_tile=()
  [ -n "$tile" ] && draw_tile=(-fill "$bg" -draw "roundrectangle 0,0 $((s - 1)),$((s - 1)) $round,$round")
  convert -size "${s}x${s}" xc:none $aa "${draw_tile[@]}" \
    -fill white -draw "rectangle $x0,$y0 $x1,$y1" \
    -stroke "$bg" -strokewidth "$w" -fill none \
    -draw "polyline $x0,$y0 $mx,$my $((x1 - (mx - x0) + (x1 - x0) % 2)),$my $x1,$y0" \
    -fill "$seal" -draw "circle $cx,$cx $cx,$((cx - r + w / 2))" \
    "$out"
}

# Icon 128: the mark on a blue tile. 16 and 32 pixels drawn without
# smoothing, the larger ones smooth.
for size in 16 24 32 48 256; do
  aa=""
  [ "$size" -le 32 ] && aa="+antialias"
  envelope "$size" "$blue" "$red" "$tmp/icon$size.png" "$aa" tile
done
# Each size as raw RGBA for the packer; 16 and 32 also in 16 colours for
# displays of old.
for size in 16 24 32 48; do
  convert "$tmp/icon$size.png" -depth 8 "rgba:$tmp/icon$size.rgba"
done
# Windows reads a PNG inside an icon only as 8-bit RGBA.
convert "$tmp/icon256.png" -depth 8 "PNG32:$tmp/icon256.rgba.png"
for size in 16 32; do
  convert "$tmp/icon$size.png" -background "$blue" -alpha remove -alpha off -colors 16 -depth 8 "rgb:$tmp/icon$size.rgb16"
done
python3 - "$tmp" marlix.ico <<'PY'
# Packs the sizes into one .ico: 16 and 32 pixels in 16 colours, then 16, 24,
# 32 and 48 pixels in 32 bits with alpha, and 256 pixels as PNG. Windows picks
# the deepest image of the size it needs.
import os, struct, sys
tmp, out = sys.argv[1], sys.argv[2]

def mask_rows(alpha, w, h):
    # The AND mask: 1 where the pixel is transparent, rows bottom-up.
    stride = ((w + 31) // 32) * 4
    rows = b''
    for y in reversed(range(h)):
        line = bytearray(stride)
        for x in range(w):
            if alpha[y * w + x] < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        rows += bytes(line)
    return rows

def alpha_of(size):
    rgba = open(os.path.join(tmp, 'icon%d.rgba' % size), 'rb').read()
    return rgba[3::4]

def four_bit(size):
    rgb = open(os.path.join(tmp, 'icon%d.rgb16' % size), 'rb').read()
    pixels = [rgb[i:i + 3] for i in range(0, len(rgb), 3)]
    palette = sorted(set(pixels))
    assert len(palette) <= 16, 'more than 16 colours'
    index = {c: i for i, c in enumerate(palette)}
    alpha = alpha_of(size)
    pal = b''.join(bytes((c[2], c[1], c[0], 0)) for c in palette).ljust(64, b'\0')
    stride = ((size * 4 + 31) // 32) * 4
    xor = b''
    for y in reversed(range(size)):
        line = bytearray(stride)
        for x in range(size):
            i = y * size + x
            v = index[pixels[i]] if alpha[i] >= 128 else 0
            line[x // 2] |= v << (4 * (1 - x % 2))
        xor += bytes(line)
    andm = mask_rows(alpha, size, size)
    bih = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 4, 0, len(xor) + len(andm), 0, 0, 16, 0)
    return size, 16, 4, bih + pal + xor + andm

def true_colour(size):
    rgba = open(os.path.join(tmp, 'icon%d.rgba' % size), 'rb').read()
    xor = b''
    for y in reversed(range(size)):
        row = rgba[y * size * 4:(y + 1) * size * 4]
        xor += b''.join(bytes((row[i + 2], row[i + 1], row[i], row[i + 3])) for i in range(0, len(row), 4))
    andm = mask_rows(rgba[3::4], size, size)
    bih = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 32, 0, len(xor) + len(andm), 0, 0, 0, 0)
    return size, 0, 32, bih + xor + andm

def png(size):
    return size, 0, 32, open(os.path.join(tmp, 'icon%d.rgba.png' % size), 'rb').read()

images = [four_bit(32), four_bit(16)] + [true_colour(s) for s in (48, 32, 24, 16)] + [png(256)]
head = struct.pack('<HHH', 0, 1, len(images))
offset = 6 + 16 * len(images)
body = b''
for size, colours, bits, blob in images:
    head += struct.pack('<BBBBHHII', size % 256, size % 256, colours, 0, 1, bits, len(blob), offset + len(body))
    body += blob
open(out, 'wb').write(head + body)
PY

# Banners 147-151: 402 x 38 pixels, 24 bits; the mark and a one-line slogan in
# white on five related colours, each a soft top-to-bottom gradient with a
# light rule at the foot. The seal turns yellow where red would vanish. The
# same frames are drawn afresh for 150% (152-156) and 200% (157-161), so that
# the banner is sharp at those scales.
slogan="우편번호를 내려받아 빠르고 편리하게 찾아 드립니다"
slogan_alt="우편번호 다운로드와 검색을 빠르고 편리하게!"
# banner ID PERCENT TOP BOTTOM SEAL TEXT
banner() {
  local id=$1 pc=$2 top=$3 bottom=$4 seal=$5 text=$6
  px() { echo $(($1 * pc / 100)); }
  local w h
  w=$(px 402) h=$(px 38)
  envelope "$(px 36)" "$bottom" "$seal" "$tmp/mark$id.png"
  convert -size "${w}x${h}" "gradient:$top-$bottom" \
    "$tmp/mark$id.png" -geometry "+$(px 8)+$(px 1)" -composite \
    -font "$font" -pointsize "$(px 16)" -fill white -gravity West -annotate "+$(px 52)+0" "$text" \
    -fill '#ffffff30' -draw "rectangle 0,$((h - $(px 2))) $((w - 1)),$((h - 1))" \
    -alpha off -type TrueColor -depth 8 "BMP3:banner$id.bmp"
}
# banners FIRST-ID PERCENT
banners() {
  local first=$1 pc=$2
  banner "$first" "$pc" '#2a6fd0' "$blue" "$red" "$slogan"
  banner $((first + 1)) "$pc" '#1a9aa8' '#0f7c8c' "$red" "$slogan_alt"
  banner $((first + 2)) "$pc" '#34a35a' '#2a8a4a' "$red" "$slogan"
  banner $((first + 3)) "$pc" '#5d52b8' '#4a3f9f' "$red" "$slogan"
  banner $((first + 4)) "$pc" '#dd5a45' '#c8402f' '#ffd54a' "$slogan"
}
banners 147 100
banners 152 150
banners 157 200
echo "artwork written"
