"""The processes that draw the pictures while the review reads and computes.

One process is forked at the start: it imports matplotlib and draws once (about half a
second) while the review reads the files, then forks a second, and both take the pictures to
draw from one queue, a pipe of fixed-size messages (each read takes one whole message), as
the data for each is ready. A picture's data goes to a file of a private folder and its PNG
is written beside it. Where there is no fork, the pictures are drawn in this process at the
end."""

from __future__ import annotations

import os
import pickle
import shutil
import signal
import sys
import tempfile
import traceback

WORKERS = 2
# Bytes per message on the queue: a write this short is atomic, so no reader gets half of one.
MESSAGE = 64


def _draw(folder: str, name: str):
    """Draws the picture name from the data in its file; the PNG appears complete or not at
    all."""
    from . import figures

    path = os.path.join(folder, name)
    with open(path + ".data", "rb") as f:
        picture, data = pickle.load(f)
    getattr(figures, picture)(*data, path + ".part")
    os.replace(path + ".part", path)


def _serve(queue: int, folder: str):
    """The drawing processes' life: import, fork the second, draw until the queue is closed.
    A picture that fails is reported here; the review finds it missing."""
    status = 1
    try:
        os.setpgid(0, 0)
        from . import figures

        figures.warm_up()

        helpers = []
        for _ in range(WORKERS - 1):
            pid = os.fork()
            if pid == 0:
                helpers = []
                break
            helpers.append(pid)
        while message := os.read(queue, MESSAGE):
            try:
                _draw(folder, message.decode().strip())
            except Exception:
                traceback.print_exc()
        for pid in helpers:
            os.waitpid(pid, 0)
        status = 0
    except BaseException:
        traceback.print_exc()
    finally:
        sys.stderr.flush()
        os._exit(status)


class Drawers:
    """draw() queues a picture, finish() waits for them all, close() ends the processes (at
    once, if the review stops early) and removes the private folder."""

    def __init__(self, fork: bool = True):
        """fork: False draws in this process (a review without pictures imports nothing)."""
        self.folder = tempfile.mkdtemp(prefix="morvane-review-")
        self.names: list[str] = []
        self.pid = self.queue = None
        if not fork or not hasattr(os, "fork"):
            return
        queue_in, self.queue = os.pipe()
        # Held open by the drawing processes only: reads end when both have ended.
        self.alive, alive_out = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.close(self.queue)
            os.close(self.alive)
            _serve(queue_in, self.folder)
        os.close(queue_in)
        os.close(alive_out)
        self.pid = pid
        try:
            # Their own process group: one signal ends both, and the terminal's Ctrl-C goes to
            # the review only, which then ends them.
            os.setpgid(pid, pid)
        except OSError:
            pass  # the process has set it already

    def draw(self, name: str, picture: str, *data):
        """Has figures.<picture>(*data, path) draw the picture name."""
        path = os.path.join(self.folder, name)
        with open(path + ".data", "wb") as f:
            pickle.dump((picture, data), f, protocol=pickle.HIGHEST_PROTOCOL)
        self.names.append(name)
        if self.pid is not None:
            os.write(self.queue, name.encode().ljust(MESSAGE))

    def finish(self) -> dict[str, str]:
        """The PNG of each picture queued, by name, once all are drawn; RuntimeError when one
        could not be (the reason is on stderr)."""
        if self.pid is None:
            for name in self.names:
                _draw(self.folder, name)
        else:
            self._end(kill=False)
        drawn = {name: os.path.join(self.folder, name) for name in self.names}
        if not all(os.path.exists(path) for path in drawn.values()):
            raise RuntimeError("drawing the pictures failed (see above)")
        return drawn

    def _end(self, kill: bool):
        """Closes the queue (the processes end when it is empty) or kills them, and waits
        until both have ended."""
        if kill:
            try:
                os.killpg(self.pid, signal.SIGKILL)
            except OSError:
                pass  # ended already
        if self.queue is not None:
            os.close(self.queue)
            self.queue = None
        os.read(self.alive, 1)
        os.waitpid(self.pid, 0)
        os.close(self.alive)
        self.pid = None

    def close(self):
        if self.pid is not None:
            self._end(kill=True)
        shutil.rmtree(self.folder, ignore_errors=True)
