"""Hands the lines of standard input, one at a time, to a handler in a GLib main loop."""
import os

from gi.repository import GLib


def watch_lines(loop, handle):
    """Calls handle(line) for each line that is not blank; a handler returning False stops the
    reading. The end of input quits the loop."""
    pending = bytearray()

    # Raw reads: a buffered reader could hold lines that poll no longer reports.
    def on_input(fd, condition):
        data = os.read(fd, 65536)
        if not data:
            loop.quit()
            return False
        pending.extend(data)
        while b"\n" in pending:
            line, _, rest = bytes(pending).partition(b"\n")
            pending[:] = rest
            if line.strip() and handle(line.decode().strip()) is False:
                return False
        return True

    GLib.io_add_watch(0, GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, on_input)
