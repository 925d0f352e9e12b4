#!/usr/bin/python3
"""skm2trn.exe under Wine: Windows file systems ignore letter case, so package names that differ
only in case clash within a run, whatever the worker count.
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


if __name__ == "__main__":
    EXE = sys.argv.pop()
    WINE = sys.argv.pop()
    unittest.main(verbosity=2)
