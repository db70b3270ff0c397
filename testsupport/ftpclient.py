#!/usr/bin/python3
"""Python's ftplib as an independent FTP client for tests (see ftpserver.h).

    ftpclient.py HOST PORT USER PASSWORD COMMAND [ARG...]

Commands (passive mode):
    pwd                 prints the folder the login starts in
    list FOLDER         prints the raw lines of "LIST -aL" in FOLDER
    put LOCAL REMOTE    stores a local file
    get REMOTE LOCAL    retrieves a file
    hold                logs in, prints READY, and waits until the server
                        ends the session; then prints CLOSED
Exit status 0 on success; an FTP error is printed and gives status 1.
"""

import ftplib
import sys


def main():
    host, port, user, password, command, *args = sys.argv[1:]
    ftp = ftplib.FTP()
    ftp.encoding = "utf-8"
    ftp.connect(host, int(port), timeout=60)
    ftp.login(user, password)
    if command == "pwd":
        print(ftp.pwd())
    elif command == "list":
        ftp.cwd(args[0])
        ftp.retrlines("LIST -aL", lambda line: sys.stdout.write(line + "\n"))
    elif command == "put":
        with open(args[0], "rb") as f:
            ftp.storbinary("STOR " + args[1], f)
    elif command == "get":
        with open(args[1], "wb") as f:
            ftp.retrbinary("RETR " + args[0], f.write)
    elif command == "hold":
        print("READY", flush=True)
        ftp.sock.settimeout(None)
        while ftp.sock.recv(4096):
            pass
        print("CLOSED", flush=True)
        return
    else:
        sys.exit("unknown command " + command)
    ftp.quit()


if __name__ == "__main__":
    try:
        main()
    except ftplib.all_errors as e:
        print("FTP error:", e)
        sys.exit(1)
