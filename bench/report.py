#!/usr/bin/env python3
"""Turns the runner's records and the strace summaries into a Markdown report.

    python3 bench/report.py WORK_DIR LOAD_BEFORE LOAD_AFTER RUNS_SLOW RUNS_FAST STAGE_FS
"""
import os
import platform
import statistics
import sys

work, load_before, load_after, runs_slow, runs_fast, stage_fs = sys.argv[1:7]

ARCHIVES = [("unpack-1x0", 1, 0), ("unpack-1x32M", 1, 32), ("unpack-64x512K", 64, 32),
            ("unpack-1024x32K", 1024, 32), ("unpack-1024x0", 1024, 0),
            ("unpack-1024x32K-flat", 1024, 32)]


def data_size(*names):
    return sum(os.path.getsize(os.path.join(work, "data", n)) for n in names)


def data_lines(name):
    with open(os.path.join(work, "data", name), "rb") as f:
        return f.read().count(b"\n")


COMMANDS = [
    ("manifest2", "%d-line manifest, %d bytes" % (data_lines("manifest-1024"), data_size("manifest-1024")),
     "cat:manifest2"),
    ("owned", "%d-line owned list, %d bytes" % (data_lines("owned-4096"), data_size("owned-4096")),
     "cat:owned"),
    ("elf2", "64 DT_NEEDED names of 126 bytes, 65536-byte dynamic section, 64 program headers,"
     " %d bytes" % data_size("elf-64needed"), "cat:elf2"),
    ("observe", "6 directory levels", None),
    ("prepare2", "6 directory levels, all present", None),
    ("stat", "stat -c %s", "coreutils:stat"),
    ("delegation", "%d bytes, %d names" % (data_size("delegation"), data_lines("delegation") - 2),
     "cat:delegation"),
    ("index", "%d bytes, %d rows of one package, after the delegation above"
     % (data_size("index"), data_lines("index") - 1), "cat:index")]


def load_results():
    runs = {}
    with open(os.path.join(work, "results.tsv")) as f:
        for line in f:
            name, _, wall, cpu, rss = line.split("\t")
            runs.setdefault(name, []).append((int(wall) / 1e6, int(cpu) / 1e3, int(rss)))
    return {name: {"wall": statistics.median(r[0] for r in rows),
                   "wall_min": min(r[0] for r in rows),
                   "cpu": statistics.median(r[1] for r in rows),
                   "rss": statistics.median(r[2] for r in rows),
                   "n": len(rows)}
            for name, rows in runs.items()}


def strace_calls(path):
    """Total and per-syscall call counts from an strace -c summary."""
    total, per = 0, {}
    with open(path) as f:
        for line in f:
            fields = line.split()
            if len(fields) < 5 or not fields[0][0].isdigit():
                continue
            name, calls = fields[-1], int(fields[3])
            if name == "total":
                total = calls
            else:
                per[name] = calls
    return total, per


def ms(x):
    return "%.3f" % x if x < 10 else "%.1f" % x


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def main():
    r = load_results()
    noop = r["noop"]
    print("## Machine\n")
    print("- CPU: %s, %d cores (nproc)" % (cpu_model(), os.cpu_count()))
    print("- kernel: %s" % platform.release())
    print("- load average (1, 5, 15 min) before: %s; after: %s"
          % (" ".join(load_before.split()[:3]), " ".join(load_after.split()[:3])))
    print("- runs: %s of each archive benchmark, %s of each other one, interleaved; medians"
          % (runs_slow, runs_fast))
    print()

    print("## Commands against the do-nothing program\n")
    print("Targets: wall time within 1.5x and peak RSS within 1.2x of the do-nothing program"
          " (`bench/noop.cc`, compiled and linked like the programs).\n")
    print("| command | input | wall ms | CPU ms | peak RSS KiB | wall / noop | RSS / noop | wall / peer | peer |")
    print("|---|---|---:|---:|---:|---:|---:|---:|---|")
    print("| noop | - | %s | %s | %d | 1.00 | 1.00 | | |" % (ms(noop["wall"]), ms(noop["cpu"]), noop["rss"]))
    for name, what, peer in COMMANDS:
        if name not in r:
            continue
        c = r[name]
        peer_ratio = peer_name = ""
        if peer and peer in r:
            peer_ratio = "%.2f" % (c["wall"] / r[peer]["wall"])
            peer_name = "%s (%s ms)" % (peer, ms(r[peer]["wall"]))
        print("| %s | %s | %s | %s | %d | %.2f | %.2f | %s | %s |"
              % (name, what, ms(c["wall"]), ms(c["cpu"]), c["rss"], c["wall"] / noop["wall"],
                 c["rss"] / noop["rss"], peer_ratio, peer_name))
    print()

    print("## unpack against GNU tar and bsdtar\n")
    print("Each run extracts into a fresh stage directory on the same file system (%s); `cat`"
          " reads the same archive to /dev/null.\n" % stage_fs)
    print("| archive | members | payload MiB | vesk-io ms | GNU tar ms | bsdtar ms | cat ms"
          " | vesk-io / GNU tar | vesk-io / bsdtar |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for name, members, mib in ARCHIVES:
        if not all(k in r for k in (name, "gnutar:" + name, "bsdtar:" + name, "cat:" + name)):
            continue
        io, gt, bt, cat = (r[name], r["gnutar:" + name], r["bsdtar:" + name], r["cat:" + name])
        print("| %s | %d | %d | %s | %s | %s | %s | %.2f | %.2f |"
              % (name, members, mib, ms(io["wall"]), ms(gt["wall"]), ms(bt["wall"]), ms(cat["wall"]),
                 io["wall"] / gt["wall"], io["wall"] / bt["wall"]))
    print()
    print("| archive | vesk-io CPU ms | GNU tar CPU ms | bsdtar CPU ms | vesk-io RSS KiB | GNU tar RSS KiB"
          " | bsdtar RSS KiB | vesk-io RSS / noop |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for name, _, _ in ARCHIVES:
        if not all(k in r for k in (name, "gnutar:" + name, "bsdtar:" + name)):
            continue
        io, gt, bt = r[name], r["gnutar:" + name], r["bsdtar:" + name]
        print("| %s | %s | %s | %s | %d | %d | %d | %.2f |"
              % (name, ms(io["cpu"]), ms(gt["cpu"]), ms(bt["cpu"]), io["rss"], gt["rss"], bt["rss"],
                 io["rss"] / noop["rss"]))
    print()

    print("## How unpack's cost grows\n")
    print("Members are 4 to 9 directories below the stage (6.5 on average), except in the flat"
          " archive, where all lie in data/usr/bin/ (3). From the 1-member and 1024-member"
          " archives: the cost of each further member without data, of each MiB of payload, and"
          " of each directory level a member's path has beyond the flat one; the 1024 x 32 KiB"
          " archive as these predict it.\n")
    print("| program | base ms (1 empty member) | per member us | per MiB ms | per member and level us"
          " | predicted 1024x32K ms | measured 1024x32K ms |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for label, prefix in (("vesk-io", ""), ("GNU tar", "gnutar:"), ("bsdtar", "bsdtar:")):
        try:
            base = r[prefix + "unpack-1x0"]["wall"]
            member = (r[prefix + "unpack-1024x0"]["wall"] - base) / 1023
            mib = (r[prefix + "unpack-1x32M"]["wall"] - base) / 32
            measured = r[prefix + "unpack-1024x32K"]["wall"]
            level = (measured - r[prefix + "unpack-1024x32K-flat"]["wall"]) / 1024 / 3.5
        except KeyError:
            continue
        print("| %s | %s | %.1f | %.3f | %.1f | %s | %s |"
              % (label, ms(base), member * 1000, mib, level * 1000,
                 ms(base + 1023 * member + 32 * mib), ms(measured)))
    print()

    print("## System calls of unpack (strace -f -c)\n")
    noop_calls, _ = strace_calls(os.path.join(work, "strace-noop.txt"))
    print("The do-nothing program makes %d calls.\n" % noop_calls)
    print("| archive | vesk-io calls | GNU tar calls | bsdtar calls |")
    print("|---|---:|---:|---:|")
    totals = {}
    for name, _, _ in ARCHIVES:
        row = []
        for who in ("io", "gnutar", "bsdtar"):
            total, per = strace_calls(os.path.join(work, "strace-%s-%s.txt" % (who, name)))
            totals[(who, name)] = (total, per)
            row.append(total)
        print("| %s | %d | %d | %d |" % (name, *row))
    print()
    print("Calls per member beyond the first ((calls(1024 members) - calls(1 member)) / 1023):\n")
    print("| program | per member, no data | per member, 32 KiB each | the same, flat |")
    print("|---|---:|---:|---:|")
    for label, who in (("vesk-io", "io"), ("GNU tar", "gnutar"), ("bsdtar", "bsdtar")):
        one = totals[(who, "unpack-1x0")][0]
        empty = (totals[(who, "unpack-1024x0")][0] - one) / 1023
        full = (totals[(who, "unpack-1024x32K")][0] - one) / 1023
        flat = (totals[(who, "unpack-1024x32K-flat")][0] - one) / 1023
        print("| %s | %.1f | %.1f | %.1f |" % (label, empty, full, flat))
    print()
    _, per = totals[("io", "unpack-1024x32K")]
    print("vesk-io on unpack-1024x32K, by call: "
          + ", ".join("%s %d" % (k, v) for k, v in sorted(per.items(), key=lambda kv: -kv[1])))
    print()

    memory_path = os.path.join(work, "memory.tsv")
    if os.path.exists(memory_path):
        print("## Where the resident memory is\n")
        print("One more run of each, stopped just before it exits: peak (VmHWM), and the resident"
              " pages then, split into anonymous memory (stack, static tables, buffers) and"
              " file-backed pages (program and C library code and data, shared with every other"
              " process that maps them).\n")
        print("| command | peak KiB | anonymous KiB | file-backed KiB | anonymous - noop's KiB |")
        print("|---|---:|---:|---:|---:|")
        rows = {}
        with open(memory_path) as f:
            for line in f:
                name, hwm, rss, anon, filed = line.split("\t")
                rows[name] = (int(hwm), int(rss), int(anon), int(filed))
        base = rows["noop"][2]
        for name in ["noop"] + [c[0] for c in COMMANDS] + [a[0] for a in ARCHIVES] + \
                ["gnutar:unpack-1024x32K", "bsdtar:unpack-1024x32K"]:
            if name in rows:
                hwm, rss, anon, filed = rows[name]
                print("| %s | %d | %d | %d | %+d |" % (name, hwm, anon, filed, anon - base))


main()
