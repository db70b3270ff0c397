#!/usr/bin/python3
"""Posts a window message to the running Horavex of this user, as a profile
editor does: one datagram "KVWM", message, WParam, LParam (little-endian,
32-bit unsigned, two 64-bit signed) to the socket "TtfTimerMain" in the
user's private temporary folder.

    post_message.py MESSAGE WPARAM [LPARAM]
    post_message.py --raw TEXT        (sends TEXT as it is)
"""
import os
import socket
import struct
import sys


def socket_path(window_class="TtfTimerMain"):
    runtime = os.environ.get("XDG_RUNTIME_DIR", "")
    folders = [os.path.join(runtime, "kestrovane")] if os.path.isabs(runtime) else []
    folders.append("/tmp/kestrovane-%d" % os.getuid())
    for folder in folders:
        path = os.path.join(folder, window_class)
        if os.path.exists(path):
            return path
    return os.path.join(folders[0], window_class)


def main(argv):
    if len(argv) == 3 and argv[1] == "--raw":
        data = argv[2].encode()
    elif len(argv) in (3, 4):
        message, wparam = int(argv[1]), int(argv[2])
        lparam = int(argv[3]) if len(argv) == 4 else 0
        data = struct.pack("<4sIqq", b"KVWM", message, wparam, lparam)
    else:
        sys.stderr.write(__doc__)
        return 2
    with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as s:
        s.sendto(data, socket_path())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
