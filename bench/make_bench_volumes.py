#!/usr/bin/python3
"""Builds the large volumes the scan benchmarks run over, with the real tools:
an NTFS volume filled through ntfs-3g and a FAT32 volume filled by mtools,
each holding FILES small files, 100 to a folder, two folder levels deep.

    make_bench_volumes.py --out DIR --files 1000000 [--kinds ntfs,fat32] [--seed N]

Writes DIR/ntfs-<FILES>.img and DIR/fat32-<FILES>.img (sparse files; a
1,000,000-file pair takes about 7 GB of disk and builds in about 12 minutes). Needs root, FUSE (ntfs-3g),
mkntfs, mkfs.fat and mtools. Delete the images after use.
"""
import argparse, os, random, shutil, subprocess, tempfile, time

# Sizes of the files: most stay inside their NTFS record, the rest take a
# cluster or two.
SIZES = (120, 300, 600, 1500, 4000)
PER_FOLDER = 100


def sh(*args, **kw):
    subprocess.run([str(a) for a in args], check=True, stdout=subprocess.DEVNULL, **kw)


def fill(root, files, rng):
    """Writes the tree under `root`: d<NN>/f<NNNNN>/file<NNN>.bin, in a
    shuffled order, as a volume that has been in use holds its files: a
    folder's records do not follow its index order."""
    pool = rng.randbytes(1 << 20)
    order = list(range(files))
    rng.shuffle(order)
    for n in order:
        folder, i = divmod(n, PER_FOLDER)
        rel = os.path.join(f"d{folder // 100:03d}", f"f{folder:05d}")
        os.makedirs(os.path.join(root, rel), exist_ok=True)
        size = rng.choice(SIZES)
        at = rng.randrange(len(pool) - size)
        with open(os.path.join(root, rel, f"file{i:03d}.bin"), "wb") as f:
            f.write(pool[at:at + size])


def volume_mb(kind, files):
    # Room for every file's record and cluster (NTFS) and the folders, with
    # some slack. A FAT32 volume is left half free, as a used disk is: the
    # passes that search free space have some to search.
    per_file = 9.2 if kind == "fat32" else 3.2
    return int(files * per_file / 1024) + 256


def build_ntfs(path, files, rng, work):
    sh("truncate", "-s", f"{volume_mb('ntfs', files)}M", path)
    sh("mkntfs", "-F", "-Q", "-q", "-L", "BENCH", path)
    mnt = tempfile.mkdtemp(dir=work)
    sh("ntfs-3g", path, mnt)
    try:
        fill(mnt, files, rng)
    finally:
        sh("umount", mnt)


def build_fat32(path, files, rng, work):
    stage = os.path.join(work, "stage")
    fill(stage, files, rng)
    sh("truncate", "-s", f"{volume_mb('fat32', files)}M", path)
    sh("mkfs.fat", "-F", "32", "-s", "8", "-n", "BENCH", path)
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    for top in sorted(os.listdir(stage)):
        sh("mcopy", "-s", "-i", path, os.path.join(stage, top), "::/", env=env)
    shutil.rmtree(stage)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--files", type=int, required=True)
    ap.add_argument("--kinds", default="ntfs,fat32")
    ap.add_argument("--seed", type=int, default=3)
    a = ap.parse_args()
    os.makedirs(a.out, exist_ok=True)
    for kind in a.kinds.split(","):
        start = time.time()
        path = os.path.join(a.out, f"{kind}-{a.files}.img")
        work = tempfile.mkdtemp(prefix="bench-", dir=a.out)
        try:
            {"ntfs": build_ntfs, "fat32": build_fat32}[kind](path, a.files, random.Random(a.seed), work)
        finally:
            shutil.rmtree(work, ignore_errors=True)
        print(f"{path}: {a.files} files in {time.time() - start:.0f} s", flush=True)


if __name__ == "__main__":
    main()
