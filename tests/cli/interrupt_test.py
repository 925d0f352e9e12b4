#!/usr/bin/python3
"""Interrupts sent as real signals to a converting skm2trn, with one and with two workers.

A run is held at a known point by a named pipe among its sources: the converter waits there
until the test writes to it. Each case checks the exit status (128 + the signal), that no new
file was started after the signal, that the summary names the files the interrupt left
unconverted, and that the output folder holds whole packages and no temporary file.
Usage: interrupt_test.py PATH_TO_SKM2TRN
"""
import errno
import json
import os
import signal
import subprocess
import sys
import threading
import time
import unittest

from cli_support import FolderTest, package_end

SKM2TRN = None


class Base(FolderTest):
    PREFIX = "skm2trn-int-"

    def setUp(self):
        super().setUp()
        self.fifo = os.path.join(self.tmp, "held.skm")
        os.mkfifo(self.fifo)

    def start(self, jobs, sources):
        return subprocess.Popen([SKM2TRN, "--json", "-j", str(jobs), *sources, self.out],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def release_when_read(self, process):
        """Writes to the held pipe as soon as the converter opens it, for as long as it runs."""
        def feed():
            while process.poll() is None:
                try:
                    fd = os.open(self.fifo, os.O_WRONLY | os.O_NONBLOCK)
                except OSError as error:
                    if error.errno != errno.ENXIO:  # ENXIO: nobody reads it yet
                        raise
                    time.sleep(0.005)
                    continue
                try:
                    os.write(fd, b"not a gesture")
                except BrokenPipeError:
                    pass
                os.close(fd)
                return
        thread = threading.Thread(target=feed, daemon=True)
        thread.start()
        return thread

    def finish(self, process, signum, stopped=lambda report: True):
        """The run's end; stopped(report) tells whether the signal stopped anything."""
        stdout, stderr = process.communicate(timeout=60)
        report = json.loads(stdout)
        if stopped(report):
            self.assertEqual(process.returncode, 128 + signum, stderr)
            self.assertEqual(report["interrupted"], signal.Signals(signum).name)
            self.assertIn(f"interrupted by {signal.Signals(signum).name}", stderr)
        else:
            # Every file was decided before the signal was handled: the run's own status.
            self.assertEqual((process.returncode, report["interrupted"]), (1, None), stderr)
        self.assert_clean()
        return report, stderr

    def assert_clean(self):
        """Whole packages only: no temporary file, nothing that does not parse to its end."""
        for name in os.listdir(self.out):
            self.assertTrue(name.endswith(".trn") and not name.startswith("."),
                            f"left behind: {name}")
            with open(os.path.join(self.out, name), "rb") as f:
                data = f.read()
            self.assertEqual(package_end(data), len(data), f"{name} is not a whole package")

    def assert_interrupted(self, report, stderr, sources):
        files = {f["source"]: f for f in report["files"]}
        for source in sources:
            self.assertEqual((files[source]["status"], files[source]["reason"]),
                             ("skipped", "interrupted"), source)
            self.assertIn(f"  {source}: interrupted\n", stderr)
            base = os.path.basename(source)[:-4]
            self.assertFalse(os.path.exists(os.path.join(self.out, base + ".trn")), source)


class HeldRuns(Base):
    def held_run(self, jobs, position, signum):
        """Sources g0..g3 with the pipe at position; the signal comes while the run waits there."""
        paths = self.sources(4)
        sources = paths[:position] + [self.fifo] + paths[position:]
        process = self.start(jobs, sources)
        if position > 0:
            self.wait_for_file(paths[position - 1][:-4].replace(self.tmp, self.out) + ".trn",
                               process)
        time.sleep(0.2)  # time to reach the pipe; a signal that comes sooner stops it sooner
        process.send_signal(signum)
        self.release_when_read(process)
        # With the pipe last, its release may beat the signal's handling, and then nothing is
        # left for the signal to stop.
        report, stderr = self.finish(process, signum, lambda report: position < len(paths) or any(
            f["reason"] == "interrupted" for f in report["files"]))
        files = {f["source"]: f for f in report["files"]}
        for done in paths[:position]:
            self.assertEqual(files[done]["status"], "converted", done)
        # The pipe's file either ended when it was released or is interrupted; nothing after it
        # was started.
        self.assertNotEqual(files[self.fifo]["status"], "converted")
        self.assert_interrupted(report, stderr, paths[position:])
        self.assertEqual(report["converted"], position)
        self.assertEqual(report["total"], 5)

    def test_at_the_first_file(self):
        for jobs in (1, 2):
            with self.subTest(jobs=jobs):
                self.held_run(jobs, 0, signal.SIGINT)
                self.tearDown()
                self.setUp()

    def test_in_the_middle(self):
        for jobs, signum in ((1, signal.SIGTERM), (2, signal.SIGHUP), (2, signal.SIGINT),
                             (1, signal.SIGQUIT)):
            with self.subTest(jobs=jobs, signal=signum):
                self.held_run(jobs, 2, signum)
                self.tearDown()
                self.setUp()

    def test_at_the_last_file(self):
        for jobs in (1, 2):
            with self.subTest(jobs=jobs):
                self.held_run(jobs, 4, signal.SIGHUP)
                self.tearDown()
                self.setUp()


class PipesNobodyWrites(Base):
    def test_the_first_signal_ends_a_run_waiting_for_pipes(self):
        # The pipes are never written: whichever thread waits on one, the first signal alone
        # must end the run and report them as interrupted.
        second = os.path.join(self.tmp, "held2.skm")
        os.mkfifo(second)
        paths = self.sources(3)
        for jobs in (1, 2, 4):
            with self.subTest(jobs=jobs):
                for name in os.listdir(self.out):
                    os.remove(os.path.join(self.out, name))
                sources = [paths[0], self.fifo, paths[1], second, paths[2]]
                process = self.start(jobs, sources)
                self.wait_for_file(os.path.join(self.out, "g0000.trn"), process)
                time.sleep(0.3)  # time for the workers to reach both pipes
                process.send_signal(signal.SIGINT)
                try:
                    stdout, stderr = process.communicate(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.communicate()
                    self.fail("the run waited for a pipe after the signal")
                self.assertEqual(process.returncode, 128 + signal.SIGINT, stderr)
                self.assert_clean()
                report = json.loads(stdout)
                self.assertEqual(report["converted"], 1)
                self.assert_interrupted(report, stderr, sources[1:])


class BusyRuns(Base):
    def test_a_signal_at_any_moment_of_a_long_run(self):
        # Many larger gestures, so the signal lands while packages are being built and written;
        # the pipe at the end keeps the run from finishing before it.
        paths = self.sources(300, "bounce.skm")
        for jobs, after in ((1, 3), (2, 40), (2, 150)):
            with self.subTest(jobs=jobs, after=after):
                for name in os.listdir(self.out):
                    os.remove(os.path.join(self.out, name))
                process = self.start(jobs, paths + [self.fifo])
                self.wait_for_file(os.path.join(self.out, f"g{after:04}.trn"), process)
                process.send_signal(signal.SIGTERM)
                self.release_when_read(process)
                report, stderr = self.finish(process, signal.SIGTERM)
                written = sorted(os.listdir(self.out))
                converted = [f for f in report["files"] if f["status"] == "converted"]
                self.assertEqual(written, sorted(os.path.basename(f["package"])
                                                 for f in converted))
                self.assertGreater(len(converted), after)
                rest = [f["source"] for f in report["files"] if f["status"] != "converted"]
                # Every file is converted or interrupted, and the converted ones come first.
                self.assertEqual([f["source"] for f in report["files"]],
                                 [f["source"] for f in converted] + rest)
                self.assert_interrupted(report, stderr, [r for r in rest if r != self.fifo])

    def test_a_second_signal_ends_the_run_at_once(self):
        # Two signals at once, while packages are being written: the second one ends the run
        # before it reports, with the number of whichever was handled first, and still leaves
        # only whole packages.
        paths = self.sources(300, "bounce.skm")
        for jobs, after in ((1, 5), (2, 30), (2, 120)):
            with self.subTest(jobs=jobs, after=after):
                for name in os.listdir(self.out):
                    os.remove(os.path.join(self.out, name))
                process = self.start(jobs, paths + [self.fifo])
                self.wait_for_file(os.path.join(self.out, f"g{after:04}.trn"), process)
                process.send_signal(signal.SIGINT)
                process.send_signal(signal.SIGTERM)
                self.release_when_read(process)
                stdout, stderr = process.communicate(timeout=60)
                self.assertIn(process.returncode, (128 + signal.SIGINT, 128 + signal.SIGTERM))
                self.assertIn("interrupted again", stderr)
                self.assertEqual(stdout, "")
                self.assert_clean()


if __name__ == "__main__":
    SKM2TRN = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
