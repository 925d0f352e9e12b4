#!/usr/bin/python3
"""skm2trn under the process's own hazards: signals (SIGQUIT, a signal while the report waits
on a slow pipe), limits set in a child (file size, process count as an unprivileged user), file
names that would steer a terminal, and standard output that fails.
Usage: process_test.py PATH_TO_SKM2TRN
"""
import json
import os
import pty
import pwd
import resource
import select
import shutil
import signal
import subprocess
import sys
import time
import unittest

from cli_support import SAMPLES, FolderTest, sample

SKM2TRN = None

# Under a sanitizer build: the leak checker needs a thread of its own, which a process limit
# refuses, and stdbuf preloads a library ahead of the sanitizer's runtime. Leaks are checked by
# the other tests.
os.environ["ASAN_OPTIONS"] = ":".join(
    filter(None, [os.environ.get("ASAN_OPTIONS", ""), "detect_leaks=0:verify_asan_link_order=0"]))


def contents(file):
    """All that an open file holds so far."""
    file.seek(0)
    return file.read()


class Base(FolderTest):
    PREFIX = "skm2trn-proc-"
    WAIT_SECONDS = 60
    WAIT_PAUSE = 0.02

    def setUp(self):
        super().setUp()
        os.chmod(self.tmp, 0o755)


class Signals(Base):
    def test_a_signal_while_the_report_waits_on_a_slow_pipe(self):
        # The report is larger than a pipe holds; the reader waits until the writer blocks, the
        # signal comes, then everything is read. The JSON must be whole, and the status the
        # run's own, or 128 + N when an earlier signal had stopped the run.
        paths = self.sources(300, stem="g" + "x" * 150)
        fifo = os.path.join(self.tmp, "held.skm")
        os.mkfifo(fifo)
        for held in (False, True):
            with self.subTest(stopped_by_an_earlier_signal=held):
                for name in os.listdir(self.out):
                    os.remove(os.path.join(self.out, name))
                sources = paths + [fifo] if held else paths
                err = open(os.path.join(self.tmp, "stderr"), "w+")
                process = subprocess.Popen([SKM2TRN, "--json", "-j2", *sources, self.out],
                                           stdout=subprocess.PIPE, stderr=err)
                if held:
                    last = os.path.basename(paths[-1])[:-4] + ".trn"
                    self.wait_for(lambda: os.path.exists(os.path.join(self.out, last)), process)
                    time.sleep(0.3)
                    process.send_signal(signal.SIGINT)
                # The summary for people goes out first; then the JSON fills the pipe.
                self.wait_for(lambda: "converted." in contents(err), process)
                time.sleep(0.5)
                self.assertIsNone(process.poll(), "the report did not wait for its reader")
                process.send_signal(signal.SIGINT)
                time.sleep(0.2)
                stdout = process.stdout.read()
                process.stdout.close()
                process.wait(timeout=30)
                report = json.loads(stdout)
                self.assertEqual(len(report["files"]), len(sources))
                self.assertEqual(report["converted"], len(paths))
                self.assertEqual(report["interrupted"], "SIGINT" if held else None)
                self.assertEqual(process.returncode, 128 + signal.SIGINT if held else 0,
                                 contents(err))
                err.close()


def as_user(uid):
    """subprocess arguments that run a child under uid, with no groups beyond its own."""
    return {} if uid is None else {"user": uid, "group": uid, "extra_groups": []}


def limited(limits):
    """A preexec_fn that sets each (resource, value) of limits as both soft and hard limit."""
    def apply():
        for which, value in limits:
            resource.setrlimit(which, (value, value))
    return apply


def run_limited(args, limits, uid=None):
    return subprocess.run(args, preexec_fn=limited(limits), capture_output=True, text=True,
                          timeout=300, **as_user(uid))


def unused_uid():
    """A user id with no account and no process, or None."""
    owners = set()
    for pid in os.listdir("/proc"):
        try:
            owners.add(os.stat(f"/proc/{pid}").st_uid)
        except OSError:
            pass
    for uid in range(47000, 47100):
        try:
            pwd.getpwuid(uid)
        except KeyError:
            if uid not in owners:
                return uid
    return None


class Limits(Base):
    def test_a_package_over_the_file_size_limit_fails_alone(self):
        paths = [shutil.copy(os.path.join(SAMPLES, n), self.tmp)
                 for n in ("spin.skm", "bounce.skm", "nod.skm")]
        subprocess.run([SKM2TRN, "-q", *paths, self.out], check=True)
        sizes = sorted((os.path.getsize(os.path.join(self.out, n)), n)
                       for n in os.listdir(self.out))
        shutil.rmtree(self.out)
        os.makedirs(self.out)
        big = sizes[-1][1][:-4] + ".skm"
        limit = (sizes[-1][0] + sizes[-2][0]) // 2
        result = run_limited([SKM2TRN, "--json", *paths, self.out],
                             [(resource.RLIMIT_FSIZE, limit)])
        self.assertEqual(result.returncode, 1, result.stderr)
        outcomes = {os.path.basename(f["source"]): (f["status"], f["reason"])
                    for f in json.loads(result.stdout)["files"]}
        self.assertEqual(outcomes.pop(big), ("failed", "could not write the package "
                                             f"{self.out}/{big[:-4]}.trn: File too large"))
        self.assertEqual(set(outcomes.values()), {("converted", None)})
        # The truncated temporary went with the failure.
        self.assertEqual(sorted(os.listdir(self.out)), sorted(n for _, n in sizes[:-1]))

    def test_worker_threads_the_system_refuses(self):
        # RLIMIT_NPROC counts the threads of every process of the real user, and root is exempt.
        # The run goes as a user id nothing else runs as, so that no other process moves the
        # count, and the first sources are pipes, one for each thread allowed: every thread that
        # started waits on one until the threads have all been asked for, so none ends and
        # frees its place early.
        if os.geteuid() != 0:
            self.skipTest("needs root, to run under a user id of its own")
        uid = unused_uid()
        if uid is None:
            self.skipTest("no unused user id to run under a process limit")
        os.chmod(self.out, 0o777)
        try:  # a user namespace may map no such id
            probe = run_limited([SKM2TRN, "--version"], [], uid)
        except (OSError, subprocess.SubprocessError) as error:
            self.skipTest(f"cannot run as uid {uid}: {error}")
        if probe.returncode != 0:
            self.skipTest(f"skm2trn cannot run as uid {uid}: {probe.stderr.strip()}")
        paths = self.sources(40, "bounce.skm")
        for path in paths:
            os.chmod(path, 0o644)
        for extra in (0, 3):
            with self.subTest(threads_allowed=extra):
                for name in os.listdir(self.out):
                    os.remove(os.path.join(self.out, name))
                pipes = [os.path.join(self.tmp, f"held{extra}{k}.skm")
                         for k in range(max(extra, 1))]
                for pipe in pipes:
                    os.mkfifo(pipe)
                    os.chmod(pipe, 0o666)  # whatever the umask
                err = open(os.path.join(self.tmp, f"stderr{extra}"), "w+")
                self.addCleanup(err.close)
                process = subprocess.Popen(
                    [SKM2TRN, "--json", "-j", "64", *pipes, *paths, self.out],
                    stdout=subprocess.PIPE, stderr=err, text=True, **as_user(uid),
                    preexec_fn=limited([(resource.RLIMIT_NPROC, 1 + extra)]))
                self.addCleanup(lambda p=process: p.poll() is None and p.kill())
                sources = len(pipes) + len(paths)  # fewer than the 64 threads asked for
                note = f"skm2trn: could not start all {sources} worker threads ("
                self.wait_for(lambda: note in contents(err), process)
                for pipe in pipes:
                    with open(pipe, "wb") as f:
                        f.write(sample("bounce.skm"))
                stdout, _ = process.communicate(timeout=120)
                stderr = contents(err)
                self.assertEqual(process.returncode, 0, stderr)
                self.assertEqual(json.loads(stdout)["converted"], sources)
                self.assertEqual(len(os.listdir(self.out)), sources)
                notes = [line for line in stderr.splitlines() if line.startswith(note)]
                self.assertEqual(len(notes), 1, stderr)
                # No worker at all: the main thread converts alone.
                self.assertEqual(int(notes[0].rpartition("; converting with ")[2]),
                                 max(extra, 1))


class TerminalNames(Base):
    def run_on_terminal(self, args):
        """Runs with standard output and standard error on a pseudo-terminal; returns its bytes."""
        try:
            master, slave = pty.openpty()
        except OSError as error:
            self.skipTest(f"no pseudo-terminal: {error.strerror}")
        process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=slave, stderr=slave)
        os.close(slave)
        out = b""
        while True:
            ready, _, _ = select.select([master], [], [], 30)
            self.assertTrue(ready, "no output from the terminal run")
            try:
                chunk = os.read(master, 65536)
            except OSError:  # EIO: the other side is closed
                break
            if not chunk:
                break
            out += chunk
        os.close(master)
        process.wait(timeout=30)
        return process.returncode, out.replace(b"\r\n", b"\n")

    def test_control_characters_never_reach_the_terminal_raw(self):
        data = sample("nod.skm")
        names = ["a\nb.skm", "\033[31mred.skm", "it's.skm", "plain.skm"]
        for name in names:
            with open(os.path.join(self.tmp, name), "wb") as f:
                f.write(data)
        with open(os.path.join(self.tmp, "bad\tone.skm"), "wb") as f:
            f.write(b"SKMG")
        folder = self.tmp + "/"
        status, shown = self.run_on_terminal([SKM2TRN, "--dry-run", self.tmp, self.out])
        self.assertEqual(status, 1, shown)
        self.assertNotIn(b"\033[31m", shown)
        self.assertNotIn(b"a\nb", shown)
        self.assertNotIn(b"bad\tone", shown)
        for line in (f"'{folder}a'$'\\n''b.skm' -> '{self.out}/a'$'\\n''b.trn'",
                     f"'{folder}'$'\\033''[31mred.skm' -> '{self.out}/'$'\\033''[31mred.trn'",
                     f"\"{folder}it's.skm\" -> \"{self.out}/it's.trn\"",
                     f"{folder}plain.skm -> {self.out}/plain.trn",
                     f"  '{folder}bad'$'\\t''one.skm': "):
            self.assertIn(line.encode(), shown)
        # Off the terminal the names go out exactly as they are, in the JSON as anywhere.
        result = subprocess.run([SKM2TRN, "--dry-run", "--json", self.tmp, self.out],
                                capture_output=True)
        sources = [f["source"] for f in json.loads(result.stdout)["files"]]
        self.assertEqual(sorted(sources), sorted(folder + n for n in names + ["bad\tone.skm"]))
        self.assertIn(f"{folder}a\nb.skm -> ".encode(), result.stderr)


class StandardOutputFailures(Base):
    def test_every_command_names_the_systems_reason(self):
        # Line-buffered output fails line by line, long before the last flush.
        path = self.sources(1)[0]
        if shutil.which("stdbuf") is None:
            self.skipTest("stdbuf (coreutils) is not installed")
        for args in ((path, self.out), ("--json", path, self.out), ("inspect", path),
                     ("--version",), ("--help",)):
            for buffering in ("-oL", "-o0"):
                with self.subTest(args=args, buffering=buffering), \
                        open("/dev/full", "w") as full:
                    result = subprocess.run(["stdbuf", buffering, SKM2TRN, *args], stdout=full,
                                            stderr=subprocess.PIPE, text=True)
                    self.assertEqual(result.returncode, 2)
                    self.assertIn("skm2trn: cannot write to standard output: "
                                  "No space left on device\n", result.stderr)


if __name__ == "__main__":
    SKM2TRN = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
