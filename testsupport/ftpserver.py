#!/usr/bin/python3
"""Runs one real FTP server on 127.0.0.1 for a test (see ftpserver.h).

    ftpserver.py KIND --root DIR --workdir DIR [--user U --password P]
                 [--tools DIR] [--preload LIB]

KIND is pyftpdlib, vsftpd, proftpd or pure-ftpd. The configuration goes
into --workdir. The listening socket is bound to port 0; the first line on
standard output is "PORT <n> <folder>" once the server has answered a
greeting, where <folder> is the root folder as the server names it,
"SKIP <reason>" when the server program cannot be had here, or
"ERROR <reason>". The server then runs until standard input reaches its end,
so it never outlives the test process that holds the other end of the pipe.

pyftpdlib serves in this process. The three daemons run in their
one-connection (inetd) mode: this process accepts each connection and starts
the daemon with the connection as its standard input and output, which lets
the listening port be chosen by the kernel. Every child gets SIGKILL when
this process ends. Daemons get TZ=UTC, so listings show UTC times.
--tools is where proftpd-core and pure-ftpd were unpacked; --preload is a
library that takes pure-ftpd's pauses after failed logins away.
"""

import argparse
import ctypes
import os
import select
import signal
import socket
import subprocess
import sys
import threading

PR_SET_PDEATHSIG = 1
NOBODY = 65534


def die_with_parent():
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def report(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


class Unavailable(Exception):
    """The server program cannot be had here: the test skips."""


class Broken(Exception):
    """The server is there but does not work: the test fails."""


def tool(tools, relative, how):
    for base in ([tools] if tools else []) + ["/"]:
        path = os.path.join(base, relative.lstrip("/"))
        if os.access(path, os.X_OK):
            return path
    raise Unavailable(f"{relative} is missing ({how})")


UNPACKED = "unpacked by scripts/unpack-ftp-servers.sh BUILD_DIR"


def sha512_crypt(password):
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        import crypt  # deprecated, still part of Debian 12's Python
    return crypt.crypt(password, crypt.mksalt(crypt.METHOD_SHA512))


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


# --- Daemons in one-connection mode -----------------------------------------

def vsftpd_command(args):
    binary = tool(None, "/usr/sbin/vsftpd", "installed by scripts/install-deps.sh")
    if args.user not in ("", "anonymous", "ftp"):
        raise Broken("the vsftpd fixture serves anonymous logins only")
    conf = os.path.join(args.workdir, "vsftpd.conf")
    write(conf, "\n".join([
        "listen=NO", "listen_ipv6=NO",
        "run_as_launching_user=YES", "seccomp_sandbox=NO",
        "anonymous_enable=YES", "local_enable=NO", "no_anon_password=YES",
        "anon_root=" + args.root,
        "write_enable=YES", "anon_upload_enable=YES",
        "anon_mkdir_write_enable=YES", "anon_other_write_enable=YES",
        "anon_world_readable_only=NO", "anon_umask=022",
        "delay_failed_login=0", "delay_successful_login=0",
        "connect_from_port_20=NO", "pasv_enable=YES", "port_enable=YES",
        "xferlog_enable=NO", "dirmessage_enable=NO",
        "log_ftp_protocol=YES", "vsftpd_log_file=" + os.path.join(args.workdir, "vsftpd.log"),
        "",
    ]))
    # Without privilege separation it cannot confine the login to the root.
    return [binary, conf], {}, args.root


def proftpd_command(args):
    binary = tool(args.tools, "/usr/sbin/proftpd", UNPACKED)
    if not args.user or args.user in ("anonymous", "ftp"):
        raise Broken("the proftpd fixture serves a named user only")
    uid, gid = os.geteuid(), os.getegid()
    confined = uid == 0  # only root may confine a login to its folder
    passwd = os.path.join(args.workdir, "ftpd.passwd")
    write(passwd, f"{args.user}:{sha512_crypt(args.password)}:{uid}:{gid}::{args.root}:/bin/sh\n")
    os.chmod(passwd, 0o600)
    user = subprocess.run(["id", "-un"], capture_output=True, text=True).stdout.strip()
    group = subprocess.run(["id", "-gn"], capture_output=True, text=True).stdout.strip()
    conf = os.path.join(args.workdir, "proftpd.conf")
    write(conf, "\n".join([
        'ServerName "kvtest"', "ServerType inetd", "DefaultServer on",
        "User " + user, "Group " + group, "Umask 022",
        "UseIPv6 off", "UseReverseDNS off", "WtmpLog off",
        "RequireValidShell off", "RootLogin on", "DelayEngine off",
        "AuthOrder mod_auth_file.c", "AuthUserFile " + passwd,
        "AuthPAM off", "AllowOverwrite on", "AllowStoreRestart on",
        "DefaultRoot ~" if confined else "",
        "ListOptions -a",
        "PidFile " + os.path.join(args.workdir, "proftpd.pid"),
        "ScoreboardFile " + os.path.join(args.workdir, "proftpd.scoreboard"),
        "DelayTable none",
        "SystemLog " + os.path.join(args.workdir, "proftpd.log"),
        "TransferLog none",
        "",
    ]))
    return [binary, "-n", "-q", "-c", conf], {}, "/" if confined else args.root


def pure_ftpd_command(args):
    binary = tool(args.tools, "/usr/sbin/pure-ftpd", UNPACKED)
    pure_pw = tool(args.tools, "/usr/bin/pure-pw", UNPACKED)
    if not args.user or args.user in ("anonymous", "ftp"):
        raise Broken("the pure-ftpd fixture serves a named user only")
    if os.geteuid() != 0:
        raise Unavailable("pure-ftpd serves its virtual user as uid 65534, "
                          "which needs root")
    passwd = os.path.join(args.workdir, "pureftpd.passwd")
    pdb = os.path.join(args.workdir, "pureftpd.pdb")
    # pure-pw would hash with a deliberately slow function, which every
    # login then pays for; a crypt hash of our own is read just the same.
    write(passwd, f"{args.user}:{sha512_crypt(args.password)}:{NOBODY}:{NOBODY}::"
                  f"{args.root}/./::::::::::::\n")
    made = subprocess.run([pure_pw, "mkdb", pdb, "-f", passwd],
                          capture_output=True, text=True)
    if made.returncode != 0:
        raise Broken("pure-pw mkdb: " + (made.stderr + made.stdout).strip())
    # The virtual user owns the tree it is served, so that it may write there.
    for folder, dirs, files in os.walk(args.root):
        for name in [folder] + [os.path.join(folder, n) for n in dirs + files]:
            os.lchown(name, NOBODY, NOBODY)
    preload = {"LD_PRELOAD": args.preload} if args.preload else {}
    return [binary, "-l", "puredb:" + pdb, "-E", "-H", "-A", "-D", "-u", "1",
            "-4"], preload, "/"


DAEMONS = {"vsftpd": vsftpd_command, "proftpd": proftpd_command,
           "pure-ftpd": pure_ftpd_command}


class InetdServer:
    """Accepts connections and hands each one to a daemon of its own."""

    def __init__(self, command, env, workdir):
        self.command = command
        self.env = dict(os.environ, TZ="UTC", **env)
        self.log = open(os.path.join(workdir, "daemon.stderr"), "ab")
        self.children = []
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]

    def serve_one(self):
        conn, _ = self.listener.accept()
        child = subprocess.Popen(self.command, stdin=conn, stdout=conn,
                                 stderr=self.log, env=self.env, close_fds=True,
                                 preexec_fn=die_with_parent)
        conn.close()
        self.children = [c for c in self.children if c.poll() is None] + [child]

    def run_until_eof(self, stdin):
        while True:
            ready, _, _ = select.select([self.listener, stdin], [], [])
            if stdin in ready and not os.read(stdin.fileno(), 4096):
                return
            if self.listener in ready:
                self.serve_one()

    def stop(self):
        for c in self.children:
            if c.poll() is None:
                c.kill()
            c.wait()


# --- pyftpdlib in this process ----------------------------------------------

def pyftpdlib_server(args):
    try:
        from pyftpdlib.authorizers import DummyAuthorizer
        from pyftpdlib.handlers import FTPHandler
        from pyftpdlib.servers import ThreadedFTPServer
    except ImportError:
        raise Unavailable("python3-pyftpdlib is not installed")
    authorizer = DummyAuthorizer()
    perm = "elradfmwMT"
    if args.user in ("", "anonymous", "ftp"):
        authorizer.add_anonymous(args.root, perm=perm)
    else:
        authorizer.add_user(args.user, args.password, args.root, perm=perm)
    handler = type("Handler", (FTPHandler,), {})
    handler.authorizer = authorizer
    handler.auth_failed_timeout = 0
    handler.use_gmt_times = True
    import logging
    logging.basicConfig(filename=os.path.join(args.workdir, "pyftpdlib.log"),
                        level=logging.INFO)
    server = ThreadedFTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(target=server.serve_forever,
                              kwargs={"handle_exit": False}, daemon=True)
    thread.start()
    return server


def greeting_of(port, inetd=None):
    with socket.create_connection(("127.0.0.1", port), timeout=20) as s:
        if inetd:
            inetd.serve_one()  # the connection waits in the listen queue
        data = b""
        while not data.endswith(b"\n"):
            chunk = s.recv(1024)
            if not chunk:
                break
            data += chunk
        s.sendall(b"QUIT\r\n")
        return data.decode("latin-1").strip()


def logs_of(workdir):
    text = []
    for name in sorted(os.listdir(workdir)):
        if name.endswith((".log", ".stderr")):
            with open(os.path.join(workdir, name), "rb") as f:
                text.append(name + ": " + f.read()[-2000:].decode("latin-1"))
    return " | ".join(t.replace("\n", " ") for t in text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kind", choices=["pyftpdlib"] + sorted(DAEMONS))
    parser.add_argument("--root", required=True)
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--tools", default="")
    parser.add_argument("--preload", default="")
    args = parser.parse_args()
    args.root = os.path.abspath(args.root)
    inetd = None
    try:
        if args.kind == "pyftpdlib":
            port, start = pyftpdlib_server(args).address[1], "/"
        else:
            command, env, start = DAEMONS[args.kind](args)
            inetd = InetdServer(command, env, args.workdir)
            port = inetd.port
        greeting = greeting_of(port, inetd)
        if not greeting.startswith("220"):
            raise Broken(f"greeting {greeting!r}; logs: {logs_of(args.workdir)}")
    except Unavailable as e:
        report("SKIP " + str(e))
        return
    except (Broken, OSError) as e:
        report("ERROR " + str(e))
        return
    report(f"PORT {port} {start}")
    try:
        if inetd:
            inetd.run_until_eof(sys.stdin)
        else:
            while os.read(sys.stdin.fileno(), 4096):
                pass
    finally:
        if inetd:
            inetd.stop()


if __name__ == "__main__":
    main()
