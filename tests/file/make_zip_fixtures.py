#!/usr/bin/env python3
"""Writes the zip source's differential fixtures into OUTDIR.

OUTDIR/tree/ holds a tree of files (plain bytes, typed files with a common
file head, a configuration and a table file, names in several cases and
one outside ASCII); beside it the same tree as zip archives written by
other tools: Python's zipfile stored, deflated and deflated with ZIP64
records for every entry, and, when ZIP is given, one by that command.
The output is the same for the same script, so the tests may be rebuilt.
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import zipfile


def type_value(letters):
    return int.from_bytes(letters.encode("ascii") + b"\0", "little")


def file_head(letters, version, groups, extra):
    out = struct.pack("<III", type_value(letters), version, len(groups))
    for group, names in groups:
        out += struct.pack("<II", type_value(group), len(names))
        for name in names:
            units = name.encode("utf-16-le")
            out += struct.pack("<I", len(units) // 2) + units
    return out + struct.pack("<I", len(extra)) + extra


def make_tree(rng):
    def noise(size):
        return bytes(rng.getrandbits(8) for _ in range(size))

    words = [b"stone", b"torch", b"shield", b"dragon", b"gold", b"\n"]
    text = b" ".join(rng.choice(words) for _ in range(60000))
    files = {
        "Textures/Stone.tex": file_head("tex", 3, [("mtr", ["stone.mtr"])], noise(8)) + noise(5000),
        "Textures/big.tex": file_head("tex", 1, [], b"") + text,
        "materials/head-only.mtr": file_head("mtr", 1, [("tex", ["a", "b"])], b""),
        "materials/extra-only.mtr": file_head("mtr", 2, [], noise(40)),
        "config/game.ini": b"[video]\nwidth=1280\nheight=720\n[audio]\nvolume=0.5\n",
        "config/items.tab": b"id\tname\tprice\n1\tsword\t30\n2\tshield\t20\n",
        "data/empty.bin": b"",
        "data/one.bin": b"x",
        "data/random-70k.bin": noise(70000),
        "data/text.txt": text,
        "data/Mixed Case/\u00dcber Stra\u00dfe.dat": noise(300),
    }
    for index in range(24):
        files["many/file%02d.bin" % index] = noise(rng.randrange(0, 3000))
    return files


def write_zip(path, files, method, zip64):
    with zipfile.ZipFile(path, "w", compression=method) as archive:
        for name in sorted(files):
            info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
            info.compress_type = method
            with archive.open(info, "w", force_zip64=zip64) as entry:
                entry.write(files[name])


def main():
    out = sys.argv[1]
    zip_command = sys.argv[2] if len(sys.argv) > 2 else ""
    files = make_tree(random.Random(30))
    tree = os.path.join(out, "tree")
    shutil.rmtree(out, ignore_errors=True)
    for name, data in files.items():
        path = os.path.join(tree, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as handle:
            handle.write(data)
    write_zip(os.path.join(out, "stored.zip"), files, zipfile.ZIP_STORED, False)
    write_zip(os.path.join(out, "deflated.zip"), files, zipfile.ZIP_DEFLATED, False)
    write_zip(os.path.join(out, "zip64.zip"), files, zipfile.ZIP_DEFLATED, True)
    if zip_command:
        target = os.path.abspath(os.path.join(out, "command.zip"))
        subprocess.run([zip_command, "-q", "-r", "-X", target, "."], cwd=tree, check=True)
    with open(os.path.join(out, "names.txt"), "w", encoding="utf-8") as names:
        for name in sorted(files):
            names.write(name + "\n")


if __name__ == "__main__":
    main()
