#!/usr/bin/python3
"""The command line at its edges: package names and clashes, --no-clobber, --dry-run, long
names, sources that cannot be read or cannot seek, --recursive, the split of standard output
and standard error, failed writes to standard output, GNU option syntax and the JSON summary.

Sources are copies of the bundled samples, so the expected packages are known.
Usage: behaviour_test.py PATH_TO_SKM2TRN
"""
import json
import os
import pty
import shutil
import subprocess
import sys
import threading
import unittest

from cli_support import SAMPLES, FolderTest, name_field_at, sample

SKM2TRN = None


def package_name(data):
    """The gesture name stored at the end of a package."""
    at = name_field_at(data)
    n = int.from_bytes(data[at:at + 2], "big")
    assert at + 2 + n == len(data), "not a whole package"
    return data[at + 2:at + 2 + n].decode("latin-1")


class Base(FolderTest):
    def run_cli(self, *args, check=None, **kwargs):
        kwargs.setdefault("capture_output", True)
        result = subprocess.run([SKM2TRN, *args], timeout=120, **kwargs)
        if check is not None:
            self.assertEqual(result.returncode, check, result)
        return result

    def json_run(self, *args, check=None):
        result = self.run_cli("--json", *args, check=check)
        return json.loads(result.stdout.decode("utf-8"))

    def listing(self, folder=None):
        folder = folder or self.out
        found = []
        for root, _, files in os.walk(folder):
            found += [os.path.relpath(os.path.join(root, f), folder) for f in files]
        return sorted(found)

    def stored_name(self, relative):
        with open(os.path.join(self.out, relative), "rb") as f:
            return package_name(f.read())


class NamesAndClashes(Base):
    def test_package_name_replaces_the_final_extension(self):
        sources = [self.put("s/wave.SKM", "wave.skm"), self.put("s/nod.gesture", "nod.skm"),
                   self.put("s/blink", "blink.skm"), self.put("s/x.y.skm", "spin.skm")]
        report = self.json_run(*sources, self.out, check=0)
        self.assertEqual([os.path.basename(f["package"]) for f in report["files"]],
                         ["wave.trn", "nod.trn", "blink.trn", "x.y.trn"])
        self.assertEqual(self.listing(), ["blink.trn", "nod.trn", "wave.trn", "x.y.trn"])

    def test_names_without_a_stem_or_starting_with_a_dot_are_not_converted(self):
        sources = [self.put("s/.skm"), self.put("s/.hidden.skm"), self.put("s/ok.skm")]
        report = self.json_run(*sources, self.out, check=1)
        files = report["files"]
        self.assertEqual([f["status"] for f in files], ["skipped", "skipped", "converted"])
        self.assertEqual(files[0]["reason"], "no package name: nothing before the extension")
        self.assertEqual(files[1]["reason"], "no package name: the package would be a hidden file")
        self.assertEqual(self.listing(), ["ok.trn"])

    def test_first_source_in_run_order_wins_whatever_the_worker_count(self):
        first = self.put("a/wave.skm", "wave.skm")
        self.put("b/wave.skm", "nod.skm")
        self.put("b/other.skm", "blink.skm")
        gesture = self.put("c/wave.gesture", "spin.skm")
        reports = []
        for jobs in ("1", "2", "4"):
            shutil.rmtree(self.out)
            os.makedirs(self.out)
            report = self.json_run("-j", jobs, self.path("a"), self.path("b"), gesture, self.out,
                                   check=1)
            reports.append(report)
            self.assertEqual(self.stored_name("wave.trn"), "Wave")
            self.assertEqual(self.listing(), ["other.trn", "wave.trn"])
        self.assertEqual(reports[0], reports[1])
        self.assertEqual(reports[0], reports[2])
        by_source = {f["source"]: f for f in reports[0]["files"]}
        for later in (self.path("b", "wave.skm"), gesture):
            self.assertEqual(by_source[later]["status"], "skipped")
            self.assertEqual(by_source[later]["reason"], f"same package name as {first}")
            self.assertIsNone(by_source[later]["package"])
        self.assertEqual((reports[0]["converted"], reports[0]["skipped"], reports[0]["failed"],
                          reports[0]["total"]), (2, 2, 0, 4))

    def test_a_source_named_twice_converts_once(self):
        source = self.put("s/wave.skm", "wave.skm")
        report = self.json_run(self.path("s"), source, self.out, check=1)
        self.assertEqual(report["files"][1]["reason"], f"the same file as {source}")

    def test_names_differing_in_case_do_not_clash_on_a_case_sensitive_folder(self):
        probe = self.path("out", "Probe")
        open(probe, "w").close()
        insensitive = os.path.exists(self.path("out", "pROBE"))
        os.remove(probe)
        if insensitive:
            self.skipTest("the temporary folder ignores letter case")
        self.put("a/wave.skm", "wave.skm")
        self.put("b/WAVE.skm", "nod.skm")
        self.run_cli("-q", self.path("a"), self.path("b"), self.out, check=0)
        self.assertEqual(self.listing(), ["WAVE.trn", "wave.trn"])


class OverwritePolicy(Base):
    def test_no_clobber_keeps_existing_packages(self):
        for name in ("wave", "nod"):
            self.put(f"s/{name}.skm", f"{name}.skm")
        with open(self.path("out", "wave.trn"), "wb") as f:
            f.write(b"earlier")
        for option in ("-n", "--no-clobber"):
            report = self.json_run(option, self.path("s"), self.out, check=1)
            wave = report["files"][1]
            self.assertEqual((wave["status"], wave["reason"], wave["package"]),
                             ("skipped", "package exists", None))
            with open(self.path("out", "wave.trn"), "rb") as f:
                self.assertEqual(f.read(), b"earlier")
        self.assertEqual(self.listing(), ["nod.trn", "wave.trn"])

    def test_default_replaces_an_existing_package(self):
        self.put("s/wave.skm", "wave.skm")
        with open(self.path("out", "wave.trn"), "wb") as f:
            f.write(b"earlier")
        self.run_cli(self.path("s"), self.out, check=0)
        self.assertEqual(self.stored_name("wave.trn"), "Wave")

    def test_dry_run_writes_nothing_and_tells_what_it_would_meet(self):
        self.put("s/nod.skm", "nod.skm")
        self.put("s/toolong.skm", "toolong.skm")
        self.put("s/wave.skm", "wave.skm")
        self.put("t/wave.skm", "blink.skm")
        with open(self.path("out", "nod.trn"), "wb") as f:
            f.write(b"earlier")
        os.utime(self.out, (1000000000, 1000000000))
        result = self.run_cli("--dry-run", self.path("s"), self.path("t"), self.out, check=1,
                              text=True)
        self.assertEqual(self.listing(), ["nod.trn"])
        self.assertEqual(os.stat(self.out).st_mtime, 1000000000, "the output folder was touched")
        out = os.path.join(self.out, "")
        self.assertEqual(result.stdout.splitlines(), [
            f"{self.path('s', 'nod.skm')} -> {out}nod.trn (replaces an existing file)",
            f"{self.path('s', 'wave.skm')} -> {out}wave.trn",
            "Dry run: 2 gestures would be converted; nothing was written.",
        ])
        self.assertIn(f"{self.path('s', 'toolong.skm')}: too many frames", result.stderr)
        self.assertIn(f"{self.path('t', 'wave.skm')}: same package name as "
                      f"{self.path('s', 'wave.skm')}", result.stderr)
        report = self.json_run("--dry-run", self.path("s"), self.out, check=1)
        self.assertEqual([f.get("replaces") for f in report["files"]], [True, None, False])
        # A folder in a package's place is not replaced: the real run fails there, and so does a
        # dry run.
        os.makedirs(self.path("out", "wave.trn", "inner"))
        for dry in (["--dry-run"], []):
            with self.subTest(dry=dry):
                report = self.json_run(*dry, self.path("s", "wave.skm"), self.out, check=1)
                self.assertEqual((report["files"][0]["status"], report["files"][0]["reason"]),
                                 ("failed", f"could not write the package {out}wave.trn: "
                                  "Is a directory"))
        os.rmdir(self.path("out", "wave.trn", "inner"))
        os.rmdir(self.path("out", "wave.trn"))
        report = self.json_run("--dry-run", "-n", self.path("s"), self.out, check=1)
        self.assertTrue(report["dry_run"])
        self.assertEqual([f["reason"] for f in report["files"]],
                         ["package exists", "too many frames (31, at most 30)", None])
        self.assertEqual(self.listing(), ["nod.trn"])


class Sources(Base):
    def test_long_names_that_fit_convert_and_failures_name_the_package(self):
        longest = "g" * 251  # with ".skm" the longest name most file systems allow
        self.put(f"s/{longest}.skm", "nod.skm")
        self.run_cli(self.path("s"), self.out, check=0)
        self.assertEqual(self.listing(), [longest + ".trn"])

        # A 255-byte name without an extension fits as a source but not as a package.
        too_long = self.put("t/" + "h" * 255, "nod.skm")
        report = self.json_run(too_long, self.out, check=1)
        reason = report["files"][0]["reason"]
        package = os.path.join(self.out, "h" * 255 + ".trn")
        self.assertEqual(reason, f"could not write the package {package}: File name too long")
        self.assertEqual(self.listing(), [longest + ".trn"])
        # A dry run foresees it.
        report = self.json_run("--dry-run", too_long, self.out, check=1)
        self.assertEqual((report["files"][0]["status"], report["files"][0]["reason"]),
                         ("failed", reason))

    def test_missing_and_unreadable_named_sources_fail_alone(self):
        good = self.put("s/good.skm", "nod.skm")
        missing = self.path("s", "missing.skm")
        folder_file = self.path("s", "folder.skm")
        os.makedirs(os.path.join(folder_file, "inner"))
        result = self.run_cli("--json", missing, good, self.out, check=1)
        files = json.loads(result.stdout)["files"]
        self.assertEqual(files[0]["status"], "failed")
        self.assertEqual(files[0]["reason"], "cannot read: No such file or directory")
        self.assertEqual(files[1]["status"], "converted")
        self.assertEqual(self.listing(), ["good.trn"])
        # A folder named among the sources is scanned; one with no gestures adds nothing.
        self.run_cli(folder_file, good, self.out, check=0)

    def test_unreadable_source_gives_the_systems_reason(self):
        if os.geteuid() == 0:
            setpriv = shutil.which("setpriv")
            if setpriv is None:
                self.skipTest("root reads every file and setpriv is missing")
            prefix = [setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"]
            os.chmod(self.tmp, 0o755)
            os.chmod(self.out, 0o777)
        else:
            prefix = []
        locked = self.put("s/locked.skm", "nod.skm")
        os.chmod(self.path("s"), 0o755)
        os.chmod(locked, 0)
        result = subprocess.run(prefix + [SKM2TRN, "--json", locked, self.out],
                                capture_output=True, text=True)
        if result.returncode == 126:
            self.skipTest("the unprivileged user cannot run the converter from here")
        self.assertEqual(result.returncode, 1, result.stderr)
        entry = json.loads(result.stdout)["files"][0]
        self.assertEqual((entry["status"], entry["reason"]),
                         ("failed", "cannot read: Permission denied"))

    def test_sources_that_cannot_seek(self):
        with open(os.path.join(SAMPLES, "wave.skm"), "rb") as f:
            self.run_cli("--json", "/dev/stdin", self.out, stdin=f, check=0)
        self.assertEqual(self.stored_name("stdin.trn"), "Wave")

        fifo = self.path("piped.skm")
        os.mkfifo(fifo)

        def feed():
            with open(fifo, "wb") as f:
                f.write(sample("nod.skm"))

        writer = threading.Thread(target=feed)
        writer.start()
        self.run_cli(fifo, self.out, check=0)
        writer.join()
        self.assertEqual(self.stored_name("piped.trn"), "Nod")

        # A pipe of a shell's process substitution.
        subprocess.run(["bash", "-c", f'"$0" <(cat "$1") "$2"', SKM2TRN,
                        os.path.join(SAMPLES, "blink.skm"), self.out], check=True,
                       capture_output=True)


class Recursive(Base):
    def make_tree(self):
        self.put("tree/top.skm", "nod.skm")
        self.put("tree/b/mid.skm", "blink.skm")
        self.put("tree/a/deep/low.SKM", "spin.skm")
        self.put("elsewhere/linked.skm", "wave.skm")
        os.symlink(self.path("elsewhere"), self.path("tree", "link"))
        # A link to a source is one; a dangling link, a folder and a pipe of a source's name
        # are not.
        os.symlink(self.path("elsewhere", "linked.skm"), self.path("tree", "alias.skm"))
        os.symlink("nowhere", self.path("tree", "gone.skm"))
        os.makedirs(self.path("tree", "dir.skm"))
        os.mkfifo(self.path("tree", "pipe.skm"))

    def test_recursive_mirrors_subfolders_in_name_order_without_following_links(self):
        self.make_tree()
        for option in ("-r", "--recursive"):
            shutil.rmtree(self.out)
            os.makedirs(self.out)
            report = self.json_run(option, self.path("tree"), self.out, check=0)
            self.assertEqual([os.path.relpath(f["source"], self.path("tree"))
                              for f in report["files"]],
                             ["alias.skm", "top.skm", "a/deep/low.SKM", "b/mid.skm"])
            self.assertEqual(self.listing(),
                             ["a/deep/low.trn", "alias.trn", "b/mid.trn", "top.trn"])
            self.assertEqual(self.stored_name("b/mid.trn"), "Blink")

    def test_a_file_where_a_mirrored_folder_goes_fails_that_source_also_in_a_dry_run(self):
        self.put("tree/sub/one.skm", "nod.skm")
        self.put("tree/a/b/two.skm", "blink.skm")
        self.put("tree/top.skm", "wave.skm")
        self.put("tree/c/d/three.skm", "spin.skm")
        for blocker in ("sub", "a"):
            with open(self.path("out", blocker), "w") as f:
                f.write("in the way")
        out = os.path.join(self.out, "")
        expected = [None,
                    f"could not create the folder {out}a/b/: Not a directory", None,
                    f"could not create the folder {out}sub/: File exists"]
        for dry in ([], ["--dry-run"]):
            with self.subTest(dry=dry):
                report = self.json_run(*dry, "-r", self.path("tree"), self.out, check=1)
                self.assertEqual([f["reason"] for f in report["files"]], expected)
                self.assertEqual([f["status"] for f in report["files"]],
                                 ["converted", "failed", "converted", "failed"])
                shutil.rmtree(self.path("out", "c"), ignore_errors=True)
        self.assertEqual(self.listing(), ["a", "sub", "top.trn"])

    def test_without_recursive_a_folder_of_subfolders_says_so(self):
        self.put("tree/b/mid.skm", "blink.skm")
        result = self.run_cli(self.path("tree"), self.out, check=2, text=True)
        self.assertIn("holds no .skm files, only subfolders that do; use -r", result.stderr)
        self.assertEqual(self.listing(), [])

    def test_same_name_in_two_mirrored_folders_does_not_clash(self):
        self.put("one/x/wave.skm", "wave.skm")
        self.put("two/y/wave.skm", "nod.skm")
        self.put("three/x/wave.skm", "blink.skm")
        report = self.json_run("-r", self.path("one"), self.path("two"), self.path("three"),
                               self.out, check=1)
        self.assertEqual([f["status"] for f in report["files"]],
                         ["converted", "converted", "skipped"])
        self.assertEqual(self.listing(), ["x/wave.trn", "y/wave.trn"])


class Streams(Base):
    def test_summary_on_stdout_problems_on_stderr_no_progress_off_a_terminal(self):
        self.put("s/nod.skm", "nod.skm")
        self.put("s/toolong.skm", "toolong.skm")
        result = self.run_cli(self.path("s"), self.out, check=1, text=True)
        self.assertEqual(result.stdout, "1 gesture converted.\n")
        self.assertEqual(result.stderr, "Not converted (1):\n"
                         f"  {self.path('s', 'toolong.skm')}: too many frames (31, at most 30)\n")
        quiet = self.run_cli("-q", self.path("s"), self.out, check=1, text=True)
        self.assertEqual(quiet.stdout, "")
        self.assertEqual(quiet.stderr, result.stderr)
        both = self.run_cli("--json", self.path("s"), self.out, check=1, text=True)
        report = json.loads(both.stdout)
        self.assertEqual((report["converted"], report["skipped"], report["failed"]), (1, 1, 0))
        self.assertIn("1 gesture converted.", both.stderr)

    def test_progress_on_a_terminal_shows_the_files_own_name(self):
        self.put("s/X.SKM", "nod.skm")
        self.put("s/y.skm", "blink.skm")
        primary, secondary = pty.openpty()
        try:
            result = subprocess.run([SKM2TRN, self.path("s"), self.out], stdout=subprocess.PIPE,
                                    stderr=secondary, timeout=60)
            os.close(secondary)
            secondary = None
            shown = b""
            while True:
                try:
                    chunk = os.read(primary, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                shown += chunk
        finally:
            if secondary is not None:
                os.close(secondary)
            os.close(primary)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, b"2 gestures converted.\n")
        self.assertIn(b"[1/2]", shown)
        self.assertIn(b"X.SKM", shown)
        self.assertNotIn(b"X.skm", shown)
        self.assertIn(b"y.skm", shown)

    def test_a_failed_write_to_standard_output_is_an_error(self):
        self.put("s/nod.skm", "nod.skm")
        package = self.path("out", "nod.trn")
        commands = [["--help"], ["help"], ["--version"], [self.path("s"), self.out],
                    ["--json", self.path("s"), self.out], ["inspect", self.path("s", "nod.skm")]]
        for args in commands:
            with self.subTest(args=args), open("/dev/full", "w") as full:
                result = subprocess.run([SKM2TRN, *args], stdout=full, stderr=subprocess.PIPE,
                                        text=True, timeout=60)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stderr.splitlines()[-1],
                                 "skm2trn: cannot write to standard output: "
                                 "No space left on device")
        self.assertTrue(os.path.exists(package))
        # A pipe nobody reads: the write fails with EPIPE instead of killing the program.
        read_end, write_end = os.pipe()
        os.close(read_end)
        result = subprocess.run([SKM2TRN, "--help"], stdout=write_end, stderr=subprocess.PIPE,
                                text=True, timeout=60)
        os.close(write_end)
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stderr, "skm2trn: cannot write to standard output: Broken pipe\n")

    def test_inspect_and_extract_report_each_bad_file_and_go_on(self):
        good = self.put("s/nod.skm", "nod.skm")
        folder = self.path("s")
        missing = self.path("s", "missing.skm")
        result = self.run_cli("inspect", folder, missing, good, check=1, text=True)
        self.assertIn(f"{good}: source gesture", result.stdout)
        self.assertEqual(result.stderr.splitlines(), [
            f"skm2trn: cannot read '{folder}': is a folder",
            f"skm2trn: cannot read '{missing}': No such file or directory",
        ])
        dest = self.path("x")
        os.makedirs(dest)
        result = self.run_cli("extract", missing, dest, check=1, text=True)
        self.assertIn("No such file or directory", result.stderr)
        result = self.run_cli("extract", folder, dest, check=1, text=True)
        self.assertIn("is a folder", result.stderr)

    def test_reasons_read_once(self):
        data = sample("nod.skm")
        with open(self.path("cut.skm"), "wb") as f:
            f.write(data[:-5])
        report = self.json_run(self.path("cut.skm"), self.out, check=1)
        reason = report["files"][0]["reason"]
        self.assertRegex(reason, r"^damaged file: [a-z ]+ runs past the end of the file$")
        # The same for a damaged package and for a file that is not one, shown or extracted.
        self.put("s/nod.skm", "nod.skm")
        self.run_cli(self.path("s", "nod.skm"), self.out, check=0)
        with open(self.path("out", "nod.trn"), "rb") as f:
            package = f.read()
        with open(self.path("cut.trn"), "wb") as f:
            f.write(package[:100])
        dest = self.path("x")
        os.makedirs(dest)
        shown = self.run_cli("inspect", self.path("cut.trn"), check=1, text=True)
        self.assertEqual(shown.stdout, f"{self.path('cut.trn')}: damaged package: "
                         "the button picture runs past the end of the file\n")
        cases = {self.path("cut.trn"):
                 "damaged package: the button picture runs past the end of the file",
                 self.path("s", "nod.skm"):
                 "this is a source gesture (.skm); convert it first",
                 self.path("cut.skm"):
                 "this is a source gesture (.skm); convert it first",
                 self.path("other.gif"): "not a gesture package: the first byte is not 20 (hex)"}
        with open(self.path("other.gif"), "wb") as f:
            f.write(b"GIF89a" + bytes(200))
        for path, why in cases.items():
            with self.subTest(path=path):
                result = self.run_cli("extract", path, dest, check=1, text=True)
                self.assertEqual(result.stderr, f"skm2trn: cannot extract '{path}': {why}\n")
        self.assertEqual(os.listdir(dest), [])


class Options(Base):
    def test_long_forms_bundles_and_the_end_of_options(self):
        self.put("s/nod.skm", "nod.skm")
        dash = self.put("s/-dash.skm", "blink.skm")
        os.chdir(self.path("s"))
        try:
            for args in (["--jobs=2", "--quiet"], ["--jobs", "2", "-q"], ["-qj2"], ["-qj", "2"],
                         ["--qu", "--jo=1"], ["-q", "--"]):
                with self.subTest(args=args):
                    result = self.run_cli(*args, "nod.skm", self.out, check=0, text=True)
                    self.assertEqual(result.stdout, "")
            result = self.run_cli("-q", "--", "-dash.skm", self.out, check=0)
            self.assertTrue(os.path.exists(self.path("out", "-dash.trn")))
            self.assertTrue(os.path.exists(dash))
        finally:
            os.chdir(self.tmp)

    def test_usage_errors_exit_2_with_one_reason(self):
        self.put("s/nod.skm", "nod.skm")
        cases = {
            ("--bogus",): "unknown option '--bogus'",
            ("-x",): "unknown option '-x'",
            ("--j",): "option '--j' is ambiguous",
            ("-j",): "option '-j' needs a value",
            ("-j", "0"): "invalid worker count '0' (1 to 1024)",
            ("--quiet=yes",): "option '--quiet' takes no value",
        }
        for args, reason in cases.items():
            with self.subTest(args=args):
                tail = [] if args == ("-j",) else [self.path("s"), self.out]
                result = self.run_cli(*args, *tail, check=2, text=True)
                self.assertEqual(result.stderr.splitlines()[0], f"skm2trn: {reason}")
        self.run_cli(check=2)
        self.run_cli(self.path("s"), check=2)
        a_file = self.path("s", "nod.skm")
        for output, reason in ((self.path("nowhere"), "output folder '{}' does not exist"),
                               (a_file, "output path '{}' is not a folder"),
                               (a_file + "/", "output path '{}' is not a folder"),
                               (a_file + "/x", "output path '{}' is not a folder")):
            for dry in ([], ["--dry-run"]):
                with self.subTest(output=output, dry=dry):
                    result = self.run_cli(*dry, self.path("s"), output, check=2, text=True)
                    self.assertEqual(result.stderr, f"skm2trn: {reason.format(output)}\n")

    def test_misspelt_commands_and_extract_folders_are_named(self):
        """A misspelt command is not taken for a file; extract names a bad folder as convert
        does; with --json a usage error is a JSON object on standard output too."""
        self.put("s/nod.skm", "nod.skm")
        self.run_cli(self.path("s"), self.out, check=0)
        package = self.path("out", "nod.trn")
        a_file = self.path("s", "nod.skm")
        os.chdir(self.tmp)
        try:
            for args, reason in (
                    (("inspekt", package), "unknown command 'inspekt'; did you mean 'inspect'?"),
                    (("extrct", package, "x"), "unknown command 'extrct'; did you mean 'extract'?"),
                    (("Covnert", "s", "out"), "unknown command 'Covnert'; did you mean 'convert'?"),
                    (("hlep",), "unknown command 'hlep'; did you mean 'help'?"),
                    (("extract", package, "nodir"), "output folder 'nodir' does not exist"),
                    (("extract", package, a_file), f"output path '{a_file}' is not a folder"),
                    (("--json", "--bogus", "s", "out"), "unknown option '--bogus'"),
                    (("s", "out", "--jso", "-j", "0"), "invalid worker count '0' (1 to 1024)"),
                    (("--json", "s", "nodir"), "output folder 'nodir' does not exist"),
                    (("--json", "extrct", "s", "out"),
                     "unknown command 'extrct'; did you mean 'extract'?")):
                with self.subTest(args=args):
                    result = self.run_cli(*args, check=2, text=True)
                    self.assertEqual(result.stderr.splitlines()[0], f"skm2trn: {reason}")
                    json_asked = any(a.startswith("--js") for a in args)
                    self.assertEqual(result.stdout,
                                     json.dumps({"error": reason}) + "\n" if json_asked else "")
            # A word that names a file, or is too far from any command, is a source as before.
            os.rename(self.path("s", "nod.skm"), self.path("inspekt"))
            self.run_cli("inspekt", "out", check=0)
            result = self.run_cli("inspecting", "out", check=1, text=True)
            self.assertIn("inspecting: cannot read", result.stderr)
        finally:
            os.chdir(self.tmp)

    def test_help_command_is_help(self):
        helped = self.run_cli("--help", check=0).stdout
        self.assertEqual(self.run_cli("help", check=0).stdout, helped)
        self.assertEqual(self.run_cli("convert", "-h", check=0).stdout, helped)
        self.assertEqual(self.run_cli("inspect", "--help", check=0).stdout, helped)


class JsonNames(Base):
    def test_names_that_are_not_utf8_give_valid_utf8_json(self):
        odd = os.path.join(os.fsencode(self.tmp), b"s", b"caf\xe9-\xff.skm")
        nice = os.path.join(os.fsencode(self.tmp), b"s", "na\u00efve-\u6f22.skm".encode())
        os.makedirs(os.path.dirname(odd))
        for path in (odd, nice):
            with open(path, "wb") as f:
                f.write(sample("nod.skm"))
        result = self.run_cli("--json", os.path.dirname(odd), self.out, check=0)
        text = result.stdout.decode("utf-8")  # strict: raises on a byte that is not UTF-8
        self.assertIn("\\udce9", text)
        report = json.loads(text)
        sources = sorted(os.fsencode(f["source"]) for f in report["files"])
        self.assertEqual(sources, sorted([odd, nice]))
        packages = sorted(os.fsencode(f["package"]) for f in report["files"])
        self.assertEqual(packages, sorted(os.path.join(os.fsencode(self.out), n)
                                          for n in (b"caf\xe9-\xff.trn",
                                                    "na\u00efve-\u6f22.trn".encode())))


if __name__ == "__main__":
    SKM2TRN = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
