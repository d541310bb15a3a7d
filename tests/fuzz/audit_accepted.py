#!/usr/bin/env python3
"""Audits a fuzz corpus for wrong answers: a crash is not the only failure,
a "yes" for a bad input is worse.

  audit_accepted.py TARGET CORPUS_DIR FIXTURES_DIR VESK_IO VESK_INDEX

Runs every input of the corpus through the real program the way the fuzz
target does. A refusal must be exit status 1 with exactly one line on
standard error behind the program's prefix; anything else (another status,
a signal, more lines) is a finding. Every input the program accepts is
judged again here, by rules written independently from the formats: an
accepted input these rules refuse is a finding (a wrong "yes"), and so is a
refused input they accept (the ELF rules here are only a plausibility test,
so for "elf" and "elf2" only the first direction counts). For "unpack" the
stage the program left must hold exactly the archive's files, with their
sizes and modes, and nothing else.
"""
import os
import re
import stat
import subprocess
import sys
import tempfile

NOW = 500
REPO = "core"
ABI = "ab" * 32
DELEG_SHA = "de" * 32
LIMIT = 33554432

NAME_CHARS = re.compile(rb"[A-Za-z0-9._+-]+\Z")
SAFE_CHARS = re.compile(rb"[A-Za-z0-9._+@=\[\]-]+\Z")
DIGEST = re.compile(rb"[0-9a-f]{64}\Z")


def managed_path(path, format2):
    if len(path) > 90 or b".vesk-tmp" in path or b"//" in path or path.endswith(b"/"):
        return False
    if format2:
        if not path.startswith((b"usr/bin/", b"usr/sbin/", b"usr/libexec/", b"usr/share/")):
            return False
        if path.startswith(b"usr/share/vesk/"):
            return False
    elif not path.startswith((b"usr/local/bin/", b"usr/local/share/", b"usr/local/libexec/")):
        return False
    return all(c not in (b"", b".", b"..") and NAME_CHARS.match(c) for c in path.split(b"/"))


def safe_relative_path(path):
    if path in (b"etc/passwd", b"etc/shadow", b"etc/group") or path.startswith(b"etc/tinc/"):
        return False
    if b"ssh_host_" in path or b"wpa_supplicant.conf" in path:
        return False
    if not path or path.startswith(b"/") or len(path) > 240 or b"//" in path or path.endswith(b"/"):
        return False
    return all(c not in (b".", b"..") and SAFE_CHARS.match(c) for c in path.split(b"/"))


def lines_of(data):
    """Every line with its LF; None when the last one has none."""
    if not data.endswith(b"\n"):
        return None
    return [line + b"\n" for line in data[:-1].split(b"\n")]


MANIFEST_LINE = re.compile(rb"f\t(0644|0755)\t(0|[1-9][0-9]{0,7})\t([0-9a-f]{64})\t([^\t\n]+)\n\Z")


def manifest_rows(data, format2):
    """The rows of a valid package manifest, or None."""
    lines = lines_of(data)
    if lines is None or not 1 <= len(lines) <= 1024:
        return None
    rows, total, previous = [], 0, None
    for line in lines:
        m = MANIFEST_LINE.match(line)
        if len(line) > 255 or not m or not managed_path(m.group(4), format2):
            return None
        size = int(m.group(2))
        total += size
        if size > LIMIT or total > LIMIT or (previous is not None and m.group(4) <= previous):
            return None
        previous = m.group(4)
        rows.append((m.group(4), int(m.group(1), 8), size))
    return rows


def owned_ok(data):
    lines = lines_of(data)
    if lines is None or not 1 <= len(lines) <= 4096:
        return False
    previous = b""
    for line in lines:
        fields = line[:-1].split(b"\t", 8)
        if len(line) > 1022 or len(fields) != 9:
            return False
        kind, mode, owner, group, size, digest, path, role, target = fields
        if kind not in (b"f", b"l") or not re.fullmatch(rb"[0-7]{4}", mode):
            return False
        if not all(re.fullmatch(rb"[0-9]{1,10}", n) for n in (owner, group, size)):
            return False
        if not DIGEST.match(digest) or not safe_relative_path(path) or path <= previous:
            return False
        if role not in (b"software", b"config"):
            return False
        if kind == b"f" and target != b"-":
            return False
        if kind == b"l" and not re.fullmatch(rb"[\x21-\x7e]{1,255}", target):
            return False
        previous = path
    return True


def metadata_lines(data, limit):
    lines = lines_of(data) if data else []
    if len(data) > limit or lines is None:
        return None
    rows = []
    for line in lines:
        body = line[:-1]
        if len(body) > 4096 or not re.fullmatch(rb"[\t\x20-\x7e]*", body):
            return None
        rows.append(body.split(b"\t"))
    return rows


def number(text):
    return int(text) if re.fullmatch(rb"[0-9]{1,10}", text) else None


NAME_TOKEN = re.compile(rb"[A-Za-z0-9][A-Za-z0-9._+-]{0,63}\Z")


def delegation_names(data):
    """(epoch, not_before, not_after, names) of a valid delegation, or None."""
    rows = metadata_lines(data, 16384)
    if not rows or len(rows) < 3:
        return None
    h = rows[0]
    if len(h) != 10 or h[0] != b"VESK-DELEGATION" or h[1] != b"1" or not NAME_TOKEN.match(h[2]):
        return None
    epoch, not_before, not_after = number(h[3]), number(h[4]), number(h[5])
    if None in (epoch, not_before, not_after) or not DIGEST.match(h[6]):
        return None
    if not (1 <= not_before <= NOW < not_after and 1 <= epoch <= 999999999):
        return None
    if h[7:] != [b"i586", b"musl", b"pentium-mmx-audited"]:
        return None
    s = rows[1]
    if len(s) != 3 or s[:2] != [b"signer", b"ssh-ed25519"] or not re.fullmatch(rb"[A-Za-z0-9+/=]{68}", s[2]):
        return None
    names = []
    for p in rows[2:]:
        if len(p) != 2 or p[0] != b"package" or not NAME_TOKEN.match(p[1]) or p[1] in names:
            return None
        names.append(p[1])
    return epoch, not_before, not_after, names, h[2], h[6]


VERSION = re.compile(rb"[0-9]+([._][0-9]+)*(p[0-9]+)?(\+r[1-9][0-9]*)?\Z")


def dependencies_ok(field, name):
    if field == b"-":
        return True
    for entry in field.split(b" "):
        dep, eq, value = entry.partition(b"=")
        if not eq or not NAME_TOKEN.match(dep) or not NAME_TOKEN.match(value) or dep == name:
            return False
    return True


def index_ok(data, delegation):
    epoch, not_before, not_after, names, repo, abi = delegation
    rows = metadata_lines(data, 262144)
    if not rows or repo != REPO.encode() or abi != ABI.encode():
        return False
    h = rows[0]
    if len(h) != 10 or h[:3] != [b"VESK-INDEX", b"2", repo] or h[4:6] != [abi, b"0.1"]:
        return False
    serial, generated, expiry, index_epoch = number(h[3]), number(h[6]), number(h[7]), number(h[8])
    if None in (serial, generated, expiry, index_epoch) or h[9] != DELEG_SHA.encode():
        return False
    if not 1 <= serial <= 999999999 or index_epoch != epoch:
        return False
    if not (not_before <= generated <= NOW < expiry <= not_after and expiry - generated <= 604800):
        return False
    seen = []
    for r in rows[1:]:
        if len(r) != 15 or not NAME_TOKEN.match(r[0]) or r[0] not in names:
            return False
        if len(r[1]) > 64 or not VERSION.match(r[1]):
            return False
        rank, size = number(r[2]), number(r[4])
        if rank is None or size is None or not 1 <= rank <= 99999999 or not 1 <= size <= 35651584:
            return False
        if not DIGEST.match(r[3]) or r[5] != r[3] + b".vesk" or r[6] != b"0.1":
            return False
        if not dependencies_ok(r[7], r[0]):
            return False
        if r[8:10] != [b"i586", b"musl"] or r[10] != abi or r[11] != b"pentium-mmx-audited":
            return False
        date = number(r[14])
        if not 1 <= len(r[12]) <= 512 or len(r[13]) > 512 or not r[13].startswith(b"https://"):
            return False
        if date is None or date > generated:
            return False
        for name, version, earlier_rank in seen:
            if name == r[0] and (version == r[1] or earlier_rank == rank):
                return False
        seen.append((r[0], r[1], rank))
    return len(seen) <= 1024


def tar_number(field):
    text = field.lstrip(b" ")
    digits = re.match(rb"[0-7]*", text).group(0)
    rest = text[len(digits):]
    if any(b & ~0x20 for b in rest):
        return None
    return int(digits, 8) if digits else 0


def archive_files(data):
    """The files a valid package archive holds, {name: (mode, bytes)}, or None."""
    if len(data) % 512 or len(data) > 34603008:
        return None
    blocks = [data[i:i + 512] for i in range(0, len(data), 512)]
    files, expected, i, format2, rows = {}, [b"meta", b"files"], 0, False, None
    while i < len(blocks) and any(blocks[i]):
        h = blocks[i]
        if h[257:263] != b"ustar\0" or h[263:265] != b"00" or h[156:157] != b"0":
            return None
        if h[157] or h[345] or 0 not in h[:100]:
            return None
        total = sum(h[:148]) + 8 * 32 + sum(h[156:])
        numbers = [tar_number(h[o:o + w]) for o, w in ((148, 8), (124, 12), (100, 8), (108, 8), (116, 8))]
        if None in numbers or numbers[0] != total or numbers[3] or numbers[4]:
            return None
        _, size, mode = numbers[:3]
        index = len(files)
        name = h[:h.index(0)]
        if index >= len(expected) or name != expected[index]:
            return None
        if index < 2 and (mode != 0o644 or size > (4096 if index == 0 else 262144)):
            return None
        if index >= 2 and (rows[index - 2][1], rows[index - 2][2]) != (mode, size):
            return None
        body_blocks = (size + 511) // 512
        body = b"".join(blocks[i + 1:i + 1 + body_blocks])
        if len(body) < body_blocks * 512 or any(body[size:]):
            return None
        content = body[:size]
        if index == 0:
            if not re.fullmatch(rb"[\x20-\x7e\n]*", content) or not content:
                return None
            format2 = content.startswith(b"format=2\n")
        if index == 1:
            rows = manifest_rows(content, format2)
            if rows is None:
                return None
            expected += [b"data/" + path for path, _, _ in rows]
        files[name] = (mode, content)
        i += 1 + body_blocks
    zeros = len(blocks) - i
    if not 2 <= zeros <= 20 or any(any(b) for b in blocks[i:]) or len(files) != len(expected):
        return None
    return files


def stage_files(stage):
    found = {}
    for directory, dirs, names in os.walk(stage):
        for name in names + [d for d in dirs if os.path.islink(os.path.join(directory, d))]:
            path = os.path.join(directory, name)
            status = os.lstat(path)
            if not stat.S_ISREG(status.st_mode):
                found[os.path.relpath(path, stage).encode()] = ("not a file", b"")
                continue
            with open(path, "rb") as f:
                found[os.path.relpath(path, stage).encode()] = (stat.S_IMODE(status.st_mode), f.read())
    return found


def run(argv, stdin=None, cwd=None):
    with open(stdin if stdin else os.devnull, "rb") as f:
        return subprocess.run(argv, stdin=f, cwd=cwd, capture_output=True, timeout=30,
                              env=dict(os.environ, ASAN_OPTIONS="abort_on_error=1:detect_leaks=0"))


def main():
    target = sys.argv[1]
    corpus, fixtures, io, index = (os.path.abspath(a) for a in sys.argv[2:6])
    prefix = b"vesk-index: " if target in ("delegation", "index") else b"vesk-io: "
    fixed_delegation = os.path.join(fixtures, "delegation")
    delegation = delegation_names(open(fixed_delegation, "rb").read())
    findings, accepted, total = [], 0, 0
    for entry in sorted(os.listdir(corpus)):
        path = os.path.join(corpus, entry)
        if not os.path.isfile(path):
            continue
        total += 1
        data = open(path, "rb").read()
        with tempfile.TemporaryDirectory() as stage:
            os.chmod(stage, 0o755)
            argv = {
                "manifest": [io, "manifest", path],
                "owned": [io, "owned", path],
                "unpack": [io, "unpack"],
                "elf": [io, "elf", path],
                "elf2": [io, "elf2", path, os.path.join(fixtures, "root")],
                "delegation": [index, "delegation", str(NOW), path],
                "index": [index, "index", str(NOW), REPO, ABI, DELEG_SHA, fixed_delegation, path],
            }[target]
            r = run(argv, stdin=path if target == "unpack" else None, cwd=stage)
            if r.returncode == 1:
                if not (r.stderr.startswith(prefix) and r.stderr.count(b"\n") == 1
                        and r.stderr.endswith(b"\n") and not r.stdout):
                    findings.append(f"{entry}: refusal not one message line: {r.stderr[:200]!r}")
                elif target not in ("elf", "elf2") and judge(target, data, stage, delegation, False):
                    findings.append(f"{entry}: refused ({r.stderr.strip()!r}), "
                                    "but the independent rules accept it")
                continue
            if r.returncode != 0 or r.stderr or r.stdout:
                findings.append(f"{entry}: exit {r.returncode}: {r.stderr[:200]!r}")
                continue
            accepted += 1
            if not judge(target, data, stage, delegation, True):
                findings.append(f"{entry}: accepted, but the independent rules refuse it")
    print(f"audit {target}: {total} inputs, {accepted} accepted, {len(findings)} findings")
    for finding in findings:
        print("  " + finding)
    return 1 if findings else 0


def judge(target, data, stage, delegation, ran_through):
    """True when the independent rules accept the input; for "unpack" after
    a run that went through, the stage must also hold exactly its files."""
    if target == "manifest":
        return manifest_rows(data, False) is not None
    if target == "owned":
        return owned_ok(data)
    if target == "unpack":
        files = archive_files(data)
        return files is not None and (not ran_through or stage_files(stage) == files)
    if target == "delegation":
        return delegation_names(data) is not None
    if target == "index":
        return index_ok(data, delegation)
    return elf_plausible(data, target == "elf2")


def elf_plausible(data, format2):
    """What every accepted file must show: not ELF at all, or an i386 ELF32
    executable that names the musl loader (or, under format 2, a static one)."""
    if len(data) < 4 or data[:4] != b"\x7fELF":
        return True
    if len(data) < 52 or data[4] != 1 or data[5] != 1 or data[18:20] != b"\x03\x00":
        return False
    if data[16:18] not in (b"\x02\x00", b"\x03\x00"):
        return False
    has_loader = b"/lib/ld-musl-i386.so.1\0" in data
    if not format2:
        return has_loader and b"libc.so" in data
    return True


if __name__ == "__main__":
    sys.exit(main())
