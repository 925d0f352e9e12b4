"""The two generated gesture sets of the benchmarks, shared with the identical-output test.

flat: drawn, cartoon-like gestures (shapes on a white background, 64 colours, no dithering).
hard: plasma pictures, blurred and Floyd-Steinberg-dithered to 256 colours by ImageMagick, for
      both the strips and the buttons, the kind of gesture where the compressor finds few runs.

Both are fixed by their seeds: the same Pillow and ImageMagick give the same files, so the
packages made from them can be compared with stored digests.
"""
import io
import os
import random
import struct
import subprocess
import tempfile

from PIL import Image, ImageDraw

CONVERT = "/usr/bin/convert"
# Distinct pictures per hard set; every strip meets every button within 100 gestures.
HARD_PICTURES = 10


def skm(name, flags, frame_width, button, strip):
    data = name.encode()
    out = b"SKMG0100" + bytes([len(data)]) + data + struct.pack(">Ih", flags, frame_width)
    out += bytes(34) + struct.pack(">I", len(button)) + button + struct.pack(">I", len(strip))
    return out + strip


def _gif(picture):
    out = io.BytesIO()
    picture.quantize(colors=64, dither=Image.Dither.NONE).save(out, "GIF")
    return out.getvalue()


def make_flat(folder, count):
    """count gestures with 480 x 48 strips of 10 frames and 32 x 32 buttons, drawn shapes."""
    rng = random.Random(11)
    strips, buttons = [], []
    for k in range(40):
        strip = Image.new("RGB", (480, 48), (255, 255, 255))
        draw = ImageDraw.Draw(strip)
        for f in range(10):
            for _ in range(6):
                x, y = f * 48 + rng.randrange(40), rng.randrange(40)
                colour = (rng.randrange(256), rng.randrange(256), rng.randrange(256))
                draw.ellipse((x, y, x + 8 + k % 8, y + 8), fill=colour)
        strips.append(_gif(strip))
        button = Image.new("RGB", (32, 32), (rng.randrange(256), 200, 100))
        ImageDraw.Draw(button).rectangle((8, 8, 24, 24), fill=(20, 20, rng.randrange(256)))
        buttons.append(_gif(button))
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        with open(os.path.join(folder, f"g{i:05}.skm"), "wb") as f:
            f.write(skm(f"Gesture {i}", i % 2, 48, buttons[i % 40], strips[(i * 7) % 40]))


def _plasma_tiles(seed, size, tile, work):
    """HARD_PICTURES GIF tiles cut from one plasma picture, each dithered to its own 256
    colours."""
    subprocess.run([CONVERT, "-seed", str(seed), "-size", size, "plasma:fractal", "-blur", "0x1",
                    "-crop", tile, "+repage", "-dither", "FloydSteinberg", "-colors", "256",
                    os.path.join(work, f"{seed}-%02d.gif")],
                   check=True, env={**os.environ, "MAGICK_THREAD_LIMIT": "1"})
    tiles = []
    for k in range(HARD_PICTURES):
        with open(os.path.join(work, f"{seed}-{k:02}.gif"), "rb") as f:
            tiles.append(f.read())
    return tiles


def make_hard(folder, count):
    """count gestures with 480 x 48 dithered strips of 10 frames and 32 x 32 dithered buttons."""
    with tempfile.TemporaryDirectory(prefix="skm2trn-plasma-") as work:
        strips = _plasma_tiles(1301, f"480x{48 * HARD_PICTURES}", "480x48", work)
        buttons = _plasma_tiles(1302, f"{32 * HARD_PICTURES}x32", "32x32", work)
    os.makedirs(folder, exist_ok=True)
    n = HARD_PICTURES
    for i in range(count):
        with open(os.path.join(folder, f"h{i:05}.skm"), "wb") as f:
            f.write(skm(f"Hard gesture {i}", i % 2, 48, buttons[(i + i // n) % n],
                        strips[i % n]))


SETS = {"flat": make_flat, "hard": make_hard}


# Strips of the distinct-input benchmarks: 100 strips of 10 frames, 1,000 different frames, from
# a seed no gesture set uses, so the codecs meet them as a run meets new gestures.
DISTINCT_STRIPS = 100


def make_bench_pictures(folder):
    """The dithered pictures of the codec benchmarks: strip.gif, a 480 x 48 strip of the hard
    set, picture-1024.gif, a 1024 x 1024 plasma picture dithered to 256 colours, and
    distinct-000.gif to distinct-099.gif, 480 x 48 strips each dithered to its own 256 colours."""
    os.makedirs(folder, exist_ok=True)
    subprocess.run([CONVERT, "-seed", "1304", "-size", f"480x{48 * DISTINCT_STRIPS}",
                    "plasma:fractal", "-blur", "0x1", "-crop", "480x48", "+repage", "-dither",
                    "FloydSteinberg", "-colors", "256", os.path.join(folder, "distinct-%03d.gif")],
                   check=True, env={**os.environ, "MAGICK_THREAD_LIMIT": "1"})
    with open(os.path.join(folder, "strip.gif"), "wb") as f:
        f.write(_plasma_tiles(1301, f"480x{48 * HARD_PICTURES}", "480x48", folder)[0])
    subprocess.run([CONVERT, "-seed", "1303", "-size", "1024x1024", "plasma:fractal", "-blur",
                    "0x1", "-dither", "FloydSteinberg", "-colors", "256",
                    os.path.join(folder, "picture-1024.gif")],
                   check=True, env={**os.environ, "MAGICK_THREAD_LIMIT": "1"})
