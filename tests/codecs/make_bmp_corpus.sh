#!/usr/bin/env bash
# Regenerates the seed corpus of the BMP decoding fuzzer: one small file per variant the reader
# handles, written by ImageMagick, Pillow and the oracle helper (never by our own writer alone).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$here/../../fuzz/corpus/bmp_decode_fuzzer"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
helper=("/usr/bin/python3" "$here/bmp_oracle_helper.py")
"${helper[@]}" make "$work"
/usr/bin/convert "$work/p2.ppm" -type Bilevel "bmp3:$work/im_1.bmp"
/usr/bin/convert "$work/p16.ppm" -type Palette -compress None "bmp3:$work/im_4.bmp"
/usr/bin/convert "$work/p16.ppm" -type Palette -compress None "bmp:$work/im_4_v5.bmp"
/usr/bin/convert "$work/rich.ppm" -type Palette -compress None "bmp3:$work/im_8.bmp"
/usr/bin/convert "$work/rich.ppm" -type Palette -compress RLE "bmp3:$work/im_rle8.bmp"
/usr/bin/convert "$work/rich.ppm" -type TrueColor "bmp3:$work/im_24.bmp"
/usr/bin/convert "$work/rich.ppm" -define bmp:subtype=RGB565 "bmp:$work/im_565.bmp"
/usr/bin/convert "$work/rich.ppm" -define bmp:subtype=RGB555 "bmp:$work/im_555.bmp"
/usr/bin/convert "$work/rich.ppm" -alpha on -type TrueColorAlpha "bmp:$work/im_32.bmp"
/usr/bin/convert "$work/p16.ppm" -type Palette "bmp2:$work/im_core_4.bmp"
/usr/bin/convert "$work/rich.ppm" -type Palette "bmp2:$work/im_core_8.bmp"
/usr/bin/convert "$work/rich.ppm" -type TrueColor "bmp2:$work/im_core_24.bmp"
"${helper[@]}" flip "$work/pil_p8.bmp" "$work/td_pil_p8.bmp"
"${helper[@]}" flip "$work/im_565.bmp" "$work/td_im_565.bmp"
mkdir -p "$out"
cp "$work"/*.bmp "$out"/
ls "$out"
