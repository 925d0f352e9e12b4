#!/usr/bin/python3
"""A small FUSE file system that ignores letter case, as a FAT stick, an SMB share or an ext4
casefold folder does: it passes a backing folder through, and two names are one name when they
agree after NFD normalisation and full Unicode case folding. Names keep the letter case they
were created with. Inode numbers are the backing ones, so hard links show as one file.

Usage: caseless_fs.py BACKING MOUNTPOINT   (stays in the foreground until unmounted)
"""
import errno
import os
import sys
import unicodedata

try:
    import fusepy as fuse
except ImportError:  # older Debian packages name the module fuse
    import fuse


def key(name):
    text = os.fsdecode(name)
    return unicodedata.normalize("NFD", unicodedata.normalize("NFD", text).casefold())


class Caseless(fuse.Operations):
    def __init__(self, root):
        self.root = os.path.realpath(root)

    def _find(self, folder, name):
        """The backing name in folder that is the same name as name, or None."""
        wanted = key(name)
        try:
            for entry in os.listdir(folder):
                if key(entry) == wanted:
                    return entry
        except OSError:
            pass
        return None

    def _real(self, path, must_exist=False):
        real = self.root
        parts = [p for p in path.split("/") if p]
        for i, part in enumerate(parts):
            found = self._find(real, part)
            if found is None:
                if must_exist or i < len(parts) - 1:
                    raise fuse.FuseOSError(errno.ENOENT)
                found = part
            real = os.path.join(real, found)
        return real

    def _call(self, fn, *args):
        try:
            return fn(*args)
        except OSError as error:
            raise fuse.FuseOSError(error.errno)

    def getattr(self, path, fh=None):
        st = self._call(os.lstat, self._real(path, True))
        return {k: getattr(st, k) for k in ("st_mode", "st_nlink", "st_size", "st_uid", "st_gid",
                                            "st_atime", "st_mtime", "st_ctime", "st_ino")}

    def readdir(self, path, fh):
        return [".", ".."] + self._call(os.listdir, self._real(path, True))

    def readlink(self, path):
        return self._call(os.readlink, self._real(path, True))

    def access(self, path, mode):
        if not os.access(self._real(path, True), mode):
            raise fuse.FuseOSError(errno.EACCES)

    def mkdir(self, path, mode):
        return self._call(os.mkdir, self._real(path), mode)

    def rmdir(self, path):
        return self._call(os.rmdir, self._real(path, True))

    def unlink(self, path):
        return self._call(os.unlink, self._real(path, True))

    def symlink(self, target, source):
        return self._call(os.symlink, source, self._real(target))

    def link(self, target, source):
        return self._call(os.link, self._real(source, True), self._real(target))

    def rename(self, old, new):
        return self._call(os.rename, self._real(old, True), self._real(new))

    def chmod(self, path, mode):
        return self._call(os.chmod, self._real(path, True), mode)

    def chown(self, path, uid, gid):
        return self._call(os.lchown, self._real(path, True), uid, gid)

    def utimens(self, path, times=None):
        return self._call(os.utime, self._real(path, True), times)

    def truncate(self, path, length, fh=None):
        return self._call(os.truncate, self._real(path, True), length)

    def statfs(self, path):
        st = os.statvfs(self._real(path, True))
        return {k: getattr(st, k) for k in ("f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail",
                                            "f_ffree", "f_files", "f_flag", "f_frsize", "f_namemax")}

    def open(self, path, flags):
        return self._call(os.open, self._real(path, True), flags)

    def create(self, path, mode, fi=None):
        return self._call(os.open, self._real(path), os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)

    def read(self, path, size, offset, fh):
        return self._call(os.pread, fh, size, offset)

    def write(self, path, data, offset, fh):
        return self._call(os.pwrite, fh, data, offset)

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        return self._call(os.fsync, fh)

    def release(self, path, fh):
        return self._call(os.close, fh)


if __name__ == "__main__":
    # No caching of names or attributes in the kernel: a name cached under one spelling would
    # outlive the file that another spelling removed or replaced.
    fuse.FUSE(Caseless(sys.argv[1]), sys.argv[2], foreground=True, nothreads=True, use_ino=True,
              default_permissions=True, entry_timeout=0, attr_timeout=0, negative_timeout=0)
