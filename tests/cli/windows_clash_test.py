#!/usr/bin/python3
"""skm2trn.exe under Wine: Windows file systems ignore letter case, so package names that differ
only in case clash within a run, whatever the worker count; a package never replaces its source;
names Windows keeps for devices are reported, never opened.
Usage: windows_clash_test.py WINE SKM2TRN_EXE
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

WINE = EXE = None
SAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples")


class CaseInsensitiveClashes(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="skm2trn-wclash-")
        for folder, name, sample in (("a", "wave.skm", "wave.skm"), ("b", "WAVE.SKM", "nod.skm"),
                                     ("b", "Other.skm", "blink.skm")):
            os.makedirs(os.path.join(self.tmp, folder), exist_ok=True)
            shutil.copy(os.path.join(SAMPLES, sample), os.path.join(self.tmp, folder, name))

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def test_names_differing_in_case_clash(self):
        reports = []
        for jobs in ("1", "2"):
            out = os.path.join(self.tmp, "out" + jobs)
            os.makedirs(out)
            result = subprocess.run([WINE, EXE, "--json", "-j", jobs, "a", "b", "out" + jobs],
                                    cwd=self.tmp, capture_output=True, timeout=120)
            self.assertEqual(result.returncode, 1, result.stderr)
            report = json.loads(result.stdout.decode("utf-8"))
            reports.append([(f["source"], f["status"], f["reason"]) for f in report["files"]])
            clash = [f for f in report["files"] if f["status"] != "converted"]
            self.assertEqual(clash, [{"source": "b\\WAVE.SKM", "package": None,
                                      "status": "skipped",
                                      "reason": "same package name as a\\wave.skm"}])
            self.assertEqual(sorted(os.listdir(out)), ["Other.trn", "wave.trn"])
            with open(os.path.join(out, "wave.trn"), "rb") as f:
                self.assertTrue(f.read().endswith(b"Wave"), "the first source's package")
        self.assertEqual(reports[0], reports[1])

    def test_a_package_never_replaces_its_source(self):
        os.makedirs(os.path.join(self.tmp, "d"))
        shutil.copy(os.path.join(SAMPLES, "wave.skm"), os.path.join(self.tmp, "d", "Wave.trn"))
        for dry in (["--dry-run"], []):
            result = subprocess.run([WINE, EXE, "--json", *dry, "d\\Wave.trn", "d"], cwd=self.tmp,
                                    capture_output=True, timeout=120)
            self.assertEqual(result.returncode, 1, result.stderr)
            report = json.loads(result.stdout.decode("utf-8"))
            self.assertEqual(report["files"][0]["reason"], "the package would replace its source")
        with open(os.path.join(self.tmp, "d", "Wave.trn"), "rb") as f, \
                open(os.path.join(SAMPLES, "wave.skm"), "rb") as g:
            self.assertEqual(f.read(), g.read())

    def test_device_names_are_reported_and_never_opened(self):
        devices = ["CON.skm", "aux.skm", "COM1.skm", "lpt1.skm", "Nul.x.skm"]
        folder = os.path.join(self.tmp, "dev")
        os.makedirs(folder)
        for name in devices + ["wave.skm"]:
            shutil.copy(os.path.join(SAMPLES, "wave.skm"), os.path.join(folder, name))
        out = os.path.join(self.tmp, "out")
        os.makedirs(out)
        for args in (["dev"], ["dev\\aux.skm", "dev\\wave.skm"]):
            result = subprocess.run([WINE, EXE, "--json", *args, "out"], cwd=self.tmp,
                                    capture_output=True, timeout=60)
            self.assertEqual(result.returncode, 1, result.stderr)
            report = json.loads(result.stdout.decode("utf-8"))
            reasons = {f["source"].split("\\")[-1]: f["reason"] for f in report["files"]}
            expected = {name: "reserved device name on Windows"
                        for name in devices if "dev\\" + name in args or args == ["dev"]}
            expected["wave.skm"] = None
            self.assertEqual(reasons, expected)
            self.assertEqual(os.listdir(out), ["wave.trn"])


if __name__ == "__main__":
    EXE = sys.argv.pop()
    WINE = sys.argv.pop()
    unittest.main(verbosity=2)
