"""What the command line's end-to-end tests share: the bundled samples as sources, a fresh
folder per test, waiting on a run, and the layout of a package."""
import os
import shutil
import tempfile
import time
import unittest

SAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples")


def sample(name):
    with open(os.path.join(SAMPLES, name), "rb") as f:
        return f.read()


def name_field_at(data):
    """Where a package's name field (a 2-byte length, then the name) starts: after the 33-byte
    head and the three length-prefixed blobs."""
    at = 33
    for _ in range(3):
        at += 4 + int.from_bytes(data[at:at + 4], "big")
    return at


def package_end(data):
    """Where a package ends by its own lengths; a whole package is that long."""
    at = name_field_at(data)
    return at + 2 + int.from_bytes(data[at:at + 2], "big")


class FolderTest(unittest.TestCase):
    """Each test gets a fresh folder, self.tmp, removed afterwards, and unless OUTPUT is None an
    empty output folder of that name in it, self.out."""
    PREFIX = "skm2trn-cli-"
    OUTPUT = "out"
    WAIT_SECONDS = 30
    WAIT_PAUSE = 0.002

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix=self.PREFIX)
        if self.OUTPUT is not None:
            self.out = self.path(self.OUTPUT)
            os.makedirs(self.out)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def put(self, relative, sample_name="nod.skm"):
        """A copy of a sample at a path under self.tmp."""
        path = self.path(relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(sample(sample_name))
        return path

    def sources(self, count, name="nod.skm", stem="g", folder=None):
        """count copies of a sample, stem0000.skm on, in folder (self.tmp by default)."""
        data = sample(name)
        paths = []
        for i in range(count):
            path = os.path.join(folder or self.tmp, f"{stem}{i:04}.skm")
            with open(path, "wb") as f:
                f.write(data)
            paths.append(path)
        return paths

    def wait_for(self, condition, process=None, what="waited in vain"):
        """Waits until condition() holds; fails when the process ends first or time runs out."""
        deadline = time.time() + self.WAIT_SECONDS
        while not condition():
            if process is not None:
                self.assertIsNone(process.poll(), "the run ended early")
            self.assertLess(time.time(), deadline, what)
            time.sleep(self.WAIT_PAUSE)

    def wait_for_file(self, path, process=None):
        self.wait_for(lambda: os.path.exists(path), process, f"{path} never appeared")
