#!/usr/bin/python3
"""Files the command line must never lose: a source replaced by its own package (same name,
symbolic link, hard link), a package replaced through a symbolic link in the output tree, the
output folder moved away during a run, a dangling link where a package goes, a source that
fails holding a package name, a folder that ignores letter case (a small FUSE file system stands
in for FAT, exFAT, SMB and ext4 casefold), and temporaries left by a killed run.

Usage: file_safety_test.py PATH_TO_SKM2TRN
"""
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import time
import unittest

from cli_support import FolderTest, name_field_at, sample

SKM2TRN = None
HERE = os.path.dirname(os.path.abspath(__file__))


def stored_name(path):
    """The gesture name at the end of a package."""
    with open(path, "rb") as f:
        data = f.read()
    return data[name_field_at(data) + 2:].decode("utf-8")


class Base(FolderTest):
    PREFIX = "skm2trn-safety-"

    def run_json(self, *args, check=None, **kwargs):
        result = subprocess.run([SKM2TRN, "--json", *args], capture_output=True, timeout=120,
                                **kwargs)
        if check is not None:
            self.assertEqual(result.returncode, check, result.stderr)
        return json.loads(result.stdout.decode("utf-8")), result.returncode

    def outcomes(self, report):
        return [(os.path.basename(f["source"]), f["status"], f["reason"]) for f in report["files"]]


class SourcesAreNeverReplaced(Base):
    def test_a_package_never_replaces_a_source_however_it_is_reached(self):
        d = self.path("d")
        cases = {
            # what the user gives: (sources, output folder), then the file that must survive
            "same name": lambda: ([self.put("d/wave.trn", "wave.skm")], d),
            "symbolic link": lambda: (
                [self.put("d/wave.trn", "wave.skm"), os.symlink("wave.trn", self.path("d/wave.skm"))
                 or self.path("d/wave.skm")], d),
            "hard link": lambda: (
                [self.put("s/wave.skm", "wave.skm"),
                 os.makedirs(d) or os.link(self.path("s/wave.skm"), self.path("d/wave.trn"))
                 or self.path("s/wave.skm")], d),
        }
        for case, arrange in cases.items():
            for dry in (["--dry-run"], []):
                with self.subTest(case=case, dry=dry):
                    shutil.rmtree(d, ignore_errors=True)
                    shutil.rmtree(self.path("s"), ignore_errors=True)
                    sources, out = arrange()
                    source = sources[-1]
                    report, _ = self.run_json(*dry, source, out, check=1)
                    self.assertEqual(self.outcomes(report), [
                        (os.path.basename(source), "skipped",
                         "the package would replace its source")])
                    with open(self.path("d/wave.trn"), "rb") as f:
                        self.assertEqual(f.read(), sample("wave.skm"))

    def test_nor_another_source_of_the_run(self):
        other = self.put("d/nod.trn", "wave.skm")
        nod = self.put("s/nod.skm", "nod.skm")
        for dry in (["--dry-run"], []):
            report, _ = self.run_json(*dry, other, nod, self.path("d"), check=1)
            self.assertEqual(report["files"][1]["reason"],
                             f"the package would replace the source {other}")
        with open(other, "rb") as f:
            self.assertEqual(f.read(), sample("wave.skm"))


class OutputTree(Base):
    def test_a_link_inside_the_output_tree_never_replaces_an_earlier_package(self):
        first = self.put("src/wave.skm", "wave.skm")
        self.put("src/sub/wave.skm", "nod.skm")
        os.symlink(".", self.path("out", "sub"))
        report, _ = self.run_json("-r", self.path("src"), self.out, check=1)
        self.assertEqual(self.outcomes(report), [
            ("wave.skm", "converted", None),
            ("wave.skm", "skipped", f"same package file as {first}")])
        self.assertEqual(stored_name(self.path("out", "wave.trn")), "Wave")

    def test_an_output_folder_moved_away_is_written_where_it_went(self):
        self.put("a/first.skm", "wave.skm")
        self.put("b/sub/late.skm", "blink.skm")
        fifo = self.path("slow.skm")
        os.mkfifo(fifo)
        run = subprocess.Popen([SKM2TRN, "-q", "-j1", "-r", self.path("a"), fifo, self.path("b"),
                                self.out], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        deadline = time.time() + 30
        while not os.path.exists(self.path("out", "first.trn")) and time.time() < deadline:
            time.sleep(0.02)
        moved = self.path("moved")
        os.rename(self.out, moved)
        with open(fifo, "wb") as f:
            f.write(sample("nod.skm"))
        run.communicate(timeout=60)
        self.assertEqual(run.returncode, 0)
        self.assertFalse(os.path.exists(self.out), "the old path was made again")
        self.assertEqual(sorted(os.listdir(moved)), ["first.trn", "slow.trn", "sub"])
        self.assertEqual(os.listdir(os.path.join(moved, "sub")), ["late.trn"])


class ExistingNames(Base):
    def test_a_dangling_link_is_an_existing_name_in_the_plan_and_in_the_write(self):
        wave = self.put("s/wave.skm", "wave.skm")
        link = self.path("out", "wave.trn")
        os.symlink("nowhere", link)
        for dry in (["--dry-run"], []):
            report, _ = self.run_json(*dry, "-n", wave, self.out, check=1)
            self.assertEqual(self.outcomes(report), [("wave.skm", "skipped", "package exists")])
        self.assertEqual(os.readlink(link), "nowhere")
        report, _ = self.run_json("--dry-run", wave, self.out, check=0)
        self.assertTrue(report["files"][0]["replaces"])
        self.run_json(wave, self.out, check=0)
        self.assertFalse(os.path.islink(link))
        self.assertEqual(stored_name(link), "Wave")
        self.assertFalse(os.path.exists(self.path("out", "nowhere")), "the link was followed")

    def test_a_source_that_fails_holds_no_name_whatever_the_worker_count(self):
        bad = self.path("bad", "wave.skm")
        os.makedirs(os.path.dirname(bad))
        with open(bad, "wb") as f:
            f.write(b"SKMG damaged")
        good = self.put("good/wave.skm", "wave.skm")
        reports = []
        for jobs in ("1", "4"):
            shutil.rmtree(self.out)
            os.makedirs(self.out)
            report, _ = self.run_json("-j", jobs, self.path("typo", "wave.skm"), bad, good,
                                      self.path("again", "wave.skm"), good, self.out, check=1)
            reports.append(report)
            self.assertEqual(os.listdir(self.out), ["wave.trn"])
            self.assertEqual(stored_name(self.path("out", "wave.trn")), "Wave")
        self.assertEqual(reports[0], reports[1])
        self.assertEqual([f["status"] for f in reports[0]["files"]],
                         ["failed", "failed", "converted", "failed", "skipped"])
        self.assertEqual(reports[0]["files"][4]["reason"], f"the same file as {good}")


class KilledRuns(Base):
    def test_a_killed_run_leaves_no_temporary_where_unnamed_files_exist(self):
        for i in range(200):
            self.put(f"s/g{i:03}.skm", ("wave.skm", "nod.skm", "spin.skm")[i % 3])
        rng = random.Random(17)
        left = []
        for _ in range(20):
            # Into an empty folder: replacing an older package still takes a named instant.
            for name in os.listdir(self.out):
                os.remove(os.path.join(self.out, name))
            run = subprocess.Popen([SKM2TRN, "-q", "-j2", self.path("s"), self.out],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(rng.uniform(0.005, 0.06))
            run.send_signal(signal.SIGKILL)
            run.wait()
            left += [n for n in os.listdir(self.out) if not n.endswith(".trn")]
        self.assertEqual(left, [], "named temporaries outlived a killed run")


def mount_caseless(backing, mountpoint):
    """Mounts the case-ignoring FUSE file system; returns its process, or None with a reason."""
    if not os.path.exists("/dev/fuse"):
        return None, "no /dev/fuse"
    fs = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "caseless_fs.py"), backing,
                           mountpoint], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    for _ in range(100):
        if os.path.ismount(mountpoint):
            return fs, None
        if fs.poll() is not None:
            return None, fs.stderr.read().decode(errors="replace").strip() or "mount failed"
        time.sleep(0.05)
    fs.kill()
    fs.wait()
    return None, "the FUSE file system did not come up"


def unmount(fs, mountpoint):
    for tool in (["fusermount", "-u"], ["fusermount3", "-u"], ["umount"]):
        if shutil.which(tool[0]) and subprocess.run(tool + [mountpoint],
                                                    capture_output=True).returncode == 0:
            break
    try:
        fs.wait(timeout=10)
    except subprocess.TimeoutExpired:
        fs.kill()
        fs.wait()


class CaseInsensitiveFolder(Base):
    def setUp(self):
        super().setUp()
        os.makedirs(self.path("backing"))
        self.mount = self.path("mnt")
        os.makedirs(self.mount)
        self.fs, why = mount_caseless(self.path("backing"), self.mount)
        if self.fs is None:
            self.skipTest(f"cannot mount a FUSE file system here: {why}")

    def tearDown(self):
        if self.fs is not None:
            unmount(self.fs, self.mount)
        super().tearDown()

    def test_a_dry_run_foresees_every_clash_of_the_real_run(self):
        # É as one code point and as E plus an accent, é, and two ASCII spellings of one name.
        names = ["\u00c9.skm", "E\u0301.skm", "\u00e9.skm", "Wave.skm", "wave.skm", "\u00df.skm",
                 "SS.skm", "nod.skm"]
        gestures = ["wave.skm", "nod.skm", "blink.skm", "spin.skm", "bounce.skm", "Bow.SKM",
                    "marked.skm", "nod.skm"]
        for name, gesture in zip(names, gestures):
            self.put(os.path.join("s", name), gesture)
        for jobs in ("1", "4"):
            with self.subTest(jobs=jobs):
                for entry in os.listdir(self.mount):
                    os.remove(os.path.join(self.mount, entry))
                # Into the mount's empty root: nothing there to look up in the other case.
                dry, dry_status = self.run_json("--dry-run", "-j", jobs, self.path("s"),
                                                self.mount)
                self.assertEqual(os.listdir(self.mount), [], "the dry run wrote something")
                real, real_status = self.run_json("-j", jobs, self.path("s"), self.mount)
                self.assertEqual(real_status, dry_status)
                self.assertEqual(self.outcomes(real), self.outcomes(dry))
                converted = [f for f in real["files"] if f["status"] == "converted"]
                self.assertEqual(sorted(os.listdir(self.mount)),
                                 sorted(os.path.basename(f["package"]) for f in converted))
                self.assertEqual(len(converted), 4, self.outcomes(real))
        self.assertEqual(real_status, 1)

    def test_a_folder_whose_entries_come_without_types_is_listed_alike(self):
        # This file system names a folder's entries without saying what they are.
        self.put(os.path.join("backing", "src", "one.skm"), "nod.skm")
        self.put(os.path.join("backing", "src", "Two.SKM"), "wave.skm")
        self.put(os.path.join("backing", "src", "note.txt"), "nod.skm")
        self.put(os.path.join("backing", "elsewhere", "three.skm"), "blink.skm")
        os.makedirs(self.path("backing", "src", "folder.skm", "inner"))
        self.put(os.path.join("backing", "src", "folder.skm", "inner", "four.skm"), "spin.skm")
        os.symlink("../elsewhere/three.skm", self.path("backing", "src", "link.skm"))
        os.symlink("nowhere.skm", self.path("backing", "src", "gone.skm"))
        os.symlink("../elsewhere", self.path("backing", "src", "linked"))
        source = os.path.join(self.mount, "src")
        report, status = self.run_json("-r", "--dry-run", source, self.out)
        self.assertEqual([os.path.relpath(f["source"], source) for f in report["files"]],
                         ["Two.SKM", "link.skm", "one.skm", "folder.skm/inner/four.skm"])
        self.assertEqual(status, 0)


if __name__ == "__main__":
    SKM2TRN = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
