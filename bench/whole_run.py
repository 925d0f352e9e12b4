#!/usr/bin/python3
"""Whole-run benchmark: skm2trn against equivalent pipelines built on Pillow and ImageMagick.

Usage: bench/whole_run.py PATH_TO_SKM2TRN [GESTURES] [IMAGEMAGICK_GESTURES]
Generates GESTURES (default 1000) gestures with 480 x 48 strips of 10 frames and 32 x 32
buttons, converts them side by side in one run and prints gestures per second, the ratios and
the peak memory (from /usr/bin/time -v) of skm2trn for GESTURES and 10 x GESTURES gestures.
The ImageMagick pipeline starts two processes per gesture, so it runs over a smaller sample.
"""
import hashlib
import io
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

from PIL import Image, ImageDraw


def skm(name, flags, frame_width, button, strip):
    data = name.encode()
    out = b"SKMG0100" + bytes([len(data)]) + data + struct.pack(">Ih", flags, frame_width)
    out += bytes(34) + struct.pack(">I", len(button)) + button + struct.pack(">I", len(strip))
    return out + strip


def gif(picture):
    out = io.BytesIO()
    picture.quantize(colors=64, dither=Image.Dither.NONE).save(out, "GIF")
    return out.getvalue()


def make_gestures(folder, count):
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
        strips.append(gif(strip))
        button = Image.new("RGB", (32, 32), (rng.randrange(256), 200, 100))
        ImageDraw.Draw(button).rectangle((8, 8, 24, 24), fill=(20, 20, rng.randrange(256)))
        buttons.append(gif(button))
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        with open(os.path.join(folder, f"g{i:05}.skm"), "wb") as f:
            f.write(skm(f"Gesture {i}", i % 2, 48, buttons[i % 40], strips[(i * 7) % 40]))


def read_source(path):
    with open(path, "rb") as f:
        d = f.read()
    n = d[8]
    name = d[9:9 + n]
    flags, fw = struct.unpack(">Ih", d[9 + n:15 + n])
    at = 49 + n
    (l1,) = struct.unpack(">I", d[at:at + 4])
    button = d[at + 4:at + 4 + l1]
    at += 4 + l1
    (l2,) = struct.unpack(">I", d[at:at + 4])
    strip = d[at + 4:at + 4 + l2]
    return name, flags, fw, button, strip


def package(name, bmp, anim, sound):
    return (b" " + hashlib.md5(name).hexdigest().encode() + struct.pack(">I", len(bmp)) + bmp +
            struct.pack(">I", len(anim)) + anim + struct.pack(">I", len(sound)) + sound +
            struct.pack(">H", len(name)) + name)


def pillow_pipeline(src, out, sound):
    for entry in sorted(os.listdir(src)):
        name, flags, fw, button, strip = read_source(os.path.join(src, entry))
        picture = Image.open(io.BytesIO(strip))
        frames = [picture.crop((j * fw, 0, (j + 1) * fw, picture.height))
                  for j in range(max(1, picture.width // fw))]
        anim = io.BytesIO()
        frames[0].save(anim, "GIF", save_all=True, append_images=frames[1:], duration=200,
                       disposal=2, loop=0 if flags & 1 else 1)
        bmp = io.BytesIO()
        Image.open(io.BytesIO(button)).resize((16, 16), Image.Resampling.NEAREST).save(bmp, "BMP")
        with open(os.path.join(out, entry[:-4] + ".trn"), "wb") as f:
            f.write(package(name, bmp.getvalue(), anim.getvalue(), sound))


def imagemagick_pipeline(src, out, sound, limit):
    work = tempfile.mkdtemp(prefix="skm2trn-im-")
    try:
        sources = sorted(os.listdir(src))[:limit]
        extracted = []
        for entry in sources:  # unpacking the blobs is not timed
            name, flags, fw, button, strip = read_source(os.path.join(src, entry))
            base = os.path.join(work, entry[:-4])
            with open(base + ".strip.gif", "wb") as f:
                f.write(strip)
            with open(base + ".button.gif", "wb") as f:
                f.write(button)
            extracted.append((entry, base, name, flags, fw))
        start = time.perf_counter()
        for entry, base, name, flags, fw in extracted:
            subprocess.run(["/usr/bin/convert", base + ".strip.gif", "-crop", f"{fw}x48",
                            "+repage", "-set", "delay", "20", "-set", "dispose", "Background",
                            "-loop", "0" if flags & 1 else "1", base + ".anim.gif"], check=True)
            subprocess.run(["/usr/bin/convert", base + ".button.gif", "-filter", "point",
                            "-resize", "16x16!", "BMP3:" + base + ".bmp"], check=True)
            with open(base + ".bmp", "rb") as b, open(base + ".anim.gif", "rb") as a:
                data = package(name, b.read(), a.read(), sound)
            with open(os.path.join(out, entry[:-4] + ".trn"), "wb") as f:
                f.write(data)
        return time.perf_counter() - start, len(extracted)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def timed(fn, runs=3):
    """The best of `runs` wall-clock times: a run this short is easily disturbed."""
    best = None
    for _ in range(runs):
        start = time.perf_counter()
        fn()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def peak_memory_kib(cmd):
    result = subprocess.run(["/usr/bin/time", "-v", *cmd], capture_output=True, text=True)
    match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr)
    return int(match.group(1)) if match else -1


def main():
    tool = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    im_count = int(sys.argv[3]) if len(sys.argv) > 3 else max(20, count // 10)
    # A RAM folder when there is one, so that the file system's cost per file, the same for
    # every pipeline, does not hide the converters' own.
    ram = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None
    root = tempfile.mkdtemp(prefix="skm2trn-bench-", dir=ram)
    print(f"working folder: {'RAM (tmpfs)' if ram else 'disk'}")
    try:
        src = os.path.join(root, "src")
        make_gestures(src, count)
        sound = bytes(8076)
        rows = []
        cores = os.cpu_count() or 1
        for workers in sorted({1, cores}):
            out = os.path.join(root, f"ours{workers}")
            os.makedirs(out)
            seconds = timed(lambda: subprocess.run([tool, "-q", "-j", str(workers), src, out],
                                                   check=True))
            rows.append((f"skm2trn -j {workers}", count, seconds))
        out = os.path.join(root, "pillow")
        os.makedirs(out)
        rows.append(("Pillow pipeline (1 core)", count,
                     timed(lambda: pillow_pipeline(src, out, sound))))
        if os.path.exists("/usr/bin/convert"):
            out = os.path.join(root, "im")
            os.makedirs(out)
            seconds, n = imagemagick_pipeline(src, out, sound, im_count)
            rows.append(("ImageMagick pipeline (1 core)", n, seconds))

        rate = {label: n / s for label, n, s in rows}
        ours = rate["skm2trn -j 1"]
        print("| pipeline | gestures | seconds | gestures/s | skm2trn -j 1 is faster by |")
        print("|---|---|---|---|---|")
        for label, n, s in rows:
            ratio = "—" if label.startswith("skm2trn") else f"{ours / (n / s):.1f}x"
            print(f"| {label} | {n} | {s:.3f} | {n / s:.0f} | {ratio} |")
        for label, n, s in rows:
            if label.startswith("skm2trn -j") and label != "skm2trn -j 1":
                print(f"\n{label} runs {(n / s) / ours:.2f} times as fast as skm2trn -j 1.")

        big = os.path.join(root, "big")
        make_gestures(big, count * 10)
        for label, folder, n in (("", src, count), ("", big, count * 10)):
            out = os.path.join(root, f"mem{n}")
            os.makedirs(out)
            kib = peak_memory_kib([tool, "-q", "-j", str(cores), folder, out])
            print(f"peak memory, {n} gestures, -j {cores}: {kib} KiB")
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
