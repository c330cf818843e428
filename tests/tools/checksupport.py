"""What the corpus check scripts beside this file share."""
import hashlib
import os
import sys


def tree_md5(root):
    """{path relative to root: MD5} of every file under root."""
    out = {}
    for base, _, files in os.walk(root):
        for name in files:
            path = os.path.join(base, name)
            with open(path, "rb") as f:
                out[os.path.relpath(path, root)] = hashlib.md5(f.read()).hexdigest()
    return out


def skip_if_unmade(image):
    # A volume the test-time builder could not make on this machine (no FUSE
    # mount) is reported as skipped, not as a fault of the program.
    note = os.path.splitext(image)[0] + ".unavailable"
    if not os.path.exists(image) and os.path.exists(note):
        with open(note) as f:
            print("SKIP:", f.read().strip())
        sys.exit(77)
