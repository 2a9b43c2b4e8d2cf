"""One sweep a folder.

A sweep holds an exclusive lock on the lock file of its output folder from
before its first write there to its end, so that a second sweep started
there is refused at once instead of clearing the first one's case folders
under its running solvers. The kernel drops the lock of a process that
ends, however it ends, so a lock file left behind stands in no sweep's way.
A tool that runs cavity-sweep as a child takes the lock itself and hands it
down through the environment (``child_env``).
"""

import atexit
import errno
import fcntl
import os
import socket
import time

LOCK_NAME = ".cavity-sweep.lock"
# "FOLDER<tab>PID": FOLDER is locked by the process PID for its children
ENV = "CAVITY_SWEEP_LOCK"

_held = {}  # real path of the folder -> open descriptor of its lock file


class Busy(RuntimeError):
    pass


def _holder(path):
    """'process id 123 on host h' from a lock file another process holds;
    that process writes it just after taking the lock, so wait a little."""
    for _ in range(50):
        try:
            with open(path) as fh:
                lines = fh.read().splitlines()
        except OSError:
            lines = []
        if len(lines) >= 2 and lines[0].isdigit():
            return "process id %s on host %s" % (lines[0], lines[1])
        time.sleep(0.02)
    return "process id unknown"


def _handed_down(folder):
    held, _, parent = os.environ.get(ENV, "").rpartition("\t")
    return held == folder and parent == str(os.getppid())


REMEDY = "wait for that sweep to end, or give this one another folder (-o)"


def take(folder, tool="cavity-sweep", remedy=REMEDY):
    """Takes the lock of ``folder`` (made if missing) for this process, or
    raises Busy with one line naming the holder's process id and ``remedy``.
    Taking it again in the same process, or in a child it was handed down
    to, is a no-op."""
    os.makedirs(folder, exist_ok=True)
    real = os.path.realpath(folder)
    if real in _held or _handed_down(real):
        return
    path = os.path.join(real, LOCK_NAME)
    for _ in range(100):
        fd = os.open(path, os.O_RDWR | os.O_CREAT | os.O_NOFOLLOW, 0o666)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError as exc:
            os.close(fd)
            if exc.errno not in (errno.EWOULDBLOCK, errno.EACCES):
                raise
            raise Busy("%s is in use by another sweep (%s, lock file %s); %s"
                       % (folder, _holder(path), LOCK_NAME, remedy))
        # a sweep ending removes its lock file: a lock on a removed file
        # locks nothing, so take the file that has the name now
        try:
            same = os.path.samestat(os.fstat(fd), os.stat(path))
        except OSError:
            same = False
        if same:
            break
        os.close(fd)
    else:
        raise Busy("%s: cannot take the lock file %s (it keeps being replaced)"
                   % (folder, LOCK_NAME))
    os.ftruncate(fd, 0)
    os.write(fd, ("%d\n%s\n%s %s\n" % (os.getpid(), socket.gethostname(), tool,
                                       time.strftime("%Y-%m-%dT%H:%M:%S"))).encode())
    _held[real] = fd
    if len(_held) == 1:
        atexit.register(_release_all)


def child_env(folder):
    """The environment for a child cavity-sweep that works in ``folder``
    under this process's lock."""
    return dict(os.environ, **{ENV: "%s\t%d" % (os.path.realpath(folder),
                                                 os.getpid())})


def _release_all():
    for real, fd in list(_held.items()):
        path = os.path.join(real, LOCK_NAME)
        try:
            if os.path.samestat(os.fstat(fd), os.stat(path)):
                os.remove(path)
        except OSError:
            pass
        os.close(fd)
        del _held[real]
