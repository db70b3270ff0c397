#!/usr/bin/python3
"""What os.stat says of every entry of a folder, for the listing tests.

One line per entry: name, then for the entry as a link leads (os.stat) and
as it is itself (os.lstat): folder flag, size and the UTC modification time
as DD/MM/YYYY hh:mm; fields apart by tabs.
"""
import datetime
import os
import stat
import sys

folder = sys.argv[1]
for name in sorted(os.listdir(folder)):
    path = os.path.join(folder, name)
    fields = [name]
    for st in (os.stat(path), os.lstat(path)):
        when = datetime.datetime.fromtimestamp(int(st.st_mtime), datetime.timezone.utc)
        fields += ["1" if stat.S_ISDIR(st.st_mode) else "0", str(st.st_size),
                   when.strftime("%d/%m/%Y %H:%M")]
    print("\t".join(fields))
