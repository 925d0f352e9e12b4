#!/usr/bin/python3
"""Pillow's side of the BMP oracle tests.

  make DIR        writes the test patterns (PPM) and the BMP variants made with Pillow, or
                  written here byte by byte where no tool makes them (RLE4, 16-bit without bit
                  fields); every hand-made file is checked to decode in Pillow to its pattern.
  flip SRC DST    rewrites an uncompressed BMP with its rows stored top-down (negative height).
  dump BMP RAW    decodes BMP with Pillow, writes its RGB bytes (top row first) to RAW and
                  prints "width height xdpi ydpi" (dpi rounded, 0 when absent).
"""
import struct
import sys

from PIL import Image

W, H = 13, 7


def rich(x, y):
    # Components stay multiples of 8 below 152, so every depth holds them closely.
    return ((x * 8) % 152, (y * 24) % 152, ((x + y) * 16) % 152)


PALETTE16 = [(r, g, b) for r in (0, 96, 248) for g in (0, 128, 248) for b in (0, 200)][:16]


def index16(x, y):
    return (x * 3 + y * 5) % 16


def save_ppm(path, colour):
    data = bytearray()
    for y in range(H):
        for x in range(W):
            data += bytes(colour(x, y))
    with open(path, "wb") as f:
        f.write(b"P6 %d %d 255\n" % (W, H) + data)


def bmp_file(bits, compression, palette, pixel_data, colours_used):
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, bits, compression, len(pixel_data), 3780, 3780,
                       colours_used, 0)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    offset = 14 + len(info) + len(pal)
    return (b"BM" + struct.pack("<IHHI", offset + len(pixel_data), 0, 0, offset) + info + pal +
            pixel_data)


def rle4_rows():
    out = bytearray()
    for y in reversed(range(H)):
        row = [index16(x, y) for x in range(W)]
        i = 0
        while i < W:
            j = i
            while j < W and j - i < 255 and row[j] == row[i]:
                j += 1
            if j - i >= 2 or W - i < 4:
                out += bytes((j - i, row[i] << 4 | row[i]))
                i = j
                continue
            # Even lengths only: Pillow reads n // 2 bytes for an absolute run of n nibbles.
            n = min(W - i, 10) & ~1
            nibbles = row[i:i + n]
            packed = bytes(nibbles[k] << 4 | nibbles[k + 1] for k in range(0, n, 2))
            out += bytes((0, n)) + packed + (b"\0" if len(packed) % 2 else b"")
            i += n
        out += b"\0\0"
    return bytes(out + b"\0\1")


def rgb16_rows():
    stride = (W + 1) // 2 * 4
    out = bytearray()
    for y in reversed(range(H)):
        row = bytearray(stride)
        for x in range(W):
            r, g, b = rich(x, y)
            struct.pack_into("<H", row, 2 * x, (r >> 3) << 10 | (g >> 3) << 5 | b >> 3)
        out += row
    return bytes(out)


def check(path, colour, mask=0xFF):
    got = [tuple(c & mask for c in p) for p in Image.open(path).convert("RGB").getdata()]
    want = [colour(x, y) for y in range(H) for x in range(W)]
    if got != want:
        sys.exit("generated %s does not decode in Pillow to its pattern" % path)


def make(folder):
    save_ppm(folder + "/rich.ppm", rich)
    save_ppm(folder + "/p16.ppm", lambda x, y: PALETTE16[index16(x, y)])
    save_ppm(folder + "/p2.ppm", lambda x, y: (255, 255, 255) if (x + 2 * y) % 3 else (0, 0, 0))

    Image.open(folder + "/rich.ppm").save(folder + "/pil_24.bmp")
    Image.open(folder + "/p2.ppm").convert("1", dither=Image.Dither.NONE).save(folder + "/pil_1.bmp")
    p8 = Image.new("P", (W, H))
    p8.putpalette([c for colour in PALETTE16 for c in colour])
    p8.putdata([index16(x, y) for y in range(H) for x in range(W)])
    p8.save(folder + "/pil_p8.bmp")

    rle4 = folder + "/py_rle4.bmp"
    with open(rle4, "wb") as f:
        f.write(bmp_file(4, 2, PALETTE16, rle4_rows(), 16))
    check(rle4, lambda x, y: PALETTE16[index16(x, y)])
    rgb16 = folder + "/py_rgb16.bmp"
    with open(rgb16, "wb") as f:
        f.write(bmp_file(16, 0, [], rgb16_rows(), 0))
    # Pillow widens 5-bit values to 8 bits its own way; their top five bits must match.
    check(rgb16, rich, 0xF8)


def flip(source, destination):
    data = bytearray(open(source, "rb").read())
    offset = struct.unpack_from("<I", data, 10)[0]
    height = struct.unpack_from("<i", data, 22)[0]
    stride = (len(data) - offset) // height
    rows = [data[offset + i * stride:offset + (i + 1) * stride] for i in range(height)]
    struct.pack_into("<i", data, 22, -height)
    data[offset:offset + stride * height] = b"".join(reversed(rows))
    with open(destination, "wb") as f:
        f.write(data)
    if list(Image.open(destination).convert("RGB").getdata()) != list(
            Image.open(source).convert("RGB").getdata()):
        sys.exit("flipped %s does not decode in Pillow like its source" % source)


def dump(path, raw):
    image = Image.open(path)
    with open(raw, "wb") as f:
        f.write(image.convert("RGB").tobytes())
    dpi = image.info.get("dpi", (0, 0))
    print(image.size[0], image.size[1], round(dpi[0]), round(dpi[1]))


if __name__ == "__main__":
    command = sys.argv[1]
    if command == "make":
        make(sys.argv[2])
    elif command == "flip":
        flip(sys.argv[2], sys.argv[3])
    elif command == "dump":
        dump(sys.argv[2], sys.argv[3])
    else:
        sys.exit("unknown command " + command)
