#!/usr/bin/python3
"""skm2trn.exe under Wine: file names beyond ASCII, output folders named so, wildcards, and what
a console shows.

Run by tools/test-windows, which provides the Wine prefix (WINEPREFIX), the cross build
(SKM_BUILD_DIR) and, when it is built, the Linux command line (SKM_CLI), whose packages are the
reference for the bytes.
"""
import os
import pty
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

    def packages(self, folder):
        return {f.name: f.read_bytes() for f in folder.iterdir()}

    def test_folder_and_output_folder_with_names_beyond_ascii(self):
        src = self.sources()
        expected = self.reference(src)
        self.assertEqual(sorted(expected),
                         sorted(["Blink.trn", ACCENTED + ".trn", CYRILLIC + ".trn", CJK + ".trn"]))
        out = self.base / OUTPUT
        out.mkdir()
        result = self.run_exe(wine_path(src), wine_path(out))
        self.assertEqual(result.code, 0, result.err)
        # Name order, as on Linux: the UTF-8 bytes decide.
        prefix = wine_path(src) + "\\"
        self.assertEqual(result.out.splitlines(), [
            f"[1/4] {prefix}Blink.skm: converted (1 frame)",
            f"[2/4] {prefix}{ACCENTED}.skm: converted (3 frames)",
            f"[3/4] {prefix}{CYRILLIC}.skm: converted (10 frames)",
            f"[4/4] {prefix}{CJK}.SKM: converted (5 frames)",
            "4 gestures converted.",
        ])
        self.assertEqual(self.packages(out), expected)

    def test_wildcards_expand_in_name_order(self):
        src = self.sources()
        expected = self.reference(src)
        out = self.base / OUTPUT
        out.mkdir()
        # Letter case does not matter, "gesture.skmx" is not a match for *.skm whatever its
        # short name, and a wildcard may stand in a folder's name too.
        result = self.run_exe("-j", "2", "s?c\\*.SKM", OUTPUT)
        self.assertEqual(result.code, 0, result.err)
        self.assertEqual([line.split(":")[0] for line in result.out.splitlines()[:-1]], [
            "[1/4] src\\Blink.skm", f"[2/4] src\\{ACCENTED}.skm", f"[3/4] src\\{CYRILLIC}.skm",
            f"[4/4] src\\{CJK}.SKM"])
        self.assertEqual(self.packages(out), expected)

        # Case is folded beyond ASCII too, and ? is one character however many bytes it takes.
        again = self.base / "again"
        again.mkdir()
        result = self.run_exe("src\\ЖЕСТ*", "src\\?.skm", "again")
        self.assertEqual(result.code, 0, result.err)
        self.assertEqual([line.split(":")[0] for line in result.out.splitlines()[:-1]],
                         [f"[1/2] src\\{CYRILLIC}.skm", f"[2/2] src\\{CJK}.SKM"])
        self.assertEqual(sorted(self.packages(again)), [CYRILLIC + ".trn", CJK + ".trn"])

    def test_a_pattern_that_matches_nothing_is_that_arguments_error(self):
        self.sources()
        (self.base / "out").mkdir()
        result = self.run_exe("src\\*.gif", "out")
        self.assertNotEqual(result.code, 0)
        self.assertIn("src\\*.gif", result.err)
        self.assertEqual(list((self.base / "out").iterdir()), [])

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
        self.sources()
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
        self.assertEqual(os.waitstatus_to_exitcode(status), 0, shown)
        text = shown.decode("utf-8", errors="replace")
        self.assertNotIn("\ufffd", text)
        for name in (f"Converting: {ACCENTED}.skm", f"Converting: {CYRILLIC}.skm",
                     f"Converting: {CJK}.", "4 gestures converted."):
            self.assertIn(name, text)
        # Not the bytes of one character shown as several (UTF-8 read as a code page).
        self.assertNotIn("Ã", text)
        self.assertNotIn("Ð", text)


if __name__ == "__main__":
    unittest.main()
