#!/usr/bin/python3
"""The packages of both benchmark gesture sets and of the samples against stored digests.

The converter's output is fixed: a faster compressor, decoder or resampler must write the same
bytes. The sets are generated here exactly as the benchmarks generate them (bench/gesture_sets.py,
fixed seeds), converted, and every package's MD5 is compared with tests/cli/package_digests.txt.
The sets are checked in blocks of 100 gestures (a failing block is named); the samples one by
one. The generated sources are digested too, so a changed Pillow or ImageMagick shows as
changed inputs rather than as a converter fault.

Usage: identical_output_test.py PATH_TO_SKM2TRN [--record]
--record writes the digests file from the current converter; do that only with a converter
whose output is known good.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "bench"))
DIGESTS = os.path.join(HERE, "package_digests.txt")
GESTURES = 1000
BLOCK = 100
SKIP = 77


def md5_of(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def block_lines(label, folder, suffix):
    """One line per block of BLOCK files: label, first and last index, MD5 of their digests."""
    names = sorted(n for n in os.listdir(folder) if n.endswith(suffix))
    lines = []
    for start in range(0, len(names), BLOCK):
        chunk = names[start:start + BLOCK]
        summary = "".join(f"{n} {md5_of(os.path.join(folder, n))}\n" for n in chunk)
        lines.append(f"{label} {start:04}-{start + len(chunk) - 1:04} "
                     f"{hashlib.md5(summary.encode()).hexdigest()}")
    return lines


def convert(tool, source, out):
    os.makedirs(out)
    # Exit code 1 only says some source was not converted (the samples hold one on purpose);
    # which packages exist is part of what is compared.
    result = subprocess.run([tool, "-q", "-j", "2", source, out], capture_output=True, text=True)
    if result.returncode not in (0, 1):
        sys.exit(f"skm2trn failed on {source}: {result.stderr}")


def current_lines(tool, work):
    import gesture_sets

    lines = []
    for name, make in sorted(gesture_sets.SETS.items()):
        source = os.path.join(work, name)
        make(source, GESTURES)
        lines += block_lines(f"source-{name}", source, ".skm")
        out = os.path.join(work, name + "-out")
        convert(tool, source, out)
        lines += block_lines(f"package-{name}", out, ".trn")
    out = os.path.join(work, "samples-out")
    convert(tool, os.path.join(ROOT, "samples"), out)
    lines += [f"sample {n} {md5_of(os.path.join(out, n))}" for n in sorted(os.listdir(out))]
    return lines


def main():
    tool = os.path.abspath(sys.argv[1])
    record = "--record" in sys.argv[2:]
    if not os.path.exists("/usr/bin/convert"):
        print("ImageMagick's /usr/bin/convert is missing; tools/install-deps installs it")
        return SKIP
    try:
        import PIL  # noqa: F401
    except ImportError:
        print("Pillow is missing; tools/install-deps installs it")
        return SKIP
    work = tempfile.mkdtemp(prefix="skm2trn-identical-",
                            dir="/dev/shm" if os.access("/dev/shm", os.W_OK) else None)
    try:
        lines = current_lines(tool, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if record:
        with open(DIGESTS, "w") as f:
            f.write("# Written by identical_output_test.py --record; see its docstring.\n")
            f.write("\n".join(lines) + "\n")
        print(f"recorded {len(lines)} digests in {DIGESTS}")
        return 0
    with open(DIGESTS) as f:
        stored = [line.rstrip("\n") for line in f if not line.startswith("#")]
    ok = True
    want = {line.rsplit(" ", 1)[0]: line for line in stored}
    have = {line.rsplit(" ", 1)[0]: line for line in lines}
    for key in sorted(set(want) | set(have)):
        if want.get(key) == have.get(key):
            continue
        ok = False
        what = "generated sources changed (another Pillow or ImageMagick?)" \
            if key.startswith("source-") else "packages differ"
        print(f"{key}: {what}: stored {want.get(key, '(none)').rsplit(' ', 1)[-1]}, "
              f"now {have.get(key, '(none)').rsplit(' ', 1)[-1]}")
    print(f"{len(have)} digests compared: {'all equal' if ok else 'DIFFERENCES'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
