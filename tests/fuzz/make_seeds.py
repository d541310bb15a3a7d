#!/usr/bin/env python3
"""Writes the seed inputs of every fuzz target, and the fixed files some
targets run against, below the directory given as the only argument:

  seeds/TARGET/*     valid inputs and a few near misses, one file each
  root/              target root of "elf2" (lib/ and usr/lib/ with libraries)
  delegation         the fixed valid delegation file of the "index" target

Each seed is built here the way the tests build their fixtures, from the
record layouts, so the corpus follows the formats without shipping blobs.
"""
import os
import struct
import sys

DIGEST = "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03"
ABI = "ab" * 32
DELEG_SHA = "de" * 32
KEY = "AAAAC3NzaC1lZDI1NTE5AAAAIGx0ZXN0a2V5Zm9yZnV6emluZ29ubHl0ZXN0a2V5ZgAA"
assert len(KEY) == 68

# The fixed arguments of the "index" target; tools/fuzz.sh passes the same.
NOW = 500
REPO = "core"


# --- package manifest -------------------------------------------------------

def manifest_line(path, size=5, mode="0644", digest=DIGEST):
    return f"f\t{mode}\t{size}\t{digest}\t{path}\n"


def manifest(rows):
    """rows: (path, content, mode); sorted by path as the format requires."""
    rows = sorted(rows, key=lambda r: r[0].encode())
    return "".join(manifest_line(p, len(c), m) for p, c, m in rows)


# --- ustar archive ----------------------------------------------------------

def octal(value, width):
    return (b"%0*o" % (width - 1, value)) + b"\0"


def tar_header(name, size, mode=0o644, uid=0, gid=0, typeflag=b"0"):
    h = bytearray(512)
    h[0:len(name)] = name.encode()
    h[100:108] = octal(mode, 8)
    h[108:116] = octal(uid, 8)
    h[116:124] = octal(gid, 8)
    h[124:136] = octal(size, 12)
    h[136:148] = octal(0, 12)
    h[148:156] = b" " * 8
    h[156:157] = typeflag
    h[257:263] = b"ustar\0"
    h[263:265] = b"00"
    h[265:269] = b"root"
    h[297:301] = b"root"
    total = sum(h)
    h[148:156] = b"%06o\0 " % total
    return bytes(h)


def tar_member(name, data, mode=0o644):
    pad = (-len(data)) % 512
    return tar_header(name, len(data), mode) + data + b"\0" * pad


def archive(meta, rows, zero_blocks=2):
    """rows: (path, content bytes, mode); members follow the manifest order."""
    rows = sorted(rows, key=lambda r: r[0].encode())
    files = manifest([(p, c, "0755" if m == 0o755 else "0644") for p, c, m in rows])
    out = tar_member("meta", meta.encode()) + tar_member("files", files.encode())
    for path, content, mode in rows:
        out += tar_member("data/" + path, content, mode)
    return out + b"\0" * (512 * zero_blocks)


# --- ELF32 executables ------------------------------------------------------

PT_LOAD, PT_DYNAMIC, PT_INTERP = 1, 2, 3
DT_NULL, DT_NEEDED, DT_STRTAB, DT_STRSZ, DT_FLAGS = 0, 1, 5, 10, 30
BASE = 0x08048000


def elf(needed=("libc.so",), interp=b"/lib/ld-musl-i386.so.1\0", dynamic=True,
        e_type=2, extra_tags=()):
    """A minimal executable: one PT_LOAD over the whole file, the
    interpreter, a string table with the dependency names and a dynamic
    section that points at it."""
    phnum = 1 + (1 if interp is not None else 0) + (1 if dynamic else 0)
    phoff = 52
    interp_off = phoff + 32 * phnum
    strtab = b"\0"
    offsets = []
    for name in needed:
        offsets.append(len(strtab))
        strtab += name.encode() + b"\0"
    strtab_off = interp_off + (len(interp) if interp is not None else 0)
    dyn_off = (strtab_off + len(strtab) + 3) & ~3
    entries = [(DT_STRTAB, BASE + strtab_off), (DT_STRSZ, len(strtab))]
    entries += [(DT_NEEDED, o) for o in offsets]
    entries += list(extra_tags) + [(DT_NULL, 0)]
    dyn = b"".join(struct.pack("<II", t, v) for t, v in entries) if dynamic else b""
    size = dyn_off + len(dyn)

    ident = b"\x7fELF" + bytes([1, 1, 1, 0]) + b"\0" * 8
    header = ident + struct.pack("<HHIIIIIHHHHHH", e_type, 3, 1, BASE + 0x100, phoff, 0, 0,
                                 52, 32, phnum, 40, 0, 0)
    phdrs = b""
    if interp is not None:
        phdrs += struct.pack("<IIIIIIII", PT_INTERP, interp_off, BASE + interp_off, 0,
                             len(interp), len(interp), 4, 1)
    phdrs += struct.pack("<IIIIIIII", PT_LOAD, 0, BASE, BASE, size, size, 5, 0x1000)
    if dynamic:
        phdrs += struct.pack("<IIIIIIII", PT_DYNAMIC, dyn_off, BASE + dyn_off, 0, len(dyn),
                             len(dyn), 6, 4)
    body = header + phdrs + (interp or b"") + strtab
    body += b"\0" * (dyn_off - len(body))
    return body + dyn


# --- repository metadata ----------------------------------------------------

def line(*columns):
    return "\t".join(columns) + "\n"


def delegation(names=("hello", "hello-doc"), epoch="3", not_before="100", not_after="900"):
    text = line("VESK-DELEGATION", "1", REPO, epoch, not_before, not_after, ABI, "i586", "musl",
                "pentium-mmx-audited")
    text += line("signer", "ssh-ed25519", KEY)
    return text + "".join(line("package", n) for n in names)


def index_row(name, version, rank, deps="-", date="450", digest=DIGEST):
    return line(name, version, rank, digest, "913", digest + ".vesk", "0.1", deps, "i586", "musl",
                ABI, "pentium-mmx-audited", "Greeting program", "https://example.org/hello",
                date)


def index(rows, generated="450", expiry="700"):
    header = line("VESK-INDEX", "2", REPO, "42", ABI, "0.1", generated, expiry, "3", DELEG_SHA)
    return header + "".join(rows)


# --- owned-file manifest ----------------------------------------------------

def owned_line(kind, mode, path, size="5", role="software", target="-"):
    return "\t".join([kind, mode, "0", "0", size, DIGEST, path, role, target]) + "\n"


def seeds():
    hello = b"#!/bin/sh\necho hello\n"
    yield "manifest", "one", manifest_line("usr/local/bin/hello", 6, "0755")
    yield "manifest", "three", manifest([("usr/local/bin/a", b"x" * 7, "0755"),
                                         ("usr/local/share/doc/a/README", b"y" * 100, "0644"),
                                         ("usr/local/libexec/a/helper", b"", "0755")])
    yield "manifest", "order", manifest([("usr/local/bin/a-b", b"1", "0644"),
                                         ("usr/local/bin/a.b", b"1", "0644"),
                                         ("usr/local/bin/a/b", b"1", "0644")])
    yield "manifest", "format2-paths", manifest_line("usr/bin/hello", 33554432)

    yield "owned", "file-and-link", (owned_line("f", "0755", "usr/bin/hello") +
                                     owned_line("l", "0777", "usr/lib/libz.so", "12",
                                                target="libz.so.1.3.1"))
    yield "owned", "config", owned_line("f", "0644", "etc/hello.conf", "0000000000", "config")
    yield "owned", "setuid", owned_line("f", "4755", "usr/bin/su", "9999999999")

    yield "unpack", "format1", archive("format=1\n", [("usr/local/bin/hello", hello, 0o755)])
    yield "unpack", "format2", archive("format=2\nname=hello\n",
                                       [("usr/bin/hello", hello, 0o755),
                                        ("usr/share/doc/hello/README", b"read me\n", 0o644),
                                        ("usr/share/hello/empty", b"", 0o644)])
    yield "unpack", "nested", archive("format=1\n",
                                      [("usr/local/share/a/b/c", b"c" * 600, 0o644),
                                       ("usr/local/share/a/d", b"d", 0o644)], zero_blocks=20)

    yield "elf", "dynamic-libc", elf()
    yield "elf", "pie", elf(e_type=3)
    yield "elf", "static", elf(needed=(), interp=None, dynamic=False)
    yield "elf", "flags", elf(extra_tags=[(DT_FLAGS, 4)])
    yield "elf", "script", b"#!/bin/sh\nexit 0\n"

    yield "elf2", "present", elf(needed=("libfoo.so.1", "libc.so"))
    yield "elf2", "usr-lib", elf(needed=("libbar.so",))
    yield "elf2", "static", elf(needed=(), interp=None, dynamic=False)
    yield "elf2", "missing", elf(needed=("libmissing.so.2",))

    yield "delegation", "example", delegation()
    yield "delegation", "one-name", delegation(names=("a",), epoch="0000000003")
    yield "delegation", "many-names", delegation(names=[f"pkg{i}" for i in range(40)])
    yield "delegation", "long-line", delegation() + "x" * 4096 + "\n"
    yield "delegation", "columns", delegation() + "\t" * 14 + "\n"

    yield "index", "example", index([index_row("hello", "2.12p1+r2", "7", "hello-doc=2.12"),
                                     index_row("hello", "2.11", "6", date="100"),
                                     index_row("hello-doc", "2.12", "1")])
    yield "index", "header-only", index([])
    yield "index", "deps", index([index_row("hello", "1.0_3.4p0+r12", "5", "a=1 b=2 c=x.y")])


def main():
    out = sys.argv[1]
    for target, name, data in seeds():
        os.makedirs(os.path.join(out, "seeds", target), exist_ok=True)
        with open(os.path.join(out, "seeds", target, name), "wb") as f:
            f.write(data.encode() if isinstance(data, str) else data)
    for lib in ("lib/libfoo.so.1", "lib/libc.so", "usr/lib/libbar.so"):
        os.makedirs(os.path.join(out, "root", os.path.dirname(lib)), exist_ok=True)
        with open(os.path.join(out, "root", lib), "wb") as f:
            f.write(b"\x7fELF")
    with open(os.path.join(out, "delegation"), "w") as f:
        f.write(delegation())


if __name__ == "__main__":
    main()
