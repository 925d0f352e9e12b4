#!/usr/bin/python3
"""skm2trn.exe under Wine: file names beyond ASCII, output folders named so, wildcards, and what
a console shows.

Run by tools/test-windows, which provides the Wine prefix (WINEPREFIX), the cross build
(SKM_BUILD_DIR) and, when it is built, the Linux command line (SKM_CLI), whose packages are the
reference for the bytes.
"""
import json
import os
import pty
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

WINE = "/usr/lib/wine/wine64"
BUILD = Path(os.environ["SKM_BUILD_DIR"])
EXE = BUILD / "cli" / "skm2trn.exe"
CLI = os.environ.get("SKM_CLI") or None
WORK = Path(os.environ.get("SKM_WORK_DIR", tempfile.gettempdir()))
SAMPLES = Path(__file__).resolve().parents[2] / "samples"
# Wine reads the Unix arguments in the locale's character set.
ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", WINEDEBUG="-all")

CYRILLIC, ACCENTED, CJK = "жест", "café", "波"
OUTPUT = "вывод café 出力"


def wine_path(path):
    return "Z:" + str(path).replace("/", "\\")


class Result:
    def __init__(self, done):
        self.code = done.returncode
        self.out = done.stdout.decode("utf-8").replace("\r\n", "\n")
        self.err = done.stderr.decode("utf-8").replace("\r\n", "\n")


class WindowsCommandLine(unittest.TestCase):
    def setUp(self):
        self.base = Path(tempfile.mkdtemp(prefix="cli.", dir=WORK))

    def tearDown(self):
        shutil.rmtree(self.base, ignore_errors=True)

    def run_exe(self, *args):
        done = subprocess.run([WINE, str(EXE), *args], cwd=self.base, env=ENV,
                              capture_output=True, timeout=120)
        return Result(done)

    def sources(self, folder="src"):
        """Four samples under names beyond ASCII, one in upper case, and two non-gestures."""
        src = self.base / folder
        src.mkdir()
        for sample, name in (("wave.skm", CYRILLIC + ".skm"), ("nod.skm", ACCENTED + ".skm"),
                             ("Bow.SKM", CJK + ".SKM"), ("blink.skm", "Blink.skm")):
            shutil.copy(SAMPLES / sample, src / name)
        (src / "gesture.skmx").write_bytes((SAMPLES / "spin.skm").read_bytes())
        (src / "notes.txt").write_text("not a gesture")
        return src

    def reference(self, src):
        """What the Linux program makes of the same folder: package name -> bytes."""
        if CLI is None:
            self.skipTest("the byte comparison needs the Linux command line (SKM_CLI)")
        out = self.base / "reference"
        out.mkdir()
        done = subprocess.run([CLI, "convert", "-q", str(src), str(out)], capture_output=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        return {f.name: f.read_bytes() for f in out.iterdir()}

    def sources_of(self, result):
        return [f["source"] for f in json.loads(result.out)["files"]]

    def packages(self, folder):
        return {f.name: f.read_bytes() for f in folder.iterdir()}

    def test_folder_and_output_folder_with_names_beyond_ascii(self):
        src = self.sources()
        expected = self.reference(src)
        self.assertEqual(sorted(expected),
                         sorted(["Blink.trn", ACCENTED + ".trn", CYRILLIC + ".trn", CJK + ".trn"]))
        out = self.base / OUTPUT
        out.mkdir()
        result = self.run_exe("--json", wine_path(src), wine_path(out))
        self.assertEqual(result.code, 0, result.err)
        # Name order, as on Linux: the UTF-8 bytes decide.
        files = json.loads(result.out)["files"]
        names = ["Blink", ACCENTED, CYRILLIC, CJK]
        self.assertEqual([f["source"] for f in files],
                         [f"{wine_path(src)}\\{n}.{'SKM' if n == CJK else 'skm'}" for n in names])
        self.assertEqual([f["package"] for f in files],
                         [f"{wine_path(out)}\\{n}.trn" for n in names])
        self.assertEqual([(f["status"], f["frames"]) for f in files],
                         [("converted", 1), ("converted", 3), ("converted", 10), ("converted", 5)])
        self.assertIn("4 gestures converted.", result.out + result.err)
        self.assertEqual(self.packages(out), expected)

    def test_wildcards_expand_in_name_order(self):
        src = self.sources()
        expected = self.reference(src)
        out = self.base / OUTPUT
        out.mkdir()
        # Letter case does not matter, "gesture.skmx" is not a match for *.skm whatever its
        # short name, and a wildcard may stand in a folder's name too.
        result = self.run_exe("-j", "2", "--json", "s?c\\*.SKM", OUTPUT)
        self.assertEqual(result.code, 0, result.err)
        self.assertEqual(self.sources_of(result), [
            "src\\Blink.skm", f"src\\{ACCENTED}.skm", f"src\\{CYRILLIC}.skm", f"src\\{CJK}.SKM"])
        self.assertEqual(self.packages(out), expected)

        # Case is folded beyond ASCII too, and ? is one character however many bytes it takes.
        again = self.base / "again"
        again.mkdir()
        result = self.run_exe("--json", "src\\ЖЕСТ*", "src\\?.skm", "again")
        self.assertEqual(result.code, 0, result.err)
        self.assertEqual(self.sources_of(result), [f"src\\{CYRILLIC}.skm", f"src\\{CJK}.SKM"])
        self.assertEqual(sorted(self.packages(again)), [CYRILLIC + ".trn", CJK + ".trn"])

    def test_a_pattern_that_matches_nothing_is_that_arguments_error(self):
        self.sources()
        (self.base / "out").mkdir()
        result = self.run_exe("src\\*.gif", f"src\\{CYRILLIC}.skm", "out")
        self.assertEqual(result.code, 1, result.err)
        self.assertIn("src\\*.gif: cannot read: No such file or directory", result.err)
        self.assertEqual([f.name for f in (self.base / "out").iterdir()], [CYRILLIC + ".trn"])

    def test_names_differing_in_case_beyond_ascii_clash(self):
        # Windows file systems ignore case in every script: ЖЕСТ.skm would replace жест.trn.
        for folder, name, sample in (("a", CYRILLIC + ".skm", "wave.skm"),
                                     ("b", "ЖЕСТ.SKM", "nod.skm"), ("b", "CAFÉ.skm", "spin.skm"),
                                     ("c", ACCENTED + ".skm", "blink.skm")):
            (self.base / folder).mkdir(exist_ok=True)
            shutil.copy(SAMPLES / sample, self.base / folder / name)
        out = self.base / "out"
        out.mkdir()
        result = self.run_exe("--json", "-j", "2", "a", "b", "c", "out")
        self.assertEqual(result.code, 1, result.err)
        files = json.loads(result.out)["files"]
        self.assertEqual([(f["source"], f["status"], f["reason"]) for f in files], [
            (f"a\\{CYRILLIC}.skm", "converted", None),
            ("b\\CAFÉ.skm", "converted", None),
            ("b\\ЖЕСТ.SKM", "skipped", f"same package name as a\\{CYRILLIC}.skm"),
            (f"c\\{ACCENTED}.skm", "skipped", "same package name as b\\CAFÉ.skm")])
        self.assertEqual(sorted(f.name for f in out.iterdir()), ["CAFÉ.trn", CYRILLIC + ".trn"])
        self.assertTrue((out / (CYRILLIC + ".trn")).read_bytes().endswith(b"Wave"))

    def test_single_files_inspect_and_extract(self):
        src = self.sources()
        out = self.base / OUTPUT
        out.mkdir()
        result = self.run_exe(f"src\\{CYRILLIC}.skm", f"src\\{CJK}.SKM", OUTPUT + "\\")
        self.assertEqual(result.code, 0, result.err)
        self.assertEqual(sorted(self.packages(out)), [CYRILLIC + ".trn", CJK + ".trn"])

        result = self.run_exe("inspect", OUTPUT + "\\*.trn", f"src\\{ACCENTED}.skm")
        self.assertEqual(result.code, 0, result.err)
        shown = [line for line in result.out.splitlines() if not line.startswith(" ")]
        self.assertEqual(shown, [f"{OUTPUT}\\{CYRILLIC}.trn: gesture package",
                                 f"{OUTPUT}\\{CJK}.trn: gesture package",
                                 f"src\\{ACCENTED}.skm: source gesture"])
        self.assertIn('name:        "Wave"', result.out)

        unpacked = self.base / "распаковка 解"
        unpacked.mkdir()
        result = self.run_exe("extract", f"{OUTPUT}\\{CYRILLIC}.trn", unpacked.name)
        self.assertEqual(result.code, 0, result.err)
        self.assertEqual(sorted(f.name for f in unpacked.iterdir()),
                         ["animation.gif", "button.bmp", "name.txt", "sound.wav"])
        self.assertEqual((unpacked / "name.txt").read_text(), "Wave")
        self.assertIn(f"{unpacked.name}\\name.txt", result.out)
        self.assertEqual(src.exists(), True)

    def test_a_console_shows_the_names(self):
        # Wine gives a program started on a terminal a console of its own that writes to the
        # terminal in UTF-8, so what reaches the pseudo-terminal is what a console would show.
        src = self.sources()
        (src / "плохой.skm").write_bytes(b"not a gesture")
        (self.base / "out").mkdir()
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(self.base)
            os.execve(WINE, [WINE, str(EXE), "-j", "1", "src\\*.skm", "out"], ENV)
        shown = b""
        while True:
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                break
            if not chunk:
                break
            shown += chunk
        os.close(fd)
        _, status = os.waitpid(pid, 0)
        self.assertEqual(os.waitstatus_to_exitcode(status), 1, shown)
        text = shown.decode("utf-8", errors="replace")
        self.assertNotIn("\ufffd", text)
        for name in (f" {ACCENTED}.skm", f" {CYRILLIC}.skm", f" {CJK}.SKM",
                     "Not converted (1):", "src\\плохой.skm: not a gesture file"):
            self.assertIn(name, text)
        # The progress line is cleared before the summary, though they go to different streams.
        # (Wine's console hides and shows the cursor around every write.)
        plain = re.sub(r"\x1b\[\?25[hl]", "", text)
        self.assertIn("\r\x1b[K4 gestures converted.", plain)
        # Not the bytes of one character shown as several (UTF-8 read as a code page).
        self.assertNotIn("Ã", text)
        self.assertNotIn("Ð", text)


if __name__ == "__main__":
    unittest.main()
