#!/usr/bin/python3
"""Drives the real dialog application under Wine from outside.

Run by tools/test-windows, which provides the Wine prefix (WINEPREFIX), a private Xvfb display
(DISPLAY), the cross build (SKM_BUILD_DIR) and, when the command-line converter is built, its
path (SKM_CLI). The dialog is skm2trn-gui-test.exe, the product built with one test hook: the
shell's folder browser preselects the folder named in the file SKM2TRN_TEST_BROWSE_FILE points
to, and the driver presses the browser's OK or Cancel. Test folders are reached through drive
letters (S: is the test's folder), because Wine's browser only preselects folders near the top
of its tree.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path


WINE = "/usr/lib/wine/wine64"
BUILD = Path(os.environ["SKM_BUILD_DIR"])
APP = BUILD / "app" / "skm2trn-gui-test.exe"
DRIVER = BUILD / "tests" / "windows" / "dialog_driver.exe"
SHOTS = Path(os.environ.get("SKM_SCREENSHOTS", BUILD / "screenshots"))
WORK = Path(os.environ.get("SKM_WORK_DIR", tempfile.gettempdir()))
CLI = os.environ.get("SKM_CLI") or None
SAMPLES = Path(__file__).resolve().parents[2] / "samples"

CAPTION = "SKM -> TRN Gesture Converter"
IDOK, IDCANCEL = 1, 2
IDC_CONVERT, IDC_SELECT_FOLDER = 1000, 1001
IDC_PROGRESS, IDC_STATUS, IDC_MESSAGE = 1004, 1005, 1006
VK_TAB, VK_RETURN, VK_ESCAPE, VK_UP = 0x09, 0x0D, 0x1B, 0x26
SC_MINIMIZE, SC_CLOSE, SC_KEYMENU, SC_RESTORE = 0xF020, 0xF060, 0xF100, 0xF120
IDM_ABOUTBOX = 0x0010
FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM = 1, 2, 4
SOURCE_TITLE = "Select Gesture Folder"
OUTPUT_TITLE = "Select a Folder to save converted gestures."


class DriverError(Exception):
    pass


class Driver:
    """tests/windows/DialogDriver.cpp, one Wine process answering one command per line."""

    def __init__(self):
        self.proc = subprocess.Popen([WINE, str(DRIVER)], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

    def __call__(self, *words):
        line = " ".join(str(w) for w in words)
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        reply = self.proc.stdout.readline()
        if not reply:
            raise DriverError("driver ended at: " + line)
        answer = json.loads(reply)
        if not answer["ok"]:
            raise DriverError(f"{line}: {answer['error']}")
        return answer["value"]

    def close(self):
        self.proc.stdin.write("quit\n")
        self.proc.stdin.close()
        self.proc.wait(30)


def wine_path(path):
    return "Z:" + str(path).replace("/", "\\")


def map_drive(letter, target):
    """Points drive letter (s or r, mapped by tools/test-windows) at target."""
    link = WORK / f"drive-{letter}"
    if link.is_symlink() or link.exists():
        link.unlink()
    link.symlink_to(target)


def screenshot(name, window=None):
    """The whole display, or with window (a caption) only that window, title bar included: Wine
    draws the caption itself, with its own symbol font for the buttons (fonts-wine)."""
    SHOTS.mkdir(parents=True, exist_ok=True)
    target = "root"
    if window is not None:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", window],
                               capture_output=True, text=True).stdout.split()
        if not found:
            return
        target = found[-1]
    subprocess.run(["/usr/bin/import", "-window", target, str(SHOTS / name)], check=True)


def wait_until(predicate, timeout, interval=0.1):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


class DialogTest(unittest.TestCase):
    driver = None

    @classmethod
    def setUpClass(cls):
        cls.driver = Driver()

    @classmethod
    def tearDownClass(cls):
        cls.driver.close()

    def setUp(self):
        self.base = Path(tempfile.mkdtemp(prefix="case.", dir=WORK))
        map_drive("s", self.base)
        self.selection = self.base / "browse.txt"
        self.app = None

    def tearDown(self):
        if self.app is not None and self.app.poll() is None:
            self.app.kill()
            self.app.wait(30)
        shutil.rmtree(self.base, ignore_errors=True)

    # Helpers.

    def start(self):
        env = dict(os.environ, SKM2TRN_TEST_BROWSE_FILE=wine_path(self.selection))
        self.app = subprocess.Popen([WINE, str(APP)], env=env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        # The window shows within a second or two; once, on a busy shared host, Wine held it
        # back for more than 20 s, and a start that slow is not what these tests look at.
        self.main = self.driver("find", 60000, CAPTION)
        return self.main

    def folder(self, name, files=()):
        folder = self.base / name
        folder.mkdir(parents=True, exist_ok=True)
        for file in files:
            (folder / file).write_bytes(b"SKMG")
        return folder

    def browse(self, button, folder, press=IDOK):
        """Clicks button, checks the browser that opens and presses OK or Cancel in it.
        Returns the texts shown in the browser."""
        self.selection.write_text((folder or "") + "\n")
        self.driver("click", self.main, button)
        browser = self.driver("owned", 10000, self.main)

        def texts_shown():
            texts = [text for _, _, text, _ in self.driver("controls", browser)]
            return texts if not folder or folder in texts else None

        # The preselection arrives once the browser has filled its tree.
        texts = wait_until(texts_shown, 5) or texts_shown() or \
            [text for _, _, text, _ in self.driver("controls", browser)]
        self.driver("click", browser, press)
        self.driver("gone", 10000, browser)
        return texts

    def text(self, control):
        return self.driver("text", self.main, control)

    def enabled(self, control):
        return self.driver("enabled", self.main, control) == 1

    def progress(self):
        return tuple(self.driver("progress", self.main, IDC_PROGRESS))

    def buttons(self):
        return self.enabled(IDC_SELECT_FOLDER), self.enabled(IDC_CONVERT)

    def assert_open(self):
        time.sleep(0.5)
        self.assertIsNone(self.app.poll(), "the application ended")
        self.assertEqual(self.driver("exists", self.main), 1)

    def assert_exits(self, timeout=20):
        self.driver("gone", timeout * 1000, self.main)
        self.assertEqual(self.app.wait(timeout), 0)

    def scan(self, folder, expected_status):
        texts = self.browse(IDC_SELECT_FOLDER, folder)
        self.assertIn(SOURCE_TITLE, texts)
        self.assertIn(folder, texts, "the browser's status line shows the selected path")
        self.assertEqual(self.text(IDC_STATUS), expected_status)


class StartAndWindow(DialogTest):
    def test_start_state(self):
        main = self.start()
        self.assertEqual(self.driver("caption", main), CAPTION)
        self.assertEqual(self.buttons(), (True, False))
        self.assertEqual(self.driver("focus", main), IDC_SELECT_FOLDER)
        self.assertEqual(self.text(IDC_STATUS), "")
        self.assertEqual(self.text(IDC_MESSAGE), "")
        self.assertEqual(self.progress()[0], 0)
        screenshot("main-start.png")

    def test_escape_and_cancel_do_nothing(self):
        main = self.start()
        self.driver("key", main, VK_ESCAPE)
        self.assert_open()
        self.driver("command", main, IDCANCEL)
        self.assert_open()
        self.driver("close", main)
        self.assert_exits()

    def test_about_item_opens_the_about_box(self):
        main = self.start()
        self.driver("syscommand", main, IDM_ABOUTBOX)
        about = self.driver("owned", 10000, main)
        self.assertEqual(self.driver("caption", about), "About SKM->TRN")
        texts = [(id, text) for id, _, text, _ in self.driver("controls", about)]
        self.assertIn((-1, "SKM->TRN Version 1.0"), texts)
        self.assertIn((-1, "Conversion tool for converting SKM gestures to Tovrin gestures."),
                      texts)
        self.assertIn((IDOK, "OK"), texts)
        self.assertEqual(self.driver("focus", about), IDOK)
        screenshot("about.png")
        self.driver("click", about, IDOK)
        self.driver("gone", 10000, about)
        self.assert_open()
        self.assertEqual(self.buttons(), (True, False))

    def test_system_menu_ends_with_the_about_item(self):
        main = self.start()
        # Open the system menu from the keyboard; Up from the top wraps to its last item.
        self.driver("syscommand", main, SC_KEYMENU, ord(" "))
        time.sleep(1)
        screenshot("system-menu.png")
        self.driver("key", main, VK_UP)
        self.driver("key", main, VK_RETURN)
        about = self.driver("owned", 10000, main)
        self.assertEqual(self.driver("caption", about), "About SKM->TRN")
        self.driver("click", about, IDOK)
        self.driver("gone", 10000, about)
        self.assert_open()

    def test_other_system_commands_keep_their_default_handling(self):
        main = self.start()
        self.driver("syscommand", main, SC_MINIMIZE)
        self.assertTrue(wait_until(lambda: self.driver("iconic", main) == 1, 5))
        self.driver("syscommand", main, SC_RESTORE)
        self.assertTrue(wait_until(lambda: self.driver("iconic", main) == 0, 5))
        self.assert_open()

    def test_close_box_ends_the_application(self):
        main = self.start()
        self.driver("syscommand", main, SC_CLOSE)
        self.assert_exits()

    def test_enter_without_a_focused_button_ends_the_application(self):
        main = self.start()
        # Tab skips the disabled Convert button and lands on the message line.
        self.driver("key", main, VK_TAB)
        self.assertEqual(wait_until(lambda: self.driver("focus", main) == IDC_MESSAGE, 5), True)
        self.driver("key", main, VK_RETURN)
        self.assert_exits()


class FolderSelection(DialogTest):
    def test_lists_files_but_not_subfolders_or_system_files(self):
        src = self.folder("src", ["a.skm", "b.skm"])
        (src / "c.skm").mkdir()
        (src / "d.skm").write_bytes(b"SKMG")
        (src / "notes.txt").write_bytes(b"")
        attributes = self.driver("setattr", wine_path(src / "d.skm"), FILE_ATTRIBUTE_SYSTEM)
        self.assertTrue(attributes & FILE_ATTRIBUTE_SYSTEM, "the prefix keeps DOS attributes")
        self.start()
        self.scan("S:\\src", "2 Gestures Found.")
        self.assertEqual(self.progress()[1:], (0, 2))
        self.assertEqual(self.buttons(), (True, True))

    def test_hidden_and_read_only_files_count_and_a_new_scan_replaces_the_list(self):
        src = self.folder("src", ["h.skm", "r.skm", "UPPER.SKM"])
        self.driver("setattr", wine_path(src / "h.skm"), FILE_ATTRIBUTE_HIDDEN)
        self.driver("setattr", wine_path(src / "r.skm"), FILE_ATTRIBUTE_READONLY)
        self.folder("one", ["only.skm"])
        self.start()
        self.scan("S:\\src", "3 Gestures Found.")
        self.assertEqual(self.progress()[1:], (0, 3))
        self.scan("S:\\one", "1 Gestures Found.")
        self.assertEqual(self.progress()[1:], (0, 1))
        self.assertEqual(self.buttons(), (True, True))
        self.driver("setattr", wine_path(src / "r.skm"), 0x80)

    def test_only_long_names_ending_in_skm_count(self):
        # The wildcard search also matches short names: "gesture.skmx" is GESTUR~1.SKM.
        self.folder("src", ["a.skm", "B.SKM", "gesture.skmx", "wave.skm.txt", "x.skm~", ".skmrc"])
        self.start()
        self.scan("S:\\src", "2 Gestures Found.")
        self.assertEqual(self.progress()[1:], (0, 2))

    def test_empty_folder(self):
        self.folder("empty")
        self.start()
        self.scan("S:\\empty", "No Gestures Found.")
        self.assertEqual(self.buttons(), (True, False))

    def test_drive_root(self):
        src = self.folder("src", ["a.skm", "b.skm"])
        map_drive("r", src)
        self.start()
        self.scan("R:\\", "2 Gestures Found.")
        self.assertEqual(self.buttons(), (True, True))

    def test_cancelling_the_source_browser_empties_the_list(self):
        self.folder("src", ["a.skm", "b.skm"])
        self.start()
        self.scan("S:\\src", "2 Gestures Found.")
        texts = self.browse(IDC_SELECT_FOLDER, "S:\\src", press=IDCANCEL)
        self.assertIn(SOURCE_TITLE, texts)
        self.assertEqual(self.buttons(), (True, False))
        self.assertEqual(self.text(IDC_STATUS), "2 Gestures Found.")

    def test_cancelling_the_output_browser_starts_nothing(self):
        self.folder("src", ["a.skm", "b.skm"])
        out = self.folder("out")
        self.start()
        self.scan("S:\\src", "2 Gestures Found.")
        texts = self.browse(IDC_CONVERT, "S:\\out", press=IDCANCEL)
        self.assertIn(OUTPUT_TITLE, texts)
        self.assert_open()
        self.assertEqual(self.buttons(), (True, True))
        self.assertEqual(self.text(IDC_MESSAGE), "")
        self.assertEqual(list(out.iterdir()), [])

    def test_progress_range_beyond_sixteen_bits(self):
        count = 70000
        src = self.folder("many")
        for i in range(count):
            (src / f"{i}.skm").touch()
        self.start()
        self.scan("S:\\many", f"{count} Gestures Found.")
        self.assertEqual(self.progress()[1:], (0, count))


class Executable(unittest.TestCase):
    def test_runs_without_dlls_beside_it(self):
        def objdump(flag):
            return subprocess.run(["x86_64-w64-mingw32-objdump", flag,
                                   str(BUILD / "app" / "skm2trn-gui.exe")],
                                  capture_output=True, text=True, check=True).stdout

        self.assertIn("file format pei-x86-64", objdump("-f"))
        headers = objdump("-p")
        self.assertIn("(Windows GUI)", headers)
        dlls = {line.split(":", 1)[1].strip().lower() for line in headers.splitlines()
                if "DLL Name:" in line}
        system = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll",
                  "ole32.dll", "msvcrt.dll", "advapi32.dll"}
        self.assertTrue(dlls, "no imports found")
        self.assertLessEqual(dlls, system)

def run_cli(sources, output):
    output.mkdir(parents=True, exist_ok=True)
    done = subprocess.run([CLI, "convert", "-q", str(sources), str(output)],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    if done.returncode not in (0, 1):
        raise AssertionError(f"skm2trn convert failed with {done.returncode}")
    return {f.name: f.read_bytes() for f in sorted(output.iterdir())}


@unittest.skipUnless(CLI, "the byte comparison needs the command-line converter (SKM_CLI)")
class Conversion(DialogTest):
    def convert(self, output):
        texts = self.browse(IDC_CONVERT, output)
        self.assertIn(OUTPUT_TITLE, texts)

    def test_packages_match_the_command_line_and_the_end_state(self):
        src = self.folder("src")
        for sample in SAMPLES.iterdir():
            if sample.suffix.lower() == ".skm":
                shutil.copy(sample, src / sample.name)
        count = len(list(src.iterdir()))
        self.assertGreater(count, 2)
        out = self.folder("out")
        expected = run_cli(src, self.base / "cli")
        self.assertTrue(expected, "the command line converted nothing")

        self.start()
        self.scan("S:\\src", f"{count} Gestures Found.")
        screenshot("main-before-run.png")
        self.convert("S:\\out")
        finished = wait_until(lambda: self.text(IDC_MESSAGE) == "Converting Finished.", 60)
        self.assertTrue(finished, self.text(IDC_MESSAGE))
        self.assertEqual(self.buttons(), (True, True))
        self.assertEqual(self.progress(), (count, 0, count))
        self.assertEqual(self.text(IDC_STATUS), f"{len(expected)} gestures converted.")
        screenshot("main-after-run.png")
        screenshot("dialog.png", CAPTION)  # the README's picture

        produced = {f.name: f.read_bytes() for f in sorted(out.iterdir())}
        self.assertEqual(sorted(produced), sorted(expected))
        for name in expected:
            self.assertEqual(produced[name], expected[name], name)

        # The list stays: Convert runs again over it, into another folder.
        again = self.folder("again")
        self.convert("S:\\again")
        self.assertTrue(wait_until(lambda: len(list(again.iterdir())) == len(expected) and
                                   self.enabled(IDC_SELECT_FOLDER), 60))
        self.assertEqual({f.name: f.read_bytes() for f in again.iterdir()}, expected)

    def test_sources_at_a_drive_root(self):
        # Paths like R:\wave.skm: base names and package names must come out the same.
        src = self.folder("src")
        for name in ("wave.skm", "Bow.SKM"):
            shutil.copy(SAMPLES / name, src / name)
        map_drive("r", src)
        expected = run_cli(src, self.base / "cli")
        self.assertEqual(sorted(expected), ["Bow.trn", "wave.trn"])
        out = self.folder("out")
        self.start()
        self.scan("R:\\", "2 Gestures Found.")
        self.convert("S:\\out")
        self.assertTrue(wait_until(lambda: self.text(IDC_MESSAGE) == "Converting Finished.", 60))
        self.assertEqual({f.name: f.read_bytes() for f in out.iterdir()}, expected)

    def test_file_names_outside_the_ansi_code_page(self):
        # The manifest makes UTF-8 the process code page, so the narrow file APIs see these.
        src = self.folder("src")
        names = ["\u0436\u0435\u0441\u0442.skm", "caf\u00e9.skm", "\u6ce2.skm"]
        for name in names:
            shutil.copy(SAMPLES / "wave.skm", src / name)
        expected = run_cli(src, self.base / "cli")
        self.assertEqual(len(expected), 3)
        out = self.folder("out")
        self.start()
        self.scan("S:\\src", "3 Gestures Found.")
        self.convert("S:\\out")
        self.assertTrue(wait_until(lambda: self.text(IDC_MESSAGE) == "Converting Finished.", 60))
        self.assertEqual({f.name: f.read_bytes() for f in out.iterdir()}, expected)

    def test_closing_during_a_long_run(self):
        copies = 400
        src = self.folder("src")
        gesture = (SAMPLES / "nod.skm").read_bytes()
        for i in range(copies):
            (src / f"g{i:04}.skm").write_bytes(gesture)
        reference = run_cli(SAMPLES / "nod.skm", self.base / "cli")["nod.trn"]
        out = self.folder("out")

        main = self.start()
        self.scan("S:\\src", f"{copies} Gestures Found.")
        self.convert("S:\\out")
        self.assertTrue(wait_until(lambda: self.progress()[0] >= 3, 30), "the run did not start")
        self.assertEqual(self.buttons(), (False, False))
        self.assertTrue(self.text(IDC_MESSAGE).startswith("Converting: g"))

        started = time.monotonic()
        self.driver("close", main)
        self.assertTrue(wait_until(lambda: self.driver("visible", main) == 0, 3, 0.05),
                        "the window did not close at once")
        self.assert_exits(timeout=30)
        took = time.monotonic() - started
        self.assertLess(took, 10, "closing waited for more than the current file")

        written = sorted(out.iterdir())
        print(f"\n  closed after {len(written)} of {copies} packages; "
              f"exit {took:.2f} s after close", file=sys.stderr)
        self.assertGreater(len(written), 0)
        self.assertLess(len(written), copies, "the run was not stopped")
        for package in written:
            self.assertEqual(package.suffix, ".trn", package.name)
            self.assertEqual(package.read_bytes(), reference, package.name)


if __name__ == "__main__":
    unittest.main()
