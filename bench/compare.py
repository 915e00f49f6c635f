#!/usr/bin/env python3
"""Whole-process comparison of tessary-cli with copying and with the general
image converters a user would reach for instead.

Generates its inputs under a temporary folder, times every tool on every
input in interleaved repetitions (wall time and peak resident memory of the
process), reads every tool's output back to check it, and prints one table
of medians with the ratio to `cp`, then the targets and whether they are met.

Inputs:
  raw256  8192 x 8192 32-bit top-down uncompressed (256 MiB)
  rle256  the same picture run-length encoded (long runs and noise)
  cmap    4096 x 4096 8-bit colour-mapped with a 16-bit colour map
  batch   2000 files of 256 x 256 24-bit in mixed variants (run-length,
          top-down, right-to-left, image ID, footer), as one folder
  inplace the same 2000 files repaired in place (the destination is the
          folder that holds them, refilled before every run, untimed),
          against `cp -r` over them followed by `sync`
  memcap  a 40000 x 30000 32-bit top-down file (4.6 GiB, sparse) converted
          under a 1 GiB address-space limit (RLIMIT_AS), checked row by
          row; tessary-cli only, once (it writes 4.6 GiB)

A correct output is the normal form: the same picture, uncompressed (or
run-length for --rle), rows bottom-up from left to right, the input's pixel
depth (so alpha is kept), and for colour-mapped input a colour-mapped file
whose colours are the input's (a 5-bit channel may be widened to 8 bits in
any way that keeps its 5 bits on top: v << 3, v << 3 | v >> 2, rounding).

Every run also reports its CPU time (user + system, of the process and
what it waited for): on a machine shared with other work, wall time swings
with the load and CPU time shows the work done.

Standard library only. Installs nothing; peers that are absent are skipped.
"""

import argparse
import hashlib
import os
import random
import resource
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

# ---------------------------------------------------------------- pictures


class Picture:
    """What a correct output must show: one digest per row of the picture
    as displayed (top row first), over the row's colours in B, G, R(, A)
    order, plus what kind of file it must be."""

    def __init__(self, width, height, depth, colour_mapped=False):
        self.width = width
        self.height = height
        self.depth = depth
        self.colour_mapped = colour_mapped
        self.rows = []  # digests, top row first


def stretches(rng, width):
    """Alternating runs (16 to 527 pixels) and noise (8 to 135 pixels)."""
    x = 0
    run = rng.random() < 0.5
    while x < width:
        n = min(width - x, rng.randint(16, 527) if run else rng.randint(8, 135))
        yield run, n
        x += n
        run = not run


def rle_run(pixel, n):
    out = bytearray()
    while n > 0:
        k = min(n, 128)
        if k == 1:
            out += b"\x00" + pixel
        else:
            out += bytes([0x80 | (k - 1)]) + pixel
        n -= k
    return out


def rle_raw(data, bpp):
    out = bytearray()
    step = 128 * bpp
    for i in range(0, len(data), step):
        chunk = data[i : i + step]
        out.append(len(chunk) // bpp - 1)
        out += chunk
    return out


def make_row(rng, width, bpp, want_rle):
    raw = bytearray()
    rle = bytearray() if want_rle else None
    for run, n in stretches(rng, width):
        if run:
            pixel = rng.randbytes(bpp)
            raw += pixel * n
            if want_rle:
                rle += rle_run(pixel, n)
        else:
            noise = rng.randbytes(n * bpp)
            raw += noise
            if want_rle:
                rle += rle_raw(noise, bpp)
    return bytes(raw), rle


def mirror(row, bpp):
    """The row's pixels in the opposite order, bytes within a pixel kept."""
    out = bytearray(len(row))
    for i in range(bpp):
        out[i::bpp] = row[i::bpp][::-1]
    return bytes(out)


def digest(data):
    return hashlib.sha1(data).digest()


def tga_header(image_type, width, height, depth, descriptor, id_length=0, cmap=None):
    cmap_type, first, length, entry = (0, 0, 0, 0) if cmap is None else (1, 0) + cmap
    return struct.pack(
        "<BBBHHBHHHHBB",
        id_length,
        cmap_type,
        image_type,
        first,
        length,
        entry,
        0,
        0,
        width,
        height,
        depth,
        descriptor,
    )


FOOTER = struct.pack("<II", 0, 0) + b"TRUEVISION-XFILE.\x00"


def make_big_pair(folder, seed):
    """raw256 (top-down, uncompressed) and rle256 (top-down, run-length)."""
    rng = random.Random(seed)
    width = height = 8192
    picture = Picture(width, height, 32)
    raw_path = os.path.join(folder, "raw256.tga")
    rle_path = os.path.join(folder, "rle256.tga")
    with open(raw_path, "wb") as raw_file, open(rle_path, "wb") as rle_file:
        raw_file.write(tga_header(2, width, height, 32, 0x28))
        rle_file.write(tga_header(10, width, height, 32, 0x28))
        for _ in range(height):
            raw, rle = make_row(rng, width, 4, True)
            raw_file.write(raw)
            rle_file.write(rle)
            picture.rows.append(digest(raw))
    return raw_path, rle_path, picture


def widen5(v5):
    return v5 << 3


def make_cmap(folder, seed):
    """4096 x 4096 8-bit colour-mapped, bottom-up, 16-bit colour map."""
    rng = random.Random(seed)
    width = height = 4096
    entries = [rng.randrange(0x8000) for _ in range(256)]
    # The picture's colours as 5-bit channels, per index: what a reader must
    # show, whichever way it widens them.
    tables = [
        bytes((e >> shift) & 31 for e in entries) for shift in (0, 5, 10)
    ]  # blue, green, red
    picture = Picture(width, height, 8, colour_mapped=True)
    path = os.path.join(folder, "cmap.tga")
    stored = []
    with open(path, "wb") as f:
        f.write(tga_header(1, width, height, 8, 0, cmap=(256, 16)))
        f.write(struct.pack("<256H", *entries))
        for _ in range(height):
            row, _ = make_row(rng, width, 1, False)
            f.write(row)
            stored.append(colour_digest(row, tables))
    picture.rows = stored[::-1]  # stored bottom-up, listed top row first
    return path, picture


def colour_digest(indices, tables):
    planes = [indices.translate(t) for t in tables]
    return digest(b"".join(planes))


VARIANT_BITS = ("rle", "top-down", "right-to-left", "image ID", "footer")


def make_batch(folder, seed, count):
    """`count` files of 256 x 256 at 24 bits; file i's variant is the bits
    of i: every combination of the five variants occurs."""
    rng = random.Random(seed)
    os.makedirs(folder)
    pictures = {}
    width = height = 256
    for i in range(count):
        rle, top_down, rtl, with_id, footer = ((i >> b) & 1 for b in range(5))
        name = "img%04d.tga" % i
        picture = Picture(width, height, 24)
        body = bytearray()
        shown = []  # in file order
        for _ in range(height):
            stored, packets = make_row(rng, width, 3, bool(rle))
            body += packets if rle else stored
            shown.append(digest(mirror(stored, 3) if rtl else stored))
        display = shown if top_down else shown[::-1]
        ident = b"made by compare.py #%d" % i if with_id else b""
        descriptor = (0x20 if top_down else 0) | (0x10 if rtl else 0)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(tga_header(10 if rle else 2, width, height, 24, descriptor, len(ident)))
            f.write(ident)
            f.write(body)
            if footer:
                f.write(FOOTER)
        picture.rows = display
        pictures[name] = picture
    return pictures


MEMCAP_WIDTH, MEMCAP_HEIGHT = 40000, 30000
MEMCAP_LIMIT = 1 << 30


def make_memcap(folder):
    """A sparse 40000 x 30000 x 32 top-down file: stored row r begins with
    the bytes of r + 1 (little-endian), the rest of it is zero."""
    path = os.path.join(folder, "memcap.tga")
    row = MEMCAP_WIDTH * 4
    with open(path, "wb") as f:
        f.write(tga_header(2, MEMCAP_WIDTH, MEMCAP_HEIGHT, 32, 0x20))
        for r in range(MEMCAP_HEIGHT):
            f.seek(18 + r * row)
            f.write(struct.pack("<I", r + 1))
        f.truncate(18 + MEMCAP_HEIGHT * row)
    return path


def check_memcap(path):
    """The output must be the same rows bottom-up: output row k is stored
    row H-1-k. Checks the size, the header and every row's first 8 bytes,
    and every 1000th row whole."""
    row = MEMCAP_WIDTH * 4
    try:
        size = os.path.getsize(path)
        if size != 18 + MEMCAP_HEIGHT * row:
            return "size %d" % size
        with open(path, "rb") as f:
            if f.read(18) != tga_header(2, MEMCAP_WIDTH, MEMCAP_HEIGHT, 32, 0):
                return "header differs"
            for k in range(MEMCAP_HEIGHT):
                f.seek(18 + k * row)
                whole = k % 1000 == 0
                data = f.read(row if whole else 8)
                if data[:8] != struct.pack("<II", MEMCAP_HEIGHT - k, 0):
                    return "row %d differs" % k
                if whole and data[8:].count(0) != row - 8:
                    return "row %d differs" % k
    except OSError:
        return "no output"
    return None


# ---------------------------------------------------------------- checking


class Wrong(Exception):
    pass


def decode_rle(data, offset, count, bpp):
    """`count` pixels of run-length packets from data[offset:]."""
    out = bytearray()
    need = count * bpp
    while len(out) < need:
        if offset >= len(data):
            raise Wrong("truncated")
        h = data[offset]
        offset += 1
        n = (h & 0x7F) + 1
        if h & 0x80:
            out += data[offset : offset + bpp] * n
            offset += bpp
        else:
            out += data[offset : offset + n * bpp]
            offset += n * bpp
    if len(out) != need:
        raise Wrong("packets cross the end of the pixels")
    return bytes(out), offset


TO_FIVE = bytes(v >> 3 for v in range(256))


def check(path, picture, rle_expected):
    """Reads one output back; answers None when it is right, else what is
    wrong with it."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return "no output"
    if len(data) < 18:
        return "not a TGA file"
    (id_len, cmap_type, image_type, first, cmap_len, entry, _, _, width, height, depth, desc) = (
        struct.unpack_from("<BBBHHBHHHHBB", data)
    )
    faults = []
    if (width, height) != (picture.width, picture.height):
        return "size %dx%d" % (width, height)
    if id_len:
        faults.append("image ID kept")
    is_rle = image_type >= 8
    if is_rle != rle_expected:
        faults.append("run-length" if is_rle else "not run-length")
    if desc & 0x20:
        faults.append("top-down origin kept")
    if desc & 0x10:
        faults.append("right-to-left order kept")
    offset = 18 + id_len
    palette_tables = None
    entry_bytes = (entry + 7) // 8 if cmap_type else 0
    cmap_bytes = data[offset : offset + cmap_len * entry_bytes]
    offset += cmap_len * entry_bytes
    bpp = depth // 8
    if picture.colour_mapped:
        if image_type & 7 == 1 and depth == 8 and cmap_type:
            if entry != 24:
                faults.append("%d-bit colour map" % entry)
            if entry in (24, 32):
                chans = [bytearray(256) for _ in range(3)]
                for i in range(cmap_len):
                    e = cmap_bytes[i * entry_bytes : i * entry_bytes + 3]
                    for c in range(3):
                        if first + i < 256:
                            chans[c][first + i] = e[c]
                palette_tables = [bytes(ch).translate(TO_FIVE) for ch in chans]
            else:
                return ", ".join(faults + ["colour map unreadable here"])
        else:
            faults.append("palette lost (%d-bit type %d)" % (depth, image_type))
    elif depth != picture.depth:
        faults.append(
            "alpha dropped" if picture.depth == 32 and depth == 24 else "depth %d" % depth
        )
    if bpp not in (1, 2, 3, 4):
        return ", ".join(faults + ["depth %d" % depth])

    row_bytes = width * bpp
    try:
        if is_rle:
            pixels, _ = decode_rle(data, offset, width * height, bpp)
        else:
            pixels = data[offset : offset + row_bytes * height]
            if len(pixels) != row_bytes * height:
                raise Wrong("truncated")
    except Wrong as fault:
        return ", ".join(faults + [str(fault)])
    stored = [pixels[i * row_bytes : (i + 1) * row_bytes] for i in range(height)]
    display = stored if desc & 0x20 else stored[::-1]

    def row_key(row):
        if picture.colour_mapped:
            if palette_tables is not None:
                return colour_digest(row, palette_tables)
            if bpp >= 3:
                planes = [row[c::bpp].translate(TO_FIVE) for c in range(3)]
                return digest(b"".join(planes))
            return None
        if bpp != picture.depth // 8:
            return None
        return digest(row)

    def keys(rows, mirrored):
        out = []
        for r in rows:
            if mirrored:
                r = mirror(r, bpp)
            out.append(row_key(r))
        return out

    if desc & 0x10:
        seen = keys(display, True)
    else:
        seen = keys(display, False)
    if seen != picture.rows and None not in seen:
        if seen[::-1] == picture.rows:
            faults.append("upside down")
        elif keys(display, not (desc & 0x10)) == picture.rows:
            faults.append("mirrored")
        else:
            faults.append("pixels differ")
    return ", ".join(faults) if faults else None


# ---------------------------------------------------------------- tools


def find_pillow_python():
    for candidate in (sys.executable, "/usr/bin/python3", shutil.which("python3")):
        if candidate and os.path.exists(candidate):
            probe = subprocess.run(
                [candidate, "-c", "import PIL.Image"],
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
            )
            if probe.returncode == 0:
                return candidate
    return None


PILLOW_SCRIPT = r"""
import os, sys
from PIL import Image
out = sys.argv[1]
for path in sys.argv[2:]:
    try:
        with Image.open(path) as im:
            im.save(os.path.join(out, os.path.basename(path)))
    except Exception as e:
        print(path, e, file=sys.stderr)
"""


def find_first(*names):
    for name in names:
        if os.path.isabs(name):
            if os.access(name, os.X_OK):
                return name
        else:
            found = shutil.which(name)
            if found:
                return found
    return None


def default_cli(repo):
    """The newest tessary-cli under build/*/ from an optimised build without
    sanitizers, since a debug or instrumented one would time its
    instrumentation."""
    build = os.path.join(repo, "build")
    best = None
    if os.path.isdir(build):
        for entry in sorted(os.listdir(build)):
            path = os.path.join(build, entry, "app", "cli", "tessary-cli")
            if not os.access(path, os.X_OK) or not optimised_build(os.path.join(build, entry)):
                continue
            mtime = os.path.getmtime(path)
            if best is None or mtime > best[0]:
                best = (mtime, path)
    return best[1] if best else None


def optimised_build(folder):
    try:
        with open(os.path.join(folder, "CMakeCache.txt"), errors="replace") as f:
            cache = f.read()
    except OSError:
        return False
    if "fsanitize" in cache or "CMAKE_CROSSCOMPILING_EMULATOR" in cache:
        return False
    for line in cache.splitlines():
        if line.startswith("CMAKE_BUILD_TYPE:"):
            return line.split("=", 1)[1] in ("Release", "RelWithDebInfo", "MinSizeRel")
    return False


class Tool:
    """One way of producing the outputs of one case. `command(inputs,
    out_dir)` builds the argument list; `files` tells whether the output is
    one file per input, checked, or only timed (the copy)."""

    def __init__(self, name, command, checked=True, rle=False, in_folder=False, ok_codes=(0,)):
        self.name = name
        self.command = command
        self.checked = checked
        self.rle = rle
        self.in_folder = in_folder  # run inside the input folder, on bare names
        self.ok_codes = ok_codes  # exit codes that are no failure


def tools_for(case, cli, cli_has_jobs, convert, mogrify, gm, pillow, before=None):
    tools = tools_of(case, cli, cli_has_jobs, convert, mogrify, gm, pillow)
    if before and cli:
        # The same runs of an earlier build, interleaved with this one's.
        for tool in list(tools):
            if tool.name.startswith("tessary-cli"):
                tools.append(Tool(tool.name + " (before)",
                                  lambda i, o, command=tool.command: [before] + command(i, o)[1:],
                                  tool.checked, tool.rle, tool.in_folder, tool.ok_codes))
    return tools


def tools_of(case, cli, cli_has_jobs, convert, mogrify, gm, pillow):
    if case == "inplace":
        # i[0] holds the pristine files, o the folder refilled with them.
        tools = [Tool("cp -r + sync", lambda i, o: ["sh", "-c", 'cp -r "$0"/. "$1" && sync', i[0], o],
                      checked=False)]
        if shutil.which("rsync"):
            # rsync replaces as Tessary does: a temporary file renamed over
            # the old one (-I: every file, though size and time match).
            tools.append(Tool("rsync -rI + sync", lambda i, o: [
                "sh", "-c", 'rsync -rI "$0"/ "$1"/ && sync', i[0], o], checked=False))
        if cli:
            tools.append(Tool("tessary-cli", lambda i, o: [cli, "-q", "-o", o, o]))
            if cli_has_jobs:
                tools.append(Tool("tessary-cli -j 1", lambda i, o: [cli, "-q", "-j", "1", "-o", o, o]))
        return tools
    if case == "memcap":
        return [Tool("tessary-cli", lambda i, o: [cli, "-q", "-j", "1", "-o", o, i[0]])] if cli else []
    single = case != "batch"
    tools = []
    if single:
        tools.append(Tool("cp", lambda i, o: ["cp", i[0], o], checked=False))
    else:
        tools.append(Tool("cp -r", lambda i, o: ["cp", "-r", i[0], o], checked=False))
    if cli:
        if single:
            tools.append(Tool("tessary-cli", lambda i, o: [cli, "-q", "-o", o, i[0]]))
            tools.append(
                Tool("tessary-cli --rle", lambda i, o: [cli, "-q", "--rle", "-o", o, i[0]], rle=True)
            )
        else:
            tools.append(Tool("tessary-cli", lambda i, o: [cli, "-q", "-o", o, i[0]]))
            if cli_has_jobs:
                tools.append(Tool("tessary-cli -j 1", lambda i, o: [cli, "-q", "-j", "1", "-o", o, i[0]]))
            tools.append(
                Tool("tessary-cli --rle", lambda i, o: [cli, "-q", "--rle", "-o", o, i[0]], rle=True)
            )
    if cli:
        # Writes nothing; exits 4 when a file is not in normal form.
        tools.append(Tool("tessary-cli --check", lambda i, o: [cli, "-q", "--check", "-r", i[0]],
                          checked=False, ok_codes=(0, 4)))
    if single:
        if convert:
            tools.append(
                Tool(
                    "ImageMagick convert",
                    lambda i, o: [convert, i[0], "-compress", "none", os.path.join(o, os.path.basename(i[0]))],
                )
            )
        if gm:
            tools.append(
                Tool(
                    "GraphicsMagick convert",
                    lambda i, o: [gm, "convert", i[0], "-compress", "none", os.path.join(o, os.path.basename(i[0]))],
                )
            )
    else:
        if mogrify:
            tools.append(
                Tool(
                    "ImageMagick mogrify",
                    lambda i, o: [mogrify, "-path", o, "-compress", "none"] + i[2],
                    in_folder=True,
                )
            )
        if gm:
            tools.append(
                Tool(
                    "GraphicsMagick mogrify",
                    lambda i, o: [gm, "mogrify", "-output-directory", o, "-compress", "none"] + i[2],
                    in_folder=True,
                )
            )
    if pillow:
        tools.append(
            Tool("Pillow", lambda i, o: [pillow, "-c", PILLOW_SCRIPT, o] + (i[1] if not single else [i[0]]))
        )
    return tools


GNU_TIME = "/usr/bin/time"


def run_timed(argv, cwd, scratch, address_space=None):
    """Wall seconds and peak resident KiB of one process.

    A child forked from this script starts with the script's own resident
    size as its high-water mark, so the peak is taken by GNU time, a small
    process, when it is installed. Without it the peak comes from wait4 and
    is at least this script's size (marked with >=)."""
    measured = os.path.join(scratch, "peak.txt")
    use_time = os.access(GNU_TIME, os.X_OK)
    if use_time:
        argv = [GNU_TIME, "-f", "%M", "-o", measured, "--"] + argv
    stderr_path = os.path.join(scratch, "stderr.txt")
    with open(stderr_path, "wb") as err_file:
        limit = None
        if address_space:
            def limit():
                resource.setrlimit(resource.RLIMIT_AS, (address_space, address_space))
        start = time.perf_counter()
        proc = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=err_file,
                                preexec_fn=limit)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - start
    cpu = usage.ru_utime + usage.ru_stime
    proc.returncode = os.waitstatus_to_exitcode(status)
    with open(stderr_path, "rb") as err_file:
        err = err_file.read().decode(errors="replace")
    peak, floor = usage.ru_maxrss, True
    if use_time:
        try:
            with open(measured) as f:
                lines = [line for line in f.read().split() if line.isdigit()]
            peak, floor = int(lines[-1]), False
        except (OSError, IndexError):
            pass
    return wall, cpu, (peak, floor), proc.returncode, err


# ---------------------------------------------------------------- main


def fmt_mem(peak):
    kib, floor = peak if isinstance(peak, tuple) else (peak, False)
    text = "%.1f MiB" % (kib / 1024.0) if kib >= 1024 else "%d KiB" % kib
    return (">= " if floor else "") + text


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    repo = os.path.dirname(here)
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument(
        "--cli",
        help="tessary-cli to time (default: the newest under build/*/app/cli of an optimised build without sanitizers)",
    )
    ap.add_argument("--reps", type=int, default=5, help="repetitions of each tool on each input (default 5)")
    ap.add_argument("--batch-reps", type=int, default=None, help="repetitions on the batch (default: --reps)")
    ap.add_argument("--cases", default="raw256,rle256,cmap,batch,inplace,memcap", help="comma-separated subset")
    ap.add_argument("--batch-files", type=int, default=2000)
    ap.add_argument("--no-peers", action="store_true", help="time only cp and tessary-cli")
    ap.add_argument("--tmp", help="folder for the temporary folder (default: the system's)")
    ap.add_argument("--keep", action="store_true", help="keep the temporary folder")
    ap.add_argument("--cli-before", help="an earlier tessary-cli, timed beside --cli in the same runs")
    args = ap.parse_args()

    cli = args.cli or default_cli(repo)
    if cli and not os.access(cli, os.X_OK):
        sys.exit("not an executable: %s" % cli)
    cli_has_jobs = False
    if cli:
        help_text = subprocess.run([cli, "--help"], capture_output=True, text=True).stdout
        cli_has_jobs = "--jobs" in help_text
    peers = not args.no_peers
    convert = find_first("magick", "/usr/bin/convert", "convert") if peers else None
    mogrify = find_first("/usr/bin/mogrify", "mogrify") if peers else None
    gm = find_first("gm") if peers else None
    pillow = find_pillow_python() if peers else None
    cases = [c for c in args.cases.split(",") if c]

    root = tempfile.mkdtemp(prefix="tessary-compare-", dir=args.tmp)
    print("temporary folder:", root)
    print("tessary-cli:", cli or "absent")
    print("peers:", ", ".join(
        "%s=%s" % (n, p or "absent")
        for n, p in (("convert", convert), ("mogrify", mogrify), ("gm", gm), ("pillow", pillow))
    ))
    try:
        inputs = os.path.join(root, "in")
        os.makedirs(inputs)
        t0 = time.perf_counter()
        case_inputs = {}
        pictures = {}
        if "raw256" in cases or "rle256" in cases:
            raw_path, rle_path, big = make_big_pair(inputs, 1)
            case_inputs["raw256"] = raw_path
            case_inputs["rle256"] = rle_path
            pictures["raw256"] = pictures["rle256"] = {"raw256.tga": big, "rle256.tga": big}
        if "cmap" in cases:
            path, picture = make_cmap(inputs, 2)
            case_inputs["cmap"] = path
            pictures["cmap"] = {"cmap.tga": picture}
        if "batch" in cases or "inplace" in cases:
            folder = os.path.join(inputs, "batch")
            pictures["batch"] = pictures["inplace"] = make_batch(folder, 3, args.batch_files)
            case_inputs["batch"] = case_inputs["inplace"] = folder
        if "memcap" in cases:
            case_inputs["memcap"] = make_memcap(inputs)
        print("inputs generated in %.1f s" % (time.perf_counter() - t0))

        results = {}  # (case, tool) -> list of (wall, kib)
        verdicts = {}  # (case, tool) -> (wrong count, total, reasons)
        failures = {}
        out_root = os.path.join(root, "out")
        for case in cases:
            src = case_inputs[case]
            if case in ("batch", "inplace"):
                files = sorted(os.path.join(src, n) for n in os.listdir(src))
                inp = (src, files, [os.path.basename(f) for f in files])
            else:
                inp = (src, [src], [os.path.basename(src)])
            tools = tools_for(case, cli, cli_has_jobs, convert, mogrify, gm, pillow, args.cli_before)
            reps = args.batch_reps if (case in ("batch", "inplace") and args.batch_reps) else args.reps
            if case == "memcap":
                reps = 1
                # The first conversion after the file is made costs the kernel
                # several times more, whichever tool makes it (seen: 15 s of
                # system time, then 4 s); it falls on no timed run.
                if tools:
                    shutil.rmtree(out_root, ignore_errors=True)
                    os.makedirs(out_root)
                    run_timed(tools[0].command(inp, out_root), None, root, MEMCAP_LIMIT)
            for rep in range(reps):
                for tool in tools:
                    shutil.rmtree(out_root, ignore_errors=True)
                    if case == "inplace":
                        shutil.copytree(src, out_root)  # the files to repair, untimed
                    elif tool.name != "cp -r":
                        os.makedirs(out_root)
                    os.sync()  # earlier outputs' write-back must not land on this run
                    cwd = src if tool.in_folder else None
                    limit = MEMCAP_LIMIT if case == "memcap" else None
                    wall, cpu, kib, code, err = run_timed(tool.command(inp, out_root), cwd, root, limit)
                    results.setdefault((case, tool.name), []).append((wall, cpu, kib))
                    if code not in tool.ok_codes:
                        failures[(case, tool.name)] = "exit %d: %s" % (code, err.strip()[:200])
                    if rep == 0 and tool.checked:
                        if case == "memcap":
                            fault = check_memcap(os.path.join(out_root, "memcap.tga"))
                            verdicts[(case, tool.name)] = ({"memcap.tga": fault} if fault else {}, 1)
                        else:
                            verdicts[(case, tool.name)] = check_case(case, out_root, pictures[case], tool.rle)
                    print("  %-8s %-24s rep %d: %.3f s, cpu %.3f s, %s" % (
                        case, tool.name, rep + 1, wall, cpu, fmt_mem(kib)), flush=True)
            shutil.rmtree(out_root, ignore_errors=True)
        report(cases, results, verdicts, failures, pictures)
    finally:
        if args.keep:
            print("kept", root)
        else:
            shutil.rmtree(root, ignore_errors=True)


def check_case(case, out_root, pictures, rle):
    wrong = {}
    if case in ("batch", "inplace"):
        for name, picture in pictures.items():
            fault = check(os.path.join(out_root, name), picture, rle)
            if fault:
                wrong[name] = fault
    else:
        name = os.path.basename(case) + ".tga"
        fault = check(os.path.join(out_root, name), pictures[name], rle)
        if fault:
            wrong[name] = fault
    return wrong, len(pictures) if case in ("batch", "inplace") else 1


CASE_TITLES = {
    "raw256": "8192x8192x32 top-down uncompressed (256 MiB)",
    "rle256": "same picture run-length encoded",
    "cmap": "4096x4096x8 colour-mapped, 16-bit colour map",
    "batch": "2000 files 256x256x24, mixed variants",
    "inplace": "the same 2000 files repaired in place",
    "memcap": "40000x30000x32 top-down (4.6 GiB) under a 1 GiB address-space limit",
}


def summarise_faults(wrong):
    counts = {}
    for fault in wrong.values():
        counts[fault] = counts.get(fault, 0) + 1
    return "; ".join("%s: %d" % (f, n) for f, n in sorted(counts.items(), key=lambda kv: -kv[1]))


def report(cases, results, verdicts, failures, pictures):
    med = {
        k: (statistics.median(w for w, _, _ in v), statistics.median(c for _, c, _ in v),
            max(m for _, _, m in v), len(v))
        for k, v in results.items()
    }
    # peaks are (KiB, is-only-a-floor) pairs; max() compares the KiB first

    def floor_tool(case):
        return {"batch": "cp -r", "inplace": "cp -r + sync"}.get(case, "cp")

    def floor_key(case):
        return ("raw256", "cp") if case == "rle256" and ("raw256", "cp") in med else (case, floor_tool(case))

    def floor(case):
        """The floor's (wall, cpu), or None."""
        key = floor_key(case)
        return med[key][:2] if key in med else None

    def paired(case, tool, index, against=None):
        """The median over repetitions of the tool's time over the floor's
        (or the tool `against`'s) in the same repetition (0: wall, 1: CPU):
        on a loaded machine a ratio of one run to its neighbour swings less
        than one of medians."""
        key = (case, against) if against else floor_key(case)
        if key not in results or (case, tool) not in results:
            return None
        pairs = [t[index] / f[index] for t, f in zip(results[(case, tool)], results[key]) if f[index] > 0]
        return statistics.median(pairs) if pairs else None

    print()
    print("| input | tool | median wall | x floor | median CPU | x floor CPU | peak RSS | output check |")
    print("|---|---|---:|---:|---:|---:|---:|---|")
    for case in cases:
        base = floor(case)
        for (c, tool), (wall, cpu, kib, n) in med.items():
            if c != case:
                continue
            if (c, tool) in verdicts:
                wrong, total = verdicts[(c, tool)]
                check_text = "right" if not wrong else "%d of %d wrong (%s)" % (len(wrong), total, summarise_faults(wrong))
            else:
                check_text = "(floor)"
            if (c, tool) in failures:
                check_text += "; " + failures[(c, tool)]
            wall_ratio, cpu_ratio = paired(c, tool, 0), paired(c, tool, 1)
            ratio = "%.2f" % wall_ratio if wall_ratio is not None else "-"
            cpu_ratio = "%.2f" % cpu_ratio if cpu_ratio is not None else "-"
            print("| %s | %s | %.3f s | %s | %.3f s | %s | %s | %s |" % (
                case, tool, wall, ratio, cpu, cpu_ratio, fmt_mem(kib), check_text))
    print()
    print("x floor: against cp of the same input (batch: cp -r; inplace: cp -r over the files,")
    print("then sync); for rle256 against cp of raw256 (the same picture uncompressed);")
    print("medians of the ratios paired repetition by repetition.")
    print("Medians of %s repetitions, interleaved; peak RSS is the largest of the repetitions." % (
        "/".join(sorted({str(n) for _, _, _, n in med.values()}))))
    print()
    targets(cases, med, verdicts, paired)


def targets(cases, med, verdicts, paired):
    def ratio(case, tool):
        return paired(case, tool, 0)

    def right(case, tool):
        return (case, tool) in verdicts and not verdicts[(case, tool)][0]

    rows = []

    def add(text, value, limit, unit="x"):
        if value is None:
            rows.append((text, "not measured", "-"))
            return
        rows.append((text, "%.2f %s" % (value, unit), "met" if value <= limit else "missed by %.0f%%" % (100 * (value / limit - 1))))

    if "raw256" in cases:
        add("raw256 to a fresh path <= 1.10 x cp", ratio("raw256", "tessary-cli"), 1.10)
    if "rle256" in cases:
        add("rle256 to a fresh path <= 1.30 x cp of raw256", ratio("rle256", "tessary-cli"), 1.30)
    if "cmap" in cases:
        add("cmap <= 1.30 x cp", ratio("cmap", "tessary-cli"), 1.30)
    if "batch" in cases:
        add("batch into an empty folder, default jobs <= 1.15 x cp -r", ratio("batch", "tessary-cli"), 1.15)
    if "inplace" in cases:
        add("batch in place, default jobs <= 1.3 x (cp -r + sync)", ratio("inplace", "tessary-cli"), 1.3)
        add("batch in place, -j 1 <= 1.6 x (cp -r + sync)", ratio("inplace", "tessary-cli -j 1"), 1.6)
        if ("inplace", "rsync -rI + sync") in med:
            add("batch in place, default jobs <= 1.0 x (rsync -rI + sync)",
                paired("inplace", "tessary-cli", 0, "rsync -rI + sync"), 1.0)
    for case in ("raw256", "rle256"):
        for tool in ("tessary-cli", "tessary-cli --rle", "tessary-cli --check"):
            if case in cases and (case, tool) in med:
                kib = med[(case, tool)][2][0]
                add("%s peak RSS, %s <= 24 MiB" % (case, tool), kib / 1024.0, 24.0, "MiB")
    if "memcap" in cases and ("memcap", "tessary-cli") in med:
        ok = right("memcap", "tessary-cli")
        rows.append(("4.6 GiB file under a 1 GiB address-space limit converts byte-exact",
                     "%.1f s, %s" % (med[("memcap", "tessary-cli")][0], fmt_mem(med[("memcap", "tessary-cli")][2])),
                     "met" if ok else "missed"))
    for case in ("raw256", "rle256", "cmap"):
        if case not in cases or (case, "tessary-cli") not in med:
            continue
        peers = [
            med[(c, t)][0]
            for (c, t) in med
            if c == case and not t.startswith("tessary") and t != "cp" and right(c, t)
        ]
        if peers:
            slower = min(peers) / med[(case, "tessary-cli")][0]
            rows.append(("%s: the fastest correct peer >= 4.5 x slower" % case, "%.1f x" % slower,
                         "met" if slower >= 4.5 else "missed"))
    if "batch" in cases and ("batch", "tessary-cli") in med:
        rows.append(("batch peak RSS (default jobs)", fmt_mem(med[("batch", "tessary-cli")][2]), "-"))
    print("| target | measured | verdict |")
    print("|---|---:|---|")
    for text, value, verdict in rows:
        print("| %s | %s | %s |" % (text, value, verdict))


if __name__ == "__main__":
    main()
