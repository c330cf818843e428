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


def every_type_selected(header_file, path):
    """Writes to `path` the signature file `header_file` with every type
    selected; returns the extensions of its types."""
    with open(header_file, "rb") as f:
        data = bytearray(f.read())
    extensions = set()
    for at in range(0, len(data) - 1070, 1071):
        data[at + 1061] = 1
        extensions.add(data[at + 528:at + 1048].decode("utf-16-le").split("\0", 1)[0].lower())
    with open(path, "wb") as f:
        f.write(data)
    return extensions


def skip_if_unmade(image):
    # A volume the test-time builder could not make on this machine (no FUSE
    # mount) is reported as skipped, not as a fault of the program.
    note = os.path.splitext(image)[0] + ".unavailable"
    if not os.path.exists(image) and os.path.exists(note):
        with open(note) as f:
            print("SKIP:", f.read().strip())
        sys.exit(77)
