#!/usr/bin/env python3
"""Writes the benchmark inputs: the largest inputs that the programs accept.

    python3 bench/gen.py DATA_DIR

Every input is valid, so each command runs all of its checks to the end.
DATA_DIR/params.sh receives the values the command lines need.
"""
import hashlib
import os
import random
import stat
import struct
import sys

ARCHIVE_LIMIT = 34603008     # bytes of archive the unpacker reads at most
PAYLOAD_LIMIT = 33554432     # bytes of payload all manifest rows together
DELEGATION_LIMIT = 16384
INDEX_LIMIT = 262144

rng = random.Random(8)
HEX = "0123456789abcdef"
ALNUM = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"


def hex64():
    return "".join(rng.choice(HEX) for _ in range(64))


def write(path, data, mode=0o644):
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, mode)


# ---------------------------------------------------------------- archives

def octal(value, width):
    """A ustar number: zero-padded octal digits and one NUL."""
    return b"%0*o\0" % (width - 1, value)


def ustar_header(name, size, mode):
    h = bytearray(512)
    raw = name.encode()
    assert len(raw) < 100
    h[0:len(raw)] = raw
    h[100:108] = octal(mode, 8)
    h[108:116] = octal(0, 8)
    h[116:124] = octal(0, 8)
    h[124:136] = octal(size, 12)
    h[136:148] = octal(1700000000, 12)
    h[156:157] = b"0"
    h[257:263] = b"ustar\0"
    h[263:265] = b"00"
    h[265:269] = b"root"
    h[297:301] = b"root"
    h[329:337] = octal(0, 8)
    h[337:345] = octal(0, 8)
    # The sum counts the checksum field as eight spaces; it is stored as
    # six octal digits, a NUL and a space.
    h[148:156] = b" " * 8
    h[148:156] = b"%06o\0 " % sum(h)
    return bytes(h)


def member(name, data, mode):
    pad = (-len(data)) % 512
    return ustar_header(name, len(data), mode) + data + b"\0" * pad


def payload_paths(count, flat=False):
    """Format 2 install paths 1 to 6 directory levels below usr/share/
    (4 to 9 below the stage, 6.5 on average), or all directly in usr/bin/
    (3 below the stage) when flat; each padded to the 90-byte maximum, in
    strictly increasing byte order."""
    paths = []
    for i in range(count):
        if flat:
            head = "usr/bin/f%04d." % i
        else:
            levels = 1 + (i // 16) % 6
            dirs = ["usr", "share", "pkg%02d" % (i % 16)] + ["sub%d" % k for k in range(1, levels)]
            head = "/".join(dirs) + "/f%04d." % i
        paths.append(head + "x" * (90 - len(head)))
    paths.sort(key=lambda p: p.encode())
    return paths


def content_block():
    return bytes(rng.getrandbits(8) for _ in range(65536))


def payload(size, block):
    whole, rest = divmod(size, len(block))
    return block * whole + block[:rest]


def manifest_text(rows):
    return "".join("f\t%04o\t%d\t%s\t%s\n" % (mode, size, digest, path)
                   for path, mode, size, digest in rows).encode()


def archive(count, member_size, block, flat=False):
    paths = payload_paths(count, flat)
    rows, datas = [], []
    for i, path in enumerate(paths):
        data = payload(member_size, block[i % 7:] + block[:i % 7])
        mode = 0o755 if i % 3 == 0 else 0o644
        rows.append((path, mode, member_size, hashlib.sha256(data).hexdigest()))
        datas.append(data)
    manifest = manifest_text(rows)
    parts = [member("meta", b"format=2\nname=bench\n", 0o644),
             member("files", manifest, 0o644)]
    for (path, mode, _, _), data in zip(rows, datas):
        parts.append(member("data/" + path, data, mode))
    parts.append(b"\0" * 1024)
    tar = b"".join(parts)
    assert len(tar) <= ARCHIVE_LIMIT, len(tar)
    return tar, manifest


# ------------------------------------------------------------- owned list

def owned_list(lines=4096):
    """Every field at its longest: 10-digit numbers, 240-byte paths,
    255-byte link targets (612 bytes a line)."""
    paths = []
    for i in range(lines):
        head = "srv/bench/d%02d/%04d-" % (i % 37, i)
        paths.append(head + "y" * (240 - len(head)))
    paths.sort(key=lambda p: p.encode())
    out = []
    for i, path in enumerate(paths):
        target = "/opt/bench/target-%04d-" % i
        target += "z" * (255 - len(target))
        role = "software" if i % 2 else "config"
        out.append("l\t0777\t%010d\t%010d\t%010d\t%s\t%s\t%s\t%s\n"
                   % (1000000000 + i, 2000000000 + i, 255, hex64(), path, role, target))
    return "".join(out).encode()


# -------------------------------------------------------------------- ELF

LOADER = b"/lib/ld-musl-i386.so.1\0"


def elf_with_needed(names):
    """ELF32 i386 position-independent executable: 64 program headers, the
    musl loader, a 65536-byte dynamic section (the largest accepted) that
    names every library, a string table of the names."""
    phnum = 64
    phoff = 52
    interp_off = phoff + phnum * 32
    strtab_off = interp_off + 32
    strtab = b"\0" + b"".join(n.encode() + b"\0" for n in names)
    offsets, at = [], 1
    for n in names:
        offsets.append(at)
        at += len(n) + 1
    dyn_off = (strtab_off + len(strtab) + 7) & ~7
    dyn_entries = 65536 // 8
    dyn = [(1, o) for o in offsets] + [(5, strtab_off), (10, len(strtab))]
    dyn += [(21, 0)] * (dyn_entries - 1 - len(dyn))   # DT_DEBUG
    dyn.append((0, 0))
    dynamic = b"".join(struct.pack("<II", t, v) for t, v in dyn)
    size = dyn_off + len(dynamic)

    ident = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)
    header = ident + struct.pack("<HHIIIIIHHHHHH", 3, 3, 1, 0, phoff, 0, 0, 52, 32, phnum, 40, 0, 0)
    phdrs = [struct.pack("<IIIIIIII", 3, interp_off, interp_off, interp_off, len(LOADER), len(LOADER), 4, 1),
             struct.pack("<IIIIIIII", 2, dyn_off, dyn_off, dyn_off, len(dynamic), len(dynamic), 6, 4)]
    while len(phdrs) < phnum:
        phdrs.append(struct.pack("<IIIIIIII", 1, 0, 0, 0, size, size, 5, 4096))
    image = bytearray(size)
    image[0:52] = header
    image[phoff:phoff + phnum * 32] = b"".join(phdrs)
    image[interp_off:interp_off + len(LOADER)] = LOADER
    image[strtab_off:strtab_off + len(strtab)] = strtab
    image[dyn_off:dyn_off + len(dynamic)] = dynamic
    return bytes(image)


def library_names(count=64):
    """The longest names the check accepts: 126 bytes each."""
    names = []
    for i in range(count):
        head = "libbench%02d-" % i
        names.append(head + "n" * (126 - len(head) - 5) + ".so.1")
    return names


# ------------------------------------------------------- repository files

def short_names(count):
    """Names of three bytes that all share their first byte, so that no
    comparison can decide on it."""
    names = ["p" + a + b for a in ALNUM for b in ALNUM]
    assert count <= len(names)
    return names[:count]


def delegation_file(abi):
    """As many package lines as fit in the byte limit (1346): the rule
    against repeated names compares each name with all earlier ones."""
    head = ("VESK-DELEGATION\t1\tbench\t3\t100\t4000000000\t%s\ti586\tmusl\tpentium-mmx-audited\n"
            "signer\tssh-ed25519\t%s\n"
            % (abi, "".join(rng.choice(ALNUM + "+/") for _ in range(66)) + "=="))
    line = len("package\tpxx\n")
    names = short_names((DELEGATION_LIMIT - len(head)) // line)
    text = head + "".join("package\t%s\n" % n for n in names)
    assert len(text) <= DELEGATION_LIMIT
    return text.encode(), names


def index_file(abi, deleg_sha, names):
    """As many rows as fit in the byte limit (about 1000: a row takes at
    least 257 bytes), all versions of the last delegated name: the search
    of the delegated names runs to the end of the table each time, and the
    duplicate rule compares every row with every earlier one. The slack
    goes into the descriptions."""
    header = ("VESK-INDEX\t2\tbench\t42\t%s\t0.1\t1999999000\t2000100000\t3\t%s\n" % (abi, deleg_sha))

    def row(i, name, description):
        digest = hashes[i]
        deps = "-" if i % 4 else "%s=1" % names[i % 50]
        return "\t".join([name, "1.%d" % i, str(1 + i), digest, str(1000 + i),
                          digest + ".vesk", "0.1", deps, "i586", "musl", abi, "pentium-mmx-audited",
                          description, "https://", "100"]) + "\n"

    hashes = [hex64() for _ in range(1100)]
    rows = []
    used = len(header)
    name = names[-1]
    for i in range(len(hashes)):
        line = row(i, name, "d")
        if used + len(line) > INDEX_LIMIT:
            break
        rows.append(line)
        used += len(line)
    slack = INDEX_LIMIT - used
    out = [header]
    for i in range(len(rows)):
        extra = slack // len(rows) + (1 if i < slack % len(rows) else 0)
        out.append(row(i, name, "d" * (1 + extra)))
    text = "".join(out)
    assert len(text) == INDEX_LIMIT, len(text)
    return text.encode()


# ------------------------------------------------------------------- main

def make_dir(path):
    os.makedirs(path, exist_ok=True)
    os.chmod(path, 0o755)


def main():
    data = sys.argv[1]
    make_dir(data)
    block = content_block()

    variants = [("unpack-1x0", 1, 0, False), ("unpack-1x32M", 1, PAYLOAD_LIMIT, False),
                ("unpack-64x512K", 64, PAYLOAD_LIMIT // 64, False),
                ("unpack-1024x32K", 1024, PAYLOAD_LIMIT // 1024, False),
                ("unpack-1024x0", 1024, 0, False),
                ("unpack-1024x32K-flat", 1024, PAYLOAD_LIMIT // 1024, True)]
    for name, count, size, flat in variants:
        tar, manifest = archive(count, size, block, flat)
        write(os.path.join(data, name + ".tar"), tar)
        if name == "unpack-1024x32K":
            write(os.path.join(data, "manifest-1024"), manifest)

    write(os.path.join(data, "owned-4096"), owned_list())

    names = library_names()
    write(os.path.join(data, "elf-64needed"), elf_with_needed(names), 0o755)
    root = os.path.join(data, "target-root")
    for sub in ("lib", "usr/lib"):
        make_dir(os.path.join(root, sub))
    for i, n in enumerate(names):
        write(os.path.join(root, "lib" if i % 2 else "usr/lib", n), b"\x7fELF", 0o755)
    make_dir(root)
    make_dir(os.path.join(root, "usr"))

    # A 6-level path: usr/share/a/b/c/d/file.
    obs_root = os.path.join(data, "install-root")
    leaf_dir = obs_root
    for part in ("usr", "share", "alpha", "beta", "gamma", "delta"):
        leaf_dir = os.path.join(leaf_dir, part)
        make_dir(leaf_dir)
    make_dir(obs_root)
    write(os.path.join(leaf_dir, "tool.conf"), b"x" * 1000)

    abi = hex64()
    delegation, dnames = delegation_file(abi)
    write(os.path.join(data, "delegation"), delegation)
    deleg_sha = hashlib.sha256(delegation).hexdigest()
    write(os.path.join(data, "index"), index_file(abi, deleg_sha, dnames))

    with open(os.path.join(data, "params.sh"), "w") as f:
        f.write("NOW=2000000000\nREPO=bench\nABI=%s\nDELEG_SHA=%s\n" % (abi, deleg_sha))
        f.write("INSTALL_PATH=usr/share/alpha/beta/gamma/delta/tool.conf\n")


if __name__ == "__main__":
    main()
