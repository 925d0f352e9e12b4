#!/usr/bin/python3
"""Whole-run benchmark: skm2trn against equivalent pipelines built on Pillow and ImageMagick.

Usage: bench/whole_run.py PATH_TO_SKM2TRN [GESTURES] [IMAGEMAGICK_GESTURES]
Generates GESTURES (default 1000) gestures of each set of bench/gesture_sets.py (flat: drawn
shapes; hard: dithered plasma, 256 colours), all with 480 x 48 strips of 10 frames and 32 x 32
buttons, converts them side by side in interleaved rounds, each into an empty folder, and prints
gestures per second, the ratios (medians of the rounds' ratios) and the peak memory and minor
page faults (from /usr/bin/time -v, which counts pages mapped ahead in bulk as faults too) of
skm2trn for GESTURES of each set and 10 x GESTURES flat gestures. The ImageMagick pipeline
starts two processes per gesture, so it runs over a smaller sample of the flat set only.

On a machine of several cores it also times that many skm2trn -j 1 processes side by side, each
over its own share of the set: nothing is shared between them, so their speed-up over one
process is what the machine gives this work, the bound for skm2trn -j N.
"""
import hashlib
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gesture_sets  # noqa: E402


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


ROUNDS = 5


def fresh(folder):
    """An empty output folder: every run converts into one, as a first conversion does."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def timed(fn, folder):
    fresh(folder)
    start = time.perf_counter()
    fn(folder)
    return time.perf_counter() - start


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2


def memory_figures(cmd):
    """Peak resident memory in KiB and page faults of one run; -1 where time does not say."""
    result = subprocess.run(["/usr/bin/time", "-v", *cmd], capture_output=True, text=True)
    found = [re.search(pattern, result.stderr) for pattern in
             (r"Maximum resident set size \(kbytes\): (\d+)",
              r"Minor \(reclaiming a frame\) page faults: (\d+)")]
    return [int(match.group(1)) if match else -1 for match in found]


def separately(src, parts, tool):
    """Runs `parts` skm2trn -j 1 processes at once, each over its own contiguous share of src
    (hard links made once, not timed), each into its own subfolder of the output folder."""
    entries = sorted(os.listdir(src))
    shares = []
    for k in range(parts):
        share = f"{src}-share{k}"
        os.makedirs(share)
        for entry in entries[k * len(entries) // parts:(k + 1) * len(entries) // parts]:
            os.link(os.path.join(src, entry), os.path.join(share, entry))
        shares.append(share)

    def run(folder):
        outs = [os.path.join(folder, str(k)) for k in range(parts)]
        for out in outs:
            os.makedirs(out)
        running = [subprocess.Popen([tool, "-q", "-j", "1", share, out])
                   for share, out in zip(shares, outs)]
        if any([process.wait() != 0 for process in running]):
            raise RuntimeError("skm2trn failed on a share of the set")
    return run


def compare(tool, root, name, count, im_count, sound):
    """Converts one gesture set with every pipeline and prints its table.

    The machine's speed drifts over seconds on shared hosts, so the pipelines take turns: each of
    ROUNDS rounds runs every one of them once, and a ratio is the median of the rounds' ratios,
    each measured within seconds. A figure in seconds is the median of its rounds.
    """
    src = os.path.join(root, name)
    gesture_sets.SETS[name](src, count)
    cores = os.cpu_count() or 1
    out = os.path.join(root, f"{name}-out")

    def ours(workers):
        return lambda folder: subprocess.run([tool, "-q", "-j", str(workers), src, folder],
                                             check=True)

    pipelines = [(f"skm2trn -j {workers}", ours(workers)) for workers in sorted({1, cores})]
    if cores > 1:
        pipelines.append((f"{cores} x skm2trn -j 1, side by side", separately(src, cores, tool)))
    pipelines.append(("Pillow pipeline (1 core)",
                      lambda folder: pillow_pipeline(src, folder, sound)))
    times = {label: [] for label, _ in pipelines}
    for _ in range(ROUNDS):
        for label, run in pipelines:
            times[label].append(timed(run, out))
    rows = [(label, count, median(times[label]), times[label]) for label, _ in pipelines]
    if im_count > 0 and os.path.exists("/usr/bin/convert"):
        seconds, n = imagemagick_pipeline(src, fresh(out), sound, im_count)
        # One run only: against the median round of skm2trn -j 1, scaled to its sample.
        rows.append(("ImageMagick pipeline (1 core)", n, seconds, None))

    first = times["skm2trn -j 1"]
    print(f"\n{name} gestures:\n")
    print("| pipeline | gestures | seconds | gestures/s | skm2trn -j 1 is faster by |")
    print("|---|---|---|---|---|")
    for label, n, s, rounds in rows:
        if label.startswith("skm2trn") or "side by side" in label:
            ratio = "—"
        elif rounds is not None:
            ratio = f"{median([theirs / alone for theirs, alone in zip(rounds, first)]):.1f}x"
        else:
            ratio = f"{(s / n) / (median(first) / count):.1f}x"
        print(f"| {label} | {n} | {s:.3f} | {n / s:.0f} | {ratio} |")

    def speedup(rounds):
        return median([alone / shared for alone, shared in zip(first, rounds)])

    for label, n, s, rounds in rows:
        if label.startswith("skm2trn -j") and label != "skm2trn -j 1":
            print(f"\n{name}: {label} runs {speedup(rounds):.2f} times as fast as skm2trn -j 1.")
        elif "side by side" in label:
            print(f"{name}: {cores} separate processes, each over 1/{cores} of the set, run "
                  f"{speedup(rounds):.2f} times as fast as one over all of it (what the machine "
                  "allows).")
    shutil.rmtree(out, ignore_errors=True)
    return src


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
        sound = bytes(8076)
        cores = os.cpu_count() or 1
        flat = compare(tool, root, "flat", count, im_count, sound)
        hard = compare(tool, root, "hard", count, 0, sound)

        print()
        big = os.path.join(root, "big")
        gesture_sets.make_flat(big, count * 10)
        for name, folder, n in (("flat", flat, count), ("hard", hard, count),
                                ("flat", big, count * 10)):
            out = os.path.join(root, f"mem-{name}{n}")
            os.makedirs(out)
            kib, faults = memory_figures([tool, "-q", "-j", str(cores), folder, out])
            print(f"peak memory, {n} {name} gestures, -j {cores}: {kib} KiB "
                  f"({faults} minor page faults)")
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
