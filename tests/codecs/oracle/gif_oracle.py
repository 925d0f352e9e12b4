#!/usr/bin/python3
"""GIF oracle checks, run by ctest.

1. GIFs made at test time by Pillow, ImageMagick, gifsicle and ffmpeg are decoded by our codec
   (through gif_oracle_tool) and frame 0 is compared with Pillow's: size, indices and palette.
2. GIFs written by our codec are opened by Pillow, ImageMagick (identify), giftext and gif2rgb,
   which must accept them and see our pixels, delays, disposal methods and loop counts.

Exit 0 on success, 1 on any mismatch, 77 (skip) when Pillow itself is missing. A missing
command-line tool skips only the cases that need it, with a note.
"""

import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

try:
    from PIL import Image
except ImportError:
    print("SKIP: Pillow (python3-pil) is not installed")
    sys.exit(77)

CONVERT = "/usr/bin/convert"
IDENTIFY = "/usr/bin/identify"

failures = []
checked = {"decode": 0, "encode": 0}


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def have(path_or_name):
    if os.path.isabs(path_or_name):
        return os.access(path_or_name, os.X_OK)
    return shutil.which(path_or_name) is not None


def run(args, **kw):
    return subprocess.run(args, capture_output=True, timeout=120, **kw)


def palette_of(n, step=(37, 91, 53)):
    p = []
    for i in range(n):
        p += [i * step[0] % 256, i * step[1] % 256, i * step[2] % 256]
    return p


# --- a minimal block walker: where frame 0 is and which table it uses ---------------------------

def first_frame(data):
    packed = data[10]
    colors = 2 << (packed & 7)
    at = 13 + (colors * 3 if packed & 0x80 else 0)
    transparent = None
    while at < len(data):
        b = data[at]
        if b == 0x21:
            label = data[at + 1]
            at += 2
            while data[at] != 0:
                if label == 0xF9 and data[at] == 4 and data[at + 1] & 1:
                    transparent = data[at + 4]
                at += data[at] + 1
            at += 1
        elif b == 0x2C:
            left, top, w, h = (int.from_bytes(data[at + i:at + i + 2], "little") for i in (1, 3, 5, 7))
            p = data[at + 9]
            if p & 0x80:
                colors = 2 << (p & 7)
            return {"left": left, "top": top, "w": w, "h": h, "colors": colors,
                    "transparent": transparent, "any_transparent": any_transparency(data)}
        else:
            at += 1
    return None


def any_transparency(data):
    at = 0
    while True:
        at = data.find(b"\x21\xf9\x04", at)
        if at < 0 or at + 3 >= len(data):
            return False
        if data[at + 3] & 1:
            return True
        at += 3


def our_decode(tool, path, frame=0):
    r = run([tool, "decode", path, str(frame)])
    lines = r.stdout.decode().splitlines()
    if r.returncode != 0 or not lines or not lines[0].startswith("ok"):
        return None
    head = lines[0].split()
    keys = ["w", "h", "bits", "transparent", "delay", "loop", "disposal", "frames"]
    out = dict(zip(keys, (int(v) for v in head[1:])))
    out["palette"] = [tuple(bytes.fromhex(e)) for e in lines[1].split()[1:]]
    out["pixels"] = [int(v) for v in lines[2].split()[1:]]
    return out


def compare_frame0(tool, path, label):
    checked["decode"] += 1
    data = open(path, "rb").read()
    info = first_frame(data)
    ours = our_decode(tool, path)
    if ours is None:
        fail(f"{label}: our decoder refused {os.path.basename(path)}")
        return
    if (ours["w"], ours["h"]) != (info["w"], info["h"]):
        fail(f"{label}: size {ours['w']}x{ours['h']} != descriptor {info['w']}x{info['h']}")
        return
    im = Image.open(path)
    im.seek(0)
    im.load()
    box = (info["left"], info["top"], info["left"] + info["w"], info["top"] + info["h"])
    region = im.crop(box)
    if region.mode not in ("P", "L"):
        fail(f"{label}: Pillow gave mode {region.mode} for frame 0")
        return
    theirs = list(region.getdata())
    if theirs != ours["pixels"]:
        bad = next(i for i, (a, b) in enumerate(zip(theirs, ours["pixels"])) if a != b)
        fail(f"{label}: indices differ first at pixel {bad}: Pillow {theirs[bad]} ours {ours['pixels'][bad]}")
        return
    colors = info["colors"]
    # The pre-scan reads every frame's graphic control, so transparency anywhere in the file
    # whitens entry 255 of a full table that lacks white.
    skip_last = info["any_transparent"] and colors == 256
    if region.mode == "P":
        pal = im.getpalette() or []
        entries = [tuple(pal[i * 3:i * 3 + 3]) for i in range(len(pal) // 3)]
        for i in range(min(colors, len(entries), len(ours["palette"]))):
            if skip_last and i == 255:
                continue
            if entries[i] != ours["palette"][i]:
                fail(f"{label}: palette entry {i}: Pillow {entries[i]} ours {ours['palette'][i]}")
                return
    else:
        for v in set(theirs):
            if ours["palette"][v] != (v, v, v):
                fail(f"{label}: grey entry {v} is {ours['palette'][v]}")
                return
    if info["transparent"] is not None and ours["transparent"] != info["transparent"]:
        fail(f"{label}: transparent index {ours['transparent']} != {info['transparent']}")


# --- generators ----------------------------------------------------------------------------------

def noise(w, h, n, seed):
    x = seed
    out = []
    for _ in range(w * h):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out.append((x >> 16) % n)
    return out


def make_pillow(work):
    files = []
    for n in (2, 4, 8, 16, 32, 64, 128, 256):
        for (w, h) in ((1, 1), (3, 7), (17, 5), (64, 33)):
            for interlace in (False, True):
                im = Image.new("P", (w, h))
                im.putpalette(palette_of(n))
                im.putdata(noise(w, h, n, n * 1000 + w * 10 + h) if (w * h) % 2 else
                           [(x + y) % n for y in range(h) for x in range(w)])
                path = os.path.join(work, f"pil_{n}_{w}x{h}_{int(interlace)}.gif")
                kw = {"interlace": interlace, "optimize": False}
                if n in (4, 64, 256) and not interlace:
                    kw["transparency"] = n // 2 - 1
                im.save(path, **kw)
                files.append(path)
    # Large noise fills the code table several times.
    im = Image.new("P", (300, 200))
    im.putpalette(palette_of(256))
    im.putdata(noise(300, 200, 256, 5))
    path = os.path.join(work, "pil_noise_300x200.gif")
    im.save(path, optimize=False)
    files.append(path)
    # Several frames with tables of their own, a comment and a loop count.
    frames = []
    for k in range(4):
        f = Image.new("P", (23, 11))
        f.putpalette(palette_of(16, (17 * (k + 1), 29, 61)))
        f.putdata([(x * (k + 1) + y) % 16 for y in range(11) for x in range(23)])
        frames.append(f)
    path = os.path.join(work, "pil_anim_local.gif")
    frames[0].save(path, save_all=True, append_images=frames[1:], loop=3, duration=[70, 80, 90, 100],
                   disposal=2, comment=b"made by Pillow", optimize=False)
    files.append(path)
    return files


def make_imagemagick(work):
    files = []
    if not have(CONVERT):
        print("note: ImageMagick convert missing; its cases are skipped")
        return files
    cases = [
        ("im_plasma8.gif", ["-size", "37x21", "plasma:fractal", "+dither", "-colors", "8"]),
        ("im_gradient256.gif", ["-size", "50x40", "gradient:red-blue", "+dither", "-colors", "200"]),
        ("im_interlaced.gif", ["-size", "19x13", "plasma:", "+dither", "-colors", "30", "-interlace", "GIF"]),
        ("im_comment.gif", ["-size", "9x9", "xc:orange", "-fill", "navy", "-draw", "point 3,3",
                            "-comment", "ImageMagick comment"]),
        ("im_transparent.gif", ["-size", "12x8", "xc:white", "-fill", "red", "-draw", "rectangle 2,2 6,5",
                                "-transparent", "white"]),
        ("im_two.gif", ["-size", "5x3", "xc:black", "-fill", "white", "-draw", "point 1,1"]),
    ]
    for name, args in cases:
        path = os.path.join(work, name)
        if run([CONVERT] + args + [path]).returncode == 0:
            files.append(path)
    path87 = os.path.join(work, "im_87a.gif")
    if run([CONVERT, "-size", "14x6", "plasma:", "+dither", "-colors", "16", "GIF87:" + path87]).returncode == 0:
        files.append(path87)
    anim = os.path.join(work, "im_anim.gif")
    if run([CONVERT, "-delay", "15", "-loop", "2", "-size", "16x12", "xc:red", "xc:green", "xc:blue",
            anim]).returncode == 0:
        files.append(anim)
    return files


def make_gifsicle(work, sources):
    files = []
    if not have("gifsicle"):
        print("note: gifsicle missing; its cases are skipped")
        return files
    variants = [
        ("gs_interlace", ["--interlace"]),
        ("gs_colors4", ["--colors", "4"]),
        ("gs_opt3", ["-O3"]),
        ("gs_noext", ["--no-extensions"]),
        ("gs_loop", ["--loopcount=5", "--comment", "gifsicle"]),
        ("gs_screen", ["--logical-screen", "90x60", "--position", "5,7"]),
    ]
    for src in sources:
        base = os.path.splitext(os.path.basename(src))[0]
        for name, args in variants:
            path = os.path.join(work, f"{name}_{base}.gif")
            if run(["gifsicle"] + args + [src, "-o", path]).returncode == 0:
                files.append(path)
    return files


def make_ffmpeg(work):
    files = []
    if not have("ffmpeg"):
        print("note: ffmpeg missing; its cases are skipped")
        return files
    for size in ("32x24", "17x9"):
        path = os.path.join(work, f"ff_{size}.gif")
        r = run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", f"testsrc=size={size}:rate=5",
                 "-frames:v", "3", path])
        if r.returncode == 0:
            files.append(path)
    return files


# --- GIFs as editors write them, and GIFs that give no pixel ------------------------------------

def gif2rgb_pixels(work, path):
    """The first image as RGB triplets from giflib, or None when giflib refuses the file."""
    out = os.path.join(work, "giflib.rgb")
    if os.path.exists(out):
        os.remove(out)
    r = run(["gif2rgb", "-1", "-o", out, path])
    if r.returncode != 0 or not os.path.exists(out):
        return None
    return open(out, "rb").read()


def pillow_reads(path):
    try:
        with Image.open(path) as im:
            im.load()
        return True
    except Exception:
        return False


def check_editor_cases(tool, work):
    import gif_cases
    w, h = 23, 7
    giflib = have("gif2rgb")
    if not giflib:
        print("note: gif2rgb missing; giflib's side of the metadata cases is skipped")
    for name, data in gif_cases.metadata_cases(w, h).items():
        path = os.path.join(work, f"meta_{name}.gif")
        open(path, "wb").write(data)
        compare_frame0(tool, path, name)
        ours = our_decode(tool, path)
        if giflib and ours:
            rgb = gif2rgb_pixels(work, path)
            want = b"".join(bytes(ours["palette"][v]) for v in ours["pixels"])
            if rgb != want:
                fail(f"{name}: giflib's picture differs from ours")
    causes = {"undecodable": "The image data cannot be decoded", "no pixels": "The image has no pixels"}
    agreed = 0
    for name, (data, cause) in gif_cases.blank_cases(w, h).items():
        checked["decode"] += 1
        path = os.path.join(work, f"blank_{name}.gif")
        open(path, "wb").write(data)
        said = run([tool, "decode", path]).stdout.decode().splitlines()[:1]
        if said != ["fail " + causes[cause]]:
            fail(f"{name}: our decoder said {said}, expected the refusal '{causes[cause]}'")
        others = [giflib and gif2rgb_pixels(work, path) is not None, pillow_reads(path)]
        # Both oracles reading a picture we refuse would be a picture lost.
        if all(others):
            fail(f"{name}: giflib and Pillow both read a picture we refuse")
        agreed += not others[0]
    print(f"blank pictures: giflib refuses {agreed} of {len(gif_cases.blank_cases(w, h))} as we do")


# --- our files in other readers ------------------------------------------------------------------

def pattern(x, y, frame, colors):
    return (x * 7 + y * 3 + frame * 5 + (x * y) % 3) % colors


DISPOSE_NAMES = {0: "Undefined", 1: "None", 2: "Background", 3: "Previous"}


def check_ours(tool, work, name, bits, w, h, frames, delay, disposal, loop, transparent, comment):
    checked["encode"] += 1
    path = os.path.join(work, f"ours_{name}.gif")
    args = [tool, "write", path, str(bits), str(w), str(h), str(frames), str(delay), str(disposal),
            str(loop), str(transparent)] + ([comment] if comment else [])
    r = run(args)
    if r.returncode != 0:
        fail(f"{name}: our encoder failed: {r.stderr.decode().strip()}")
        return
    colors = 1 << bits
    pal = palette_of(colors)
    count = max(frames, 1)

    # Pillow.
    im = Image.open(path)
    if getattr(im, "n_frames", 1) != count:
        fail(f"{name}: Pillow sees {im.n_frames} frames, expected {count}")
    for k in range(count):
        im.seek(k)
        im.load()
        want = [pattern(x, y, k, colors) for y in range(h) for x in range(w)]
        if k == 0 and im.mode in ("P", "L"):
            if list(im.getdata()) != want:
                fail(f"{name}: Pillow indices differ in frame 0")
            p = im.getpalette()
            if im.mode == "P" and p[:colors * 3] != pal[:len(p[:colors * 3])]:
                fail(f"{name}: Pillow palette differs")
        else:
            rgba = im.convert("RGBA")
            got = list(rgba.getdata())
            for i, idx in enumerate(want):
                if idx == transparent:
                    continue
                if got[i][:3] != tuple(pal[idx * 3:idx * 3 + 3]):
                    fail(f"{name}: Pillow colour differs in frame {k} at pixel {i}")
                    break
        if im.info.get("duration") != delay * 10:
            fail(f"{name}: Pillow duration {im.info.get('duration')} != {delay * 10} in frame {k}")
        if getattr(im, "disposal_method", 0) != disposal:
            fail(f"{name}: Pillow disposal {getattr(im, 'disposal_method', None)} != {disposal}")
    if frames > 0 and im.info.get("loop") != loop:
        fail(f"{name}: Pillow loop {im.info.get('loop')} != {loop}")
    if frames == 0 and "loop" in im.info:
        fail(f"{name}: a single image carries a loop block")
    # Pillow and ImageMagick do not report a comment after the last image; gifsicle does.
    if have("gifsicle"):
        r = run(["gifsicle", "-I", path])
        text = r.stdout.decode()
        if r.returncode != 0 or r.stderr:
            fail(f"{name}: gifsicle complained: {r.stderr.decode().strip()}")
        if comment and f"end comment {comment[:255]}\n" not in text:
            fail(f"{name}: gifsicle does not see the comment")
        if frames > 0 and (f"loop count {loop}" if loop else "loop forever") not in text:
            fail(f"{name}: gifsicle does not see loop count {loop}")

    # ImageMagick.
    if have(IDENTIFY):
        r = run([IDENTIFY, "-format", "%w %h %T %D\n", path])
        lines = r.stdout.decode().split()
        if r.returncode != 0 or r.stderr:
            fail(f"{name}: identify complained: {r.stderr.decode().strip()}")
        elif len(lines) != 4 * count:
            fail(f"{name}: identify sees {len(lines) // 4} frames")
        else:
            for k in range(count):
                got = lines[4 * k:4 * k + 4]
                if got != [str(w), str(h), str(delay), DISPOSE_NAMES[disposal]]:
                    fail(f"{name}: identify frame {k}: {got}")
        if frames > 0:
            v = run([IDENTIFY, "-verbose", path]).stdout.decode()
            # ImageMagick counts plays: a repetition count n > 0 shows as n + 1.
            if f"Iterations: {loop + 1 if loop else 0}" not in v:
                fail(f"{name}: identify does not report Iterations: {loop}")
    # giftext.
    if have("giftext"):
        r = run(["giftext", path])
        text = r.stdout.decode()
        if r.returncode != 0 or "GIF file terminated normally" not in text or r.stderr:
            fail(f"{name}: giftext complained: {r.stderr.decode().strip()}")
        if text.count("Image #") != count:
            fail(f"{name}: giftext sees {text.count('Image #')} images")
        if text.count(f"Disposal Mode: {disposal}") != count or text.count(f"DelayTime: {delay}\n") != count:
            fail(f"{name}: giftext disposal or delay differs")
        want_t = "yes" if transparent != -1 else "no"
        if text.count(f"Transparency on: {want_t}") != count:
            fail(f"{name}: giftext transparency differs")
        if comment and "GIF89 comment" not in text:
            fail(f"{name}: giftext sees no comment")
    # gif2rgb: the first (only) image as RGB triplets.
    if have("gif2rgb") and frames <= 1:
        out = os.path.join(work, f"ours_{name}.rgb")
        r = run(["gif2rgb", "-1", "-o", out, path])
        if r.returncode != 0 or not os.path.exists(out):
            fail(f"{name}: gif2rgb failed: {r.stderr.decode().strip()}")
        else:
            rgb = open(out, "rb").read()
            want = bytearray()
            for y in range(h):
                for x in range(w):
                    idx = pattern(x, y, 0, colors)
                    want += bytes(pal[idx * 3:idx * 3 + 3])
            if len(rgb) != len(want):
                fail(f"{name}: gif2rgb gave {len(rgb)} bytes, expected {len(want)}")
            else:
                for i in range(w * h):
                    if pattern(i % w, i // w, 0, colors) == transparent:
                        continue
                    if rgb[3 * i:3 * i + 3] != want[3 * i:3 * i + 3]:
                        fail(f"{name}: gif2rgb pixel {i} differs")
                        break


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    work = args.work
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)

    # Our decoder against Pillow on other programs' files.
    made = make_pillow(work)
    made += make_imagemagick(work)
    made += make_gifsicle(work, [os.path.join(work, "pil_16_17x5_0.gif"),
                                 os.path.join(work, "pil_anim_local.gif"),
                                 os.path.join(work, "pil_256_64x33_1.gif")])
    made += make_ffmpeg(work)
    for path in made:
        compare_frame0(args.tool, path, os.path.basename(path))
    check_editor_cases(args.tool, work)

    # Our files in other readers.
    cases = [
        ("single1", 1, 13, 7, 0, 0, 0, 0, -1, None),
        ("single4_transparent", 4, 9, 5, 0, 7, 0, 0, 3, None),
        ("single8_comment", 8, 31, 17, 0, 12, 0, 0, -1, "our comment"),
        ("single8_strip", 8, 480, 48, 0, 20, 0, 0, -1, None),
        ("anim8_loop0", 8, 10, 6, 3, 20, 2, 0, -1, None),
        ("anim4_loop1", 4, 7, 9, 4, 20, 2, 1, -1, "x" * 300),
        ("anim1_loop3", 1, 5, 3, 2, 35, 1, 3, -1, None),
        ("anim8_30frames", 8, 48, 48, 30, 20, 2, 1, 200, None),
    ]
    for case in cases:
        check_ours(args.tool, work, *case)

    print(f"checked {checked['decode']} generated files against Pillow, "
          f"{checked['encode']} of our files in other readers; {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
