#!/usr/bin/python3
"""End-to-end tests of the skm2trn command line, checked with decoders nobody here wrote.

Gestures are generated with Pillow, ImageMagick and gifsicle; packages are checked with
Pillow (BMP and GIF), giflib's giftext and Python's hashlib.
Usage: e2e_test.py PATH_TO_SKM2TRN
"""
import hashlib
import io
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "codecs",
                                "oracle"))

SKM2TRN = None
FLAG_LOOP = 1
FLAG_SOUND = 8


def skm(name, flags, frame_width, button, strip, sound=b""):
    data = name.encode("latin-1")
    out = b"SKMG0100" + bytes([len(data)]) + data + struct.pack(">Ih", flags, frame_width)
    out += bytes(6 + 28)
    out += struct.pack(">I", len(button)) + button + struct.pack(">I", len(strip)) + strip
    if flags & FLAG_SOUND:
        out += struct.pack(">I", len(sound)) + sound
    return out


def pillow_gif(image, colours=256):
    if image.mode != "P":
        image = image.convert("RGB").quantize(colors=colours, dither=Image.Dither.NONE)
    out = io.BytesIO()
    image.save(out, "GIF")
    return out.getvalue()


def random_picture(rng, width, height):
    picture = Image.new("RGB", (width, height))
    picture.putdata([(rng.randrange(256), rng.randrange(256), rng.randrange(256))
                     for _ in range(width * height)])
    return picture


def parse_package(data):
    assert data[0] == 0x20
    ident = data[1:33].decode("ascii")
    at = 33
    parts = []
    for _ in range(3):
        (n,) = struct.unpack(">I", data[at:at + 4])
        parts.append(data[at + 4:at + 4 + n])
        at += 4 + n
    (n,) = struct.unpack(">H", data[at:at + 2])
    name = data[at + 2:at + 2 + n]
    assert at + 2 + n == len(data), "trailing bytes after the name"
    return ident, parts[0], parts[1], parts[2], name


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def run(*args, check=None):
    result = subprocess.run([SKM2TRN, *args], capture_output=True, text=True)
    if check is not None and result.returncode != check:
        raise AssertionError(f"exit {result.returncode}, wanted {check}\n{result.stdout}\n"
                             f"{result.stderr}")
    return result


class Base(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="skm2trn-e2e-")
        self.src = os.path.join(self.tmp, "src")
        self.out = os.path.join(self.tmp, "out")
        os.makedirs(self.src)
        os.makedirs(self.out)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def put(self, name, data):
        with open(os.path.join(self.src, name), "wb") as f:
            f.write(data)

    def package(self, base):
        with open(os.path.join(self.out, base + ".trn"), "rb") as f:
            return parse_package(f.read())


    def check_package(self, base, fw, frames, flags, name, strip, button):
        ident, bmp, gif, sound, stored_name = self.package(base)
        self.assertEqual(stored_name, name.encode())
        self.assertEqual(ident, hashlib.md5(name.encode()).hexdigest())
        self.assertEqual(sound[:4], b"RIFF")
        self.assertEqual(len(sound), 8076)

        # The button: 16 x 16, nearest-neighbour samples of the source button. Rows are sampled
        # in storage order, bottom-up, so row i from the top samples from the bottom too.
        got = Image.open(io.BytesIO(bmp))
        self.assertEqual(got.format, "BMP")
        self.assertEqual(got.size, (16, 16))
        got = got.convert("RGB")
        src = button.convert("RGB")
        xs, ys = f32(src.width / 16), f32(src.height / 16)
        for i in range(16):
            for j in range(16):
                sx = int(f32(j * xs))
                sy = src.height - 1 - int(f32((15 - i) * ys))
                self.assertEqual(got.getpixel((j, i)), src.getpixel((sx, sy)), (j, i))

        # The animation: frame j is strip columns j*fw .. j*fw+fw-1, 200 ms, disposal 2.
        anim = Image.open(io.BytesIO(gif))
        self.assertEqual(anim.n_frames, frames)
        self.assertEqual(anim.info.get("loop"), 0 if flags & FLAG_LOOP else 1)
        strip_rgb = strip.convert("RGB")
        for j in range(frames):
            anim.seek(j)
            self.assertEqual(anim.info.get("duration"), 200)
            self.assertEqual(anim.disposal_method, 2)
            frame = anim.convert("RGB")
            expected = strip_rgb.crop((j * fw, 0, (j + 1) * fw, strip.height))
            self.assertEqual(frame.size, expected.size)
            self.assertEqual(list(frame.getdata()), list(expected.getdata()), f"frame {j}")

        path = os.path.join(self.tmp, base + ".gif")
        with open(path, "wb") as f:
            f.write(gif)
        giftext = shutil.which("giftext")
        if giftext:
            subprocess.run([giftext, path], check=True, capture_output=True)


class ConvertWithIndependentDecoders(Base):
    def test_pillow_gestures_decode_in_pillow_and_giftext(self):
        rng = random.Random(7)
        cases = []
        for i in range(12):
            fw = rng.choice([8, 16, 23, 48])
            frames = rng.randint(1, 12)
            colours = rng.choice([2, 4, 16, 64, 256])
            strip = random_picture(rng, fw * frames, rng.randint(1, 40))
            strip = strip.quantize(colors=colours, dither=Image.Dither.NONE)
            button = random_picture(rng, rng.randint(1, 50), rng.randint(1, 50))
            button = button.quantize(colors=colours, dither=Image.Dither.NONE)
            flags = rng.choice([0, FLAG_LOOP])
            name = f"Gesture {i}"
            self.put(f"g{i:02}.skm", skm(name, flags, fw, pillow_gif(button), pillow_gif(strip)))
            cases.append((i, fw, frames, flags, name, strip, button))
        run("convert", "-q", self.src, self.out, check=0)
        for i, fw, frames, flags, name, strip, button in cases:
            with self.subTest(gesture=i):
                self.check_package(f"g{i:02}", fw, frames, flags, name, strip, button)

    def test_imagemagick_and_gifsicle_strips(self):
        convert = "/usr/bin/convert"
        gifsicle = shutil.which("gifsicle")
        if not os.path.exists(convert) or not gifsicle:
            self.skipTest("ImageMagick or gifsicle is not installed")
        made = os.path.join(self.tmp, "im.gif")
        subprocess.run([convert, "-size", "96x24", "gradient:red-blue", "-colors", "32",
                        "-interlace", "GIF", made], check=True)
        with open(made, "rb") as f:
            im_strip = f.read()
        sic = subprocess.run([gifsicle, "--colors", "16", "-O2", made], check=True,
                             capture_output=True).stdout
        self.put("im.skm", skm("IM", FLAG_LOOP, 24, im_strip, im_strip))
        self.put("sic.skm", skm("Sic", 0, 32, sic, sic))
        run(self.src, self.out, check=0)
        for base, fw, frames, flags in (("im", 24, 4, FLAG_LOOP), ("sic", 32, 3, 0)):
            strip = Image.open(io.BytesIO(im_strip if base == "im" else sic))
            self.check_package(base, fw, frames, flags, "IM" if base == "im" else "Sic",
                               strip, strip)


class CommandLine(Base):
    def simple(self, name="Hi", flags=0, fw=4):
        strip = Image.new("P", (12, 4))
        return skm(name, flags, fw, pillow_gif(strip), pillow_gif(strip))

    def test_worker_count_gives_identical_packages(self):
        rng = random.Random(3)
        for i in range(20):
            strip = random_picture(rng, 8 * (1 + i % 7), 8).quantize(colors=1 + i * 12)
            self.put(f"s{i}.skm", skm(f"S{i}", i % 2, 8, pillow_gif(strip), pillow_gif(strip)))
        other = os.path.join(self.tmp, "other")
        os.makedirs(other)
        run("-j", "1", "-q", self.src, self.out, check=0)
        run("-j", "4", "-q", self.src, other, check=0)
        names = sorted(os.listdir(self.out))
        self.assertEqual(names, sorted(os.listdir(other)))
        self.assertEqual(len(names), 20)
        for n in names:
            with open(os.path.join(self.out, n), "rb") as a, open(os.path.join(other, n), "rb") as b:
                self.assertEqual(a.read(), b.read(), n)

    def test_exit_statuses_and_reasons(self):
        self.put("good.skm", self.simple())
        self.put("junk.skm", b"\x00" * 100)
        self.put("cut.skm", self.simple()[:-5])
        self.put("zero.skm", self.simple(fw=0))
        result = run("--json", self.src, self.out, check=1)
        report = json.loads(result.stdout)
        self.assertEqual(report["converted"], 1)
        by_name = {os.path.basename(f["source"]): f for f in report["files"]}
        self.assertEqual(by_name["good.skm"]["status"], "converted")
        self.assertTrue(by_name["good.skm"]["package"].endswith("good.trn"))
        self.assertEqual(by_name["junk.skm"]["status"], "skipped")
        self.assertIn("not a gesture file", by_name["junk.skm"]["reason"])
        self.assertEqual(by_name["cut.skm"]["status"], "failed")
        self.assertIn("damaged", by_name["cut.skm"]["reason"])
        self.assertIsNone(by_name["cut.skm"]["package"])
        self.assertIn("frame width 0", by_name["zero.skm"]["reason"])
        self.assertEqual(sorted(os.listdir(self.out)), ["good.trn"])

        plain = run(self.src, self.out, check=1)
        self.assertEqual(plain.stdout, "1 gesture converted.\n")
        self.assertIn("junk.skm: not a gesture file", plain.stderr)

    def test_usage_errors(self):
        self.put("good.skm", self.simple())
        self.assertEqual(run("--bogus", self.src, self.out).returncode, 2)
        missing = run(self.src, os.path.join(self.tmp, "nowhere"))
        self.assertEqual(missing.returncode, 2)
        self.assertIn("does not exist", missing.stderr)
        empty = os.path.join(self.tmp, "empty")
        os.makedirs(empty)
        self.assertEqual(run(empty, self.out).returncode, 2)
        self.assertEqual(run(self.src).returncode, 2)
        self.assertEqual(run("-j", "x", self.src, self.out).returncode, 2)
        self.assertEqual(run("--help").returncode, 0)
        version = run("--version", check=0)
        self.assertRegex(version.stdout, r"^skm2trn \d+\.\d+\.\d+")

    def test_folder_scan_ignores_case_subfolders_and_other_files(self):
        self.put("a.skm", self.simple("A"))
        self.put("B.SKM", self.simple("B"))
        self.put("c.txt", self.simple("C"))
        os.makedirs(os.path.join(self.src, "d.skm"))
        run("-q", self.src, self.out, check=0)
        self.assertEqual(sorted(os.listdir(self.out)), ["B.trn", "a.trn"])

    def test_single_file_source_contents_and_extract(self):
        self.put("one.skm", self.simple("One", FLAG_LOOP))
        run("-q", os.path.join(self.src, "one.skm"), self.out, check=0)
        pkg = os.path.join(self.out, "one.trn")
        shown = run("inspect", pkg, os.path.join(self.src, "one.skm"), check=0).stdout
        self.assertIn('"One"', shown)
        self.assertIn(hashlib.md5(b"One").hexdigest() + " (matches the name)", shown)
        self.assertIn("3 frames, loop count 0 (endless)", shown)
        self.assertIn("16 x 16 pixels", shown)
        self.assertIn("MPEG Layer III, 8000 Hz, mono", shown)
        self.assertIn("converts:    yes, 3 frames", shown)

        dest = os.path.join(self.tmp, "x")
        os.makedirs(dest)
        run("extract", pkg, dest, check=0)
        with open(pkg, "rb") as f:
            ident, bmp, gif, sound, name = parse_package(f.read())
        for fname, expected in (("button.bmp", bmp), ("animation.gif", gif),
                                ("sound.wav", sound), ("name.txt", name)):
            with open(os.path.join(dest, fname), "rb") as f:
                self.assertEqual(f.read(), expected, fname)

    def test_existing_package_survives_a_failed_overwrite(self):
        self.put("keep.skm", self.simple("Keep"))
        run("-q", self.src, self.out, check=0)
        with open(os.path.join(self.out, "keep.trn"), "rb") as f:
            before = f.read()
        os.chmod(self.out, 0o555)
        try:
            if os.access(self.out, os.W_OK):
                self.skipTest("running with rights that ignore folder permissions")
            result = run(self.src, self.out)
            self.assertEqual(result.returncode, 2)
        finally:
            os.chmod(self.out, 0o755)
        with open(os.path.join(self.out, "keep.trn"), "rb") as f:
            self.assertEqual(f.read(), before)


class PicturesAsEditorsWriteThem(Base):
    """Metadata blocks are stepped over; pictures that give no pixel are never converted."""

    def test_each_case_as_strip_and_as_button(self):
        import gif_cases
        w, h, fw = 24, 7, 8
        plain = gif_cases.gif(w, h)
        made = {}
        for name, data in gif_cases.metadata_cases(w, h).items():
            made[name] = (data, None)
        for name, (data, cause) in gif_cases.blank_cases(w, h).items():
            made[name] = (data, cause)
        made["huge"] = (gif_cases.gif(w, h, descriptor=(65535, 65535), data=b"\x01\x00\x00"),
                        "too large")
        for name, (data, _) in made.items():
            self.put(f"strip_{name}.skm", skm(name, 0, fw, plain, data))
            self.put(f"button_{name}.skm", skm(name, 0, fw, data, plain))
        self.put("plain.skm", skm("plain", 0, fw, plain, plain))
        result = run("--json", self.src, self.out, check=1)
        files = {os.path.basename(f["source"]): f for f in json.loads(result.stdout)["files"]}
        with open(os.path.join(self.out, "plain.trn"), "rb") as f:
            reference = parse_package(f.read())
        picture = Image.open(io.BytesIO(plain))
        self.check_package("plain", fw, 3, 0, "plain", picture, picture)
        sentences = {"undecodable": "the {}'s image data cannot be decoded",
                     "no pixels": "the {} has no pixels",
                     "too large": "{} too large: 65535 x 65535 pixels"}
        for name, (data, cause) in made.items():
            for role in ("strip", "button"):
                with self.subTest(case=name, role=role):
                    entry = files[f"{role}_{name}.skm"]
                    if cause is None:
                        self.assertEqual((entry["status"], entry["reason"]), ("converted", None))
                        # The same pictures as the plain gesture's, byte for byte.
                        got = self.package(f"{role}_{name}")
                        self.assertEqual(got[1:4], reference[1:4])
                    else:
                        self.assertEqual(entry["status"], "skipped")
                        self.assertEqual(entry["reason"],
                                         sentences[cause].format(role + " picture"))
                        self.assertIsNone(entry["package"])
                        self.assertFalse(os.path.exists(
                            os.path.join(self.out, f"{role}_{name}.trn")))


class BadInputs(unittest.TestCase):
    def test_hostile_corpus_ends_with_a_reason_for_every_file(self):
        corpus = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bad-inputs")
        out = tempfile.mkdtemp(prefix="skm2trn-bad-")
        try:
            result = subprocess.run([SKM2TRN, "--json", "-j", "2", corpus, out],
                                    capture_output=True, text=True, timeout=300)
            self.assertEqual(result.returncode, 1, result.stderr)
            report = json.loads(result.stdout)
            self.assertEqual(report["total"], len([n for n in os.listdir(corpus)
                                                   if n.lower().endswith(".skm")]))
            for entry in report["files"]:
                if entry["status"] != "converted":
                    self.assertTrue(entry["reason"], entry)
                    self.assertIsNone(entry["package"], entry)
            leftovers = [n for n in os.listdir(out) if not n.endswith(".trn")]
            self.assertEqual(leftovers, [])
        finally:
            shutil.rmtree(out, ignore_errors=True)


if __name__ == "__main__":
    SKM2TRN = sys.argv.pop(1)
    unittest.main(verbosity=2)
