#!/usr/bin/python3
"""I/O failures under a real skm2trn run: a full disk, an output folder that turns read-only in
the middle of a run, an output path that is a file, sources deleted, truncated or unreadable
between the folder scan and their conversion.

Each case checks that the run goes on, that the messages and the exit status say what happened,
that no partial package and no temporary file is left, and that an earlier package of the same
name is untouched. Cases that need mounts skip with a message unless run as root.
Usage: io_faults_test.py PATH_TO_SKM2TRN
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from cli_support import FolderTest, package_end

SKM2TRN = None


def can_mount():
    if os.geteuid() != 0:
        return False
    probe = tempfile.mkdtemp(prefix="skm2trn-mount-")
    try:
        ok = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", probe],
                            capture_output=True).returncode == 0
        if ok:
            subprocess.run(["umount", probe], check=True)
        return ok
    finally:
        os.rmdir(probe)


MOUNTS = can_mount()


class Base(FolderTest):
    PREFIX = "skm2trn-io-"
    OUTPUT = None

    def setUp(self):
        super().setUp()
        self.src = os.path.join(self.tmp, "src")
        os.makedirs(self.src)
        self.mounted = []

    def tearDown(self):
        for path in reversed(self.mounted):
            subprocess.run(["umount", "-l", path], capture_output=True)
        super().tearDown()

    def mount(self, path, size):
        os.makedirs(path, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", path], check=True)
        self.mounted.append(path)

    def run_held(self, sources, out):
        """Starts a one-thread run whose source "PIPE" is a named pipe: the run waits there until
        release(run) is called, which lets it go on and returns its JSON file list."""
        pipe = os.path.join(self.tmp, "hold.skm")
        os.mkfifo(pipe)
        sources = [pipe if s == "PIPE" else s for s in sources]
        run = subprocess.Popen([SKM2TRN, "--json", "-j", "1", *sources, out],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

        def release(process):
            try:
                with open(pipe, "wb") as f:  # opens once the converter is waiting to read it
                    f.write(b"not a gesture")
            except BrokenPipeError:
                pass  # the converter gave up on the pipe before reading it
            stdout, _ = process.communicate(timeout=60)
            self.assertEqual(process.returncode, 1)
            return json.loads(stdout)["files"]

        return run, release

    def report(self, result):
        return {os.path.basename(f["source"]): f for f in json.loads(result.stdout)["files"]}

    def assert_no_leftovers(self, folder, old=()):
        names = os.listdir(folder)
        self.assertEqual([n for n in names if not n.endswith(".trn") or n.startswith(".")], [],
                         "temporary files left behind")
        for name in names:  # every package there is complete: it parses to the end
            if name in old:
                continue
            with open(os.path.join(folder, name), "rb") as f:
                data = f.read()
            self.assertEqual(package_end(data), len(data), f"{name} is not a whole package")


@unittest.skipUnless(MOUNTS, "needs root and permission to mount a tmpfs")
class Mounted(Base):
    def test_full_disk_keeps_the_old_package_and_goes_on(self):
        self.sources(40, "bounce.skm", folder=self.src)
        out = os.path.join(self.tmp, "out")
        self.mount(out, "96k")
        old = b"an earlier package of the same name"
        with open(os.path.join(out, "g0039.trn"), "wb") as f:
            f.write(old)
        result = subprocess.run([SKM2TRN, "--json", "-j", "2", self.src, out], capture_output=True,
                                text=True, timeout=120)
        self.assertEqual(result.returncode, 1)
        files = self.report(result)
        self.assertEqual(len(files), 40, "the run went on to the last file")
        full = [f for f in files.values() if f["status"] == "failed"]
        self.assertTrue(full, "the disk never filled up")
        for f in full:
            # The reason names the package, not a temporary file.
            package = os.path.join(out, os.path.basename(f["source"])[:-4] + ".trn")
            self.assertIn(f"could not write the package {package}: ", f["reason"])
            self.assertIn("No space left on device", f["reason"])
        kept = ()
        if files["g0039.skm"]["status"] == "failed":
            with open(os.path.join(out, "g0039.trn"), "rb") as f:
                self.assertEqual(f.read(), old)
            kept = ("g0039.trn",)
        self.assert_no_leftovers(out, kept)

    def test_output_turns_read_only_in_the_middle_of_a_run(self):
        self.sources(3, "wave.skm", folder=self.src)
        out = os.path.join(self.tmp, "out")
        self.mount(out, "4m")
        with open(os.path.join(out, "g0002.trn"), "wb") as f:
            f.write(b"old")
        # The run holds at the pipe between the first and the last source until the folder is
        # read-only.
        run, release = self.run_held([os.path.join(self.src, "g0000.skm"), "PIPE",
                                      os.path.join(self.src, "g0002.skm")], out)
        self.wait_for_file(os.path.join(out, "g0000.trn"))
        subprocess.run(["mount", "-o", "remount,ro", out], check=True)
        files = release(run)
        self.assertEqual(files[0]["status"], "converted")
        self.assertEqual(files[2]["status"], "failed")
        self.assertIn("Read-only file system", files[2]["reason"])
        with open(os.path.join(out, "g0002.trn"), "rb") as f:
            self.assertEqual(f.read(), b"old")
        self.assert_no_leftovers(out, ("g0002.trn",))


class Plain(Base):
    def test_output_path_that_is_a_file(self):
        self.sources(1, "nod.skm", folder=self.src)
        target = os.path.join(self.tmp, "file")
        with open(target, "wb") as f:
            f.write(b"x")
        result = subprocess.run([SKM2TRN, self.src, target], capture_output=True, text=True)
        self.assertEqual(result.returncode, 2)
        self.assertIn("is not a folder", result.stderr)

    def sources_change_during_the_run(self, change):
        """Runs over the folder's sources, held after the first until change() has been applied
        to the last one."""
        self.sources(3, "spin.skm", folder=self.src)
        out = os.path.join(self.tmp, "out")
        os.makedirs(out)
        names = sorted(os.listdir(self.src))
        last = os.path.join(self.src, names[-1])
        run, release = self.run_held([os.path.join(self.src, names[0]), "PIPE", last], out)
        self.wait_for_file(os.path.join(out, names[0][:-4] + ".trn"))
        change(last)
        files = release(run)
        self.assertEqual(files[0]["status"], "converted")
        self.assertIsNone(files[-1]["package"])
        self.assertFalse(os.path.exists(os.path.join(out, names[-1][:-4] + ".trn")))
        self.assert_no_leftovers(out)
        return files[-1]

    def test_source_deleted_after_the_scan(self):
        entry = self.sources_change_during_the_run(os.remove)
        self.assertEqual(entry["status"], "failed")
        self.assertEqual(entry["reason"], "cannot read: No such file or directory")

    def test_source_truncated_after_the_scan(self):
        def truncate(path):
            with open(path, "r+b") as f:
                f.truncate(300)
        entry = self.sources_change_during_the_run(truncate)
        self.assertEqual(entry["status"], "failed")
        self.assertRegex(entry["reason"], r"^damaged file: [^:]*runs past the end of the file$")

    def test_unreadable_source(self):
        self.sources(2, "nod.skm", folder=self.src)
        locked = os.path.join(self.src, "g0001.skm")
        os.chmod(locked, 0)
        out = os.path.join(self.tmp, "out")
        os.makedirs(out)
        prefix = []
        if os.access(locked, os.R_OK):
            # Root reads any file: run the converter as an unprivileged user instead.
            setpriv = shutil.which("setpriv")
            if os.geteuid() != 0 or setpriv is None:
                self.skipTest("running with rights that read any file")
            prefix = [setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"]
            for path in (self.tmp, self.src):
                os.chmod(path, 0o755)
            os.chmod(out, 0o777)
            os.chmod(os.path.join(self.src, "g0000.skm"), 0o644)
        result = subprocess.run(prefix + [SKM2TRN, "--json", self.src, out], capture_output=True,
                                text=True)
        if prefix and result.returncode == 126:
            self.skipTest("the unprivileged user cannot run the converter from this folder")
        self.assertEqual(result.returncode, 1, result.stderr)
        entry = self.report(result)["g0001.skm"]
        self.assertEqual(entry["status"], "failed")
        self.assertEqual(entry["reason"], "cannot read: Permission denied")
        self.assertEqual(self.report(result)["g0000.skm"]["status"], "converted")


if __name__ == "__main__":
    SKM2TRN = sys.argv.pop(1)
    if not MOUNTS:
        print("io_faults_test: not root or mounting not permitted; the mount cases are skipped")
    unittest.main(verbosity=2)
