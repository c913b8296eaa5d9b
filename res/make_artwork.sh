#!/usr/bin/env bash
# Draws the banner frames (147-151) and the program icon (128) of Marlix.exe.
# The files it writes are committed; run it again only to change the artwork.
# Needs ImageMagick and fonts-nanum.
set -euo pipefail
cd "$(dirname "$0")"
font_dir=/usr/share/fonts/truetype/nanum
bold="$font_dir/NanumSquareB.ttf"
regular="$font_dir/NanumGothicBold.ttf"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

slogan="우편번호를 내려받아 빠르고 편리하게 찾아 드립니다"
slogan_alt="우편번호 다운로드와 검색을 빠르고 편리하게!"

# banner ID FROM TO TEXT-COLOUR BADGE-COLOUR TEXT
banner() {
  local id=$1 from=$2 to=$3 ink=$4 badge=$5 text=$6
  convert -size 402x38 "gradient:$from-$to" -rotate 0 \
    -fill "$badge" -draw "roundrectangle 6,5 58,32 8,8" \
    -font "$bold" -pointsize 15 -fill white -gravity West -annotate +13+1 "우편" \
    -font "$regular" -pointsize 14 -fill "$ink" -gravity West -annotate +68+1 "$text" \
    -alpha off -type TrueColor -depth 8 "BMP3:banner$id.bmp"
}
# Gradients run top to bottom; the badge carries the program's mark.
banner 147 '#1f4e9c' '#3f7fd0' white '#e94f37' "$slogan"
banner 148 '#1c7a4a' '#3fae6e' white '#f2b134' "$slogan_alt"
banner 149 '#f7a23b' '#f6d365' '#3a2a10' '#c0392b' "$slogan"
banner 150 '#5b2c83' '#8e5cc0' white '#f06292' "$slogan"
banner 151 '#0d7377' '#32c4c0' white '#0b3c5d' "$slogan"

# Icon 128: a red post box badge with the hangul 우 on a blue tile, 16 colours.
icon() {
  local size=$1 pt=$2
  convert -size "${size}x${size}" xc:none \
    -fill '#1f4e9c' -draw "roundrectangle 0,0 $((size - 1)),$((size - 1)) $((size / 6)),$((size / 6))" \
    -fill '#e94f37' -draw "rectangle $((size / 8)),$((size / 10)) $((size - 1 - size / 8)),$((size / 5))" \
    -font "$bold" -pointsize "$pt" -fill white -gravity Center -annotate +0+$((size / 7)) "우" \
    -background '#1f4e9c' -alpha remove -alpha off -colors 16 -type Palette "BMP3:$tmp/icon$size.bmp"
}
icon 32 20
icon 16 11
python3 - "$tmp/icon32.bmp" "$tmp/icon16.bmp" marlix.ico <<'PY'
# Packs 4-bit BMPs into an .ico: each image as BITMAPINFOHEADER (double
# height), 16-entry palette, XOR bits and an all-opaque AND mask.
import struct, sys
def load(path):
    d = open(path, 'rb').read()
    off = struct.unpack_from('<I', d, 10)[0]
    hdr = struct.unpack_from('<IiiHHIIiiII', d, 14)
    size, w, h, planes, bpp = hdr[:5]
    ncol = hdr[9] or (1 << bpp)
    pal = d[14 + size:14 + size + 4 * ncol]
    rows = d[off:]
    # Re-pack whatever depth ImageMagick chose into 4 bits a pixel.
    stride = ((w * bpp + 31) // 32) * 4
    idx = []
    for y in range(abs(h)):
        row = rows[y * stride:(y + 1) * stride]
        for x in range(w):
            if bpp == 8: idx.append(row[x])
            elif bpp == 4: idx.append((row[x // 2] >> (4 * (1 - x % 2))) & 15)
            elif bpp == 1: idx.append((row[x // 8] >> (7 - x % 8)) & 1)
            else: raise SystemExit('unexpected depth %d' % bpp)
    assert max(idx) < 16, 'more than 16 colours'
    pal = (pal + b'\0' * 64)[:64]
    s4 = ((w * 4 + 31) // 32) * 4
    xor = b''
    for y in range(abs(h)):
        line = bytearray(s4)
        for x in range(w):
            line[x // 2] |= idx[y * w + x] << (4 * (1 - x % 2))
        xor += bytes(line)
    smask = ((w + 31) // 32) * 4
    andm = b'\0' * smask * abs(h)
    bih = struct.pack('<IiiHHIIiiII', 40, w, 2 * abs(h), 1, 4, 0, len(xor) + len(andm), 0, 0, 16, 0)
    return w, bih + pal + xor + andm
imgs = [load(p) for p in sys.argv[1:-1]]
out = struct.pack('<HHH', 0, 1, len(imgs))
offset = 6 + 16 * len(imgs)
body = b''
for w, blob in imgs:
    out += struct.pack('<BBBBHHII', w, w, 16, 0, 1, 4, len(blob), offset + len(body))
    body += blob
open(sys.argv[-1], 'wb').write(out + body)
PY
echo "artwork written"
