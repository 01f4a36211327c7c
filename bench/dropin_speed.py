#!/usr/bin/env python3
"""bench/dropin_speed.py - Python's zlib, gzip and bz2 modules on the system's zlib and libbz2 and on kel's
(libkelz, libkelbz2, preloaded by `kel run`), over the bundled corpus, with the ratio kel / system per row.

Usage: bench/dropin_speed.py [--kel PATH] [--repetitions N] [--min-time SECONDS] [--only OP[,OP...]]

Each operation runs in a fresh worker process, alternately without and with `kel run`, N times (default 5), and
the table takes the median throughput of each side: interleaving puts a burst of load from elsewhere on both
sides instead of one. Throughput counts uncompressed bytes per second. Sizes are the corpus compressed whole file
by whole file, summed; "size" is kel's over the system's (below 1.00 is smaller).
"""
import argparse
import bz2
import gzip
import io
import json
import os
import statistics
import subprocess
import sys
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "data")
PYTHON = "/usr/bin/python3"  # Debian's: its zlib and bz2 modules link the shared libz.so.1 and libbz2.so.1.0

OPERATIONS = ["zlib.compress-1", "zlib.compress-6", "zlib.compress-9", "zlib.decompress", "gzip.open.read",
              "bz2.compress", "bz2.decompress"]


def corpus_files():
    files = []
    for name in sorted(os.listdir(CORPUS)):
        path = os.path.join(CORPUS, name)
        if os.path.isfile(path) and not name.endswith(".md"):
            with open(path, "rb") as f:
                files.append(f.read())
    return files


def timed(fn, total_bytes, min_time):
    """Runs fn until min_time has passed; returns bytes per second of the best pass."""
    best = float("inf")
    spent = 0.0
    while spent < min_time or best == float("inf"):
        start = time.perf_counter()
        fn()
        elapsed = time.perf_counter() - start
        best = min(best, elapsed)
        spent += elapsed
    return total_bytes / best


def worker(op, min_time):
    files = corpus_files()
    total = sum(len(f) for f in files)
    size = None
    if op.startswith("zlib.compress-"):
        level = int(op.rsplit("-", 1)[1])
        size = sum(len(zlib.compress(f, level)) for f in files)
        rate = timed(lambda: [zlib.compress(f, level) for f in files], total, min_time)
    elif op == "zlib.decompress":
        # The streams are made by the system's zlib in the parent, so both sides decode the same bytes.
        packed = [bytes.fromhex(h) for h in json.loads(sys.stdin.read())]
        rate = timed(lambda: [zlib.decompress(p) for p in packed], total, min_time)
    elif op == "gzip.open.read":
        packed = [bytes.fromhex(h) for h in json.loads(sys.stdin.read())]
        rate = timed(lambda: [gzip.open(io.BytesIO(p)).read() for p in packed], total, min_time)
    elif op == "bz2.compress":
        size = sum(len(bz2.compress(f, 9)) for f in files)
        rate = timed(lambda: [bz2.compress(f, 9) for f in files], total, min_time)
    elif op == "bz2.decompress":
        packed = [bytes.fromhex(h) for h in json.loads(sys.stdin.read())]
        rate = timed(lambda: [bz2.decompress(p) for p in packed], total, min_time)
    else:
        raise SystemExit("unknown operation " + op)
    print(json.dumps({"rate": rate, "size": size}))


def inputs_for(op):
    """The compressed inputs of the decoding rows, made once by the system's libraries (this process)."""
    files = corpus_files()
    if op == "zlib.decompress":
        return json.dumps([zlib.compress(f, 6).hex() for f in files])
    if op == "gzip.open.read":
        return json.dumps([gzip.compress(f, 6).hex() for f in files])
    if op == "bz2.decompress":
        return json.dumps([bz2.compress(f, 9).hex() for f in files])
    return ""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kel", default=os.path.join(HERE, "..", "build", "release", "apps", "kel"))
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--min-time", type=float, default=0.5)
    parser.add_argument("--only", default="")
    parser.add_argument("--worker", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        worker(args.worker, args.min_time)
        return
    ops = args.only.split(",") if args.only else OPERATIONS
    me = os.path.abspath(__file__)
    print(f"{'operation':18} {'system MB/s':>12} {'kel MB/s':>10} {'speedup':>8} {'size':>6}")
    for op in ops:
        data = inputs_for(op)
        rates = {"system": [], "kel": []}
        sizes = {}
        for _ in range(args.repetitions):
            for side in ("system", "kel"):
                cmd = [PYTHON, me, "--worker", op, "--min-time", str(args.min_time)]
                if side == "kel":
                    cmd = [args.kel, "run", "--"] + cmd
                out = subprocess.run(cmd, input=data, capture_output=True, text=True, check=True).stdout
                result = json.loads(out)
                rates[side].append(result["rate"])
                sizes[side] = result["size"]
        sys_rate = statistics.median(rates["system"]) / 1e6
        kel_rate = statistics.median(rates["kel"]) / 1e6
        size = f"{sizes['kel'] / sizes['system']:.3f}" if sizes["system"] else "-"
        print(f"{op:18} {sys_rate:12.1f} {kel_rate:10.1f} {kel_rate / sys_rate:7.2f}x {size:>6}", flush=True)


if __name__ == "__main__":
    main()
