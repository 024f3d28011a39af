#!/usr/bin/env python3
"""Peak resident size and wall time of the feroq tool's listings on farm files
of several sizes (scripts/memory-bench.sh builds the programs and calls this).

Each command runs as its own process, REPEAT times; the table gives the median
wall time, the median CPU time (user and system, all threads) and the largest
peak resident size (getrusage of the child, ru_maxrss) of the runs, and the
targets beside them (judged on CPU time, which the machine's other load moves
much less than wall time). Every run has a time
bound; a run that passes it, or fails, is reported as such.

usage: memory_table.py FEROQ FARM_SEED WORK_DIR SIZE...
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

REPEAT = int(os.environ.get("MEMORY_BENCH_REPEAT", "3"))
RUN_LIMIT_S = 600
SEED_VERSION = 2  # bump when farm_seed writes another shape

# (label, arguments, the target at the largest size, as (seconds, MiB) or None)
COMMANDS = [
    ("farm info", ["farm", "info"], (0.020, 20)),
    ("app list", ["app", "list"], (1.5, 64)),
    ("app list --json", ["--json", "app", "list"], None),
    ("folder tree", ["folder", "tree"], None),
    ("folder tree --json", ["--json", "folder", "tree"], None),
    ("export-all", ["export-all", "{out}"], None),
]


def run(argv, out_dir):
    """Wall seconds, CPU seconds and peak resident KiB of one run, or None on failure.

    The command runs under /usr/bin/time, whose own small process is what
    the command's peak starts from (a child forked from this interpreter
    would count the interpreter's pages as its own until it execs)."""
    shutil.rmtree(out_dir, ignore_errors=True)
    argv = [a.replace("{out}", out_dir) for a in argv]
    usage_file = tempfile.NamedTemporaryFile(delete=False)
    usage_file.close()
    argv = ["/usr/bin/time", "-f", "%U %S %M", "-o", usage_file.name] + argv
    start = time.perf_counter()
    with open(os.devnull, "wb") as sink, tempfile.TemporaryFile() as errors:
        child = subprocess.Popen(argv, stdout=sink, stderr=errors)
        deadline = start + RUN_LIMIT_S
        while True:
            pid, status, _ = os.wait4(child.pid, os.WNOHANG)
            if pid != 0:
                break
            if time.perf_counter() > deadline:
                child.kill()
                os.wait4(child.pid, 0)
                return None
            time.sleep(0.001)
        wall = time.perf_counter() - start
        if os.waitstatus_to_exitcode(status) != 0:
            errors.seek(0)
            sys.stderr.write(f"failed: {' '.join(argv)}: {errors.read(2000).decode(errors='replace')}\n")
            return None
    shutil.rmtree(out_dir, ignore_errors=True)
    with open(usage_file.name) as measured:
        user, system, peak = measured.read().split()[-3:]
    os.remove(usage_file.name)
    return wall, float(user) + float(system), int(peak)


def main():
    feroq, seed, work = sys.argv[1:4]
    sizes = [int(s) for s in sys.argv[4:]]
    os.makedirs(work, exist_ok=True)
    results = {}
    for size in sizes:
        farm = os.path.join(work, f"farm-{size}-v{SEED_VERSION}.db")
        if not os.path.exists(farm):
            sys.stderr.write(f"seeding {farm}\n")
            subprocess.run([seed, farm + ".new", str(size)], check=True)
            for suffix in ("-wal", "-shm"):
                if os.path.exists(farm + ".new" + suffix):
                    os.remove(farm + ".new" + suffix)
            os.rename(farm + ".new", farm)
        for label, args, _ in COMMANDS:
            sys.stderr.write(f"{size}: {label}\n")
            # Exporting writes a file per application: once is enough at 100,000.
            repeat = 1 if label == "export-all" and size >= 100000 else REPEAT
            runs = [run([feroq, "--farm", "sqlite:" + farm] + args, os.path.join(work, "export-out"))
                    for _ in range(repeat)]
            ok = [r for r in runs if r is not None]
            results[(size, label)] = ((statistics.median(r[0] for r in ok), statistics.median(r[1] for r in ok),
                                       max(r[2] for r in ok)) if ok else None)

    load = open("/proc/loadavg").read().split()[:3]
    print(f"feroq tool, {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}, {os.cpu_count()} cores, "
          f"load average {' '.join(load)}; median wall / CPU time of {REPEAT} runs (export-all at 100,000: one), "
          "peak = largest maximum resident size")
    print()
    print("| Command | " + " | ".join(f"{s:,} apps" for s in sizes) + " | Target at the largest |")
    print("|---|" + "---|" * len(sizes) + "---|")
    for label, _, target in COMMANDS:
        cells = []
        for size in sizes:
            r = results[(size, label)]
            cells.append("failed" if r is None else f"{r[0] * 1000:,.0f} / {r[1] * 1000:,.0f} ms, {r[2] / 1024:.1f} MiB")
        goal = ""
        if target is not None and results[(sizes[-1], label)] is not None:
            _, cpu, peak = results[(sizes[-1], label)]
            met = cpu <= target[0] and peak / 1024 <= target[1]
            goal = f"< {target[0] * 1000:,.0f} ms, < {target[1]} MiB: {'met' if met else 'missed'}"
        if label == "export-all" and results[(sizes[0], label)] and results[(sizes[-1], label)]:
            grown = (results[(sizes[-1], label)][2] - results[(sizes[0], label)][2]) / 1024
            goal = f"peak within 64 MiB of the smallest: +{grown:.1f} MiB, {'met' if grown <= 64 else 'missed'}"
        print(f"| `{label}` | " + " | ".join(cells) + f" | {goal} |")


if __name__ == "__main__":
    main()
