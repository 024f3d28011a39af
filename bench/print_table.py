#!/usr/bin/env python3
"""Prints the benchmark table from the JSON files scripts/bench.sh writes.

Usage: print_table.py DIR   (DIR holds one <program>.json per benchmark program)

Each line is a figure beside its reference measured in the same run and the
ratio figure/reference of their times (above 1: the figure is slower). CPU
time is used for work that stays in memory, wall-clock time for work that
waits on files (export, SQLite) and for latencies.
"""
import json
import os
import sys

SIZES = (1000, 10000, 100000)


def load(directory):
    runs = {}
    for file_name in sorted(os.listdir(directory)):
        if not file_name.endswith(".json"):
            continue
        program = file_name[:-5]
        with open(os.path.join(directory, file_name)) as handle:
            text = handle.read()
        if not text.strip():
            continue
        for entry in json.loads(text).get("benchmarks", []):
            if entry.get("run_type", "iteration") != "iteration":
                continue
            # Settings that only shape the run are left out of the name.
            name = "/".join(part for part in entry["name"].split("/")
                            if not part.startswith(("min_warmup_time:", "min_time:")))
            runs[(program, name)] = entry
    return runs


TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def time_ns(entry, metric):
    key = "cpu_time" if metric == "cpu" else "real_time"
    return entry[key] * TO_NS[entry.get("time_unit", "ns")]


def show_ns(ns):
    if ns is None:
        return "-"
    if ns < 1e3:
        return "%.1f ns" % ns
    if ns < 1e6:
        return "%.2f us" % (ns / 1e3)
    if ns < 1e9:
        return "%.2f ms" % (ns / 1e6)
    return "%.2f s" % (ns / 1e9)


def rows():
    """(label, program, name, reference label, ref program, ref name, metric, limit, note)."""
    out = []
    for n in SIZES:
        out.append(("registry hit, %d held" % n, "registry_bench", "BM_RegistryHit/%d" % n,
                    "std::map find", "registry_bench", "BM_MapLookup/%d" % n, "cpu", 2.0, "target <= 2x"))
    for n in SIZES:
        out.append(("EnumerateApps, %d apps" % n, "enumeration_bench", "BM_EnumerateApps/%d" % n,
                    "ZQAppSAL::EnumApps", "enumeration_bench", "BM_EnumAppsService/%d" % n, "cpu", None,
                    "per app"))
    for n in SIZES:
        out.append(("EnumerateApps, %d apps, trim off" % n, "enumeration_trim_bench",
                    "BM_EnumerateApps/%d" % n, "ZQAppSAL::EnumApps", "enumeration_trim_bench",
                    "BM_EnumAppsService/%d" % n, "cpu", None, "per app"))
    for depth, siblings in ((8, 20), (2, 20), (4, 20), (8, 5), (8, 80)):
        suffix = "depth:%d/siblings:%d" % (depth, siblings)
        out.append(("GetObjectByDN folder, %d deep x %d" % (depth, siblings), "dn_lookup_bench",
                    "BM_GetObjectByDN_Folder/" + suffix, "service walk", "dn_lookup_bench",
                    "BM_ServiceWalk_Folder/" + suffix, "cpu", None, "per child walked"))
    out.append(("GetObjectByDN app, 8 deep x 20", "dn_lookup_bench", "BM_GetObjectByDN_App/8/20",
                "service walk", "dn_lookup_bench", "BM_ServiceWalk_App/8/20", "cpu", None, ""))
    for depth in (2, 8, 64):
        out.append(("GetDistinguishedName, %d deep" % depth, "name_builder_bench",
                    "BM_GetDistinguishedName/%d" % depth, "folder service calls", "name_builder_bench",
                    "BM_FolderServiceWalk/%d" % depth, "cpu", None, ""))
    for kind, label in ((2, "definition file"), (0, "launch file"), (1, "HTML page")):
        out.append(("ExportFile, %s" % label, "export_bench", "BM_ExportFile/type:%d/real_time" % kind,
                    "stdio write", "export_bench", "BM_StdioWrite/type:%d/real_time" % kind, "real", None,
                    "bytes"))
    for what, raw in (("CreateZQWinApp", "INSERT"), ("Load", "SELECT by id"), ("Save", "UPDATE by id")):
        figure = {"CreateZQWinApp": "BM_SqliteCreateZQWinApp", "Load": "BM_SqliteLoad",
                  "Save": "BM_SqliteSave"}[what]
        reference = {"CreateZQWinApp": "BM_RawInsert", "Load": "BM_RawPointRead",
                     "Save": "BM_RawUpdate"}[what]
        for n in SIZES:
            out.append(("sqlite %s, %d apps" % (what, n), "sqlite_farm_bench", "%s/%d/real_time" % (figure, n),
                        "raw " + raw, "sqlite_farm_bench", "%s/%d/real_time" % (reference, n), "real",
                        1 / 0.7, "target rate >= 0.7x"))
    for n in SIZES:
        out.append(("sqlite Save, %d apps" % n, "sqlite_farm_bench", "BM_SqliteSave/%d/real_time" % n,
                    "raw INSERT OR REPLACE", "sqlite_farm_bench", "BM_RawReplace/%d/real_time" % n, "real",
                    None, "(full-row statement)"))
    for n in (1000, 10000):
        out.append(("tree farm EnumerateApps, %d" % n, "large_farm_bench", "BM_TreeEnumerateApps/%d" % n,
                    None, None, None, "cpu", None, "per app"))
        out.append(("tree farm GetObjectByDN, %d" % n, "large_farm_bench", "BM_TreeGetObjectByDN/%d" % n,
                    None, None, None, "cpu", None, ""))
    out.append(("tree farm GetAppByDN, 1000", "large_farm_bench", "BM_TreeGetAppByDN/1000/iterations:20",
                None, None, None, "cpu", None, "O(farm), per app"))
    out.append(("tree farm GetAppByDN, 10000", "large_farm_bench", "BM_TreeGetAppByDN/10000/iterations:10",
                None, None, None, "cpu", None, "O(farm), per app"))
    return out


LATENCIES = (
    ("event latency in-process, memory farm", "BM_EventLatencyInProcessMemory/iterations:1/manual_time", 1e6),
    ("event latency in-process, sqlite farm", "BM_EventLatencyInProcessSqlite/iterations:1/manual_time", 1e6),
    ("event latency across processes, sqlite", "BM_EventLatencyCrossProcessSqlite/iterations:1/manual_time", 5e6),
)


# farm_vs_raw_bench: (label, benchmark name, raw label, kind, target) where
# kind "ratio" compares of_raw (raw time / feroq time) with the target, and
# "us" compares feroq_us with the target in microseconds.
VERSUS_RAW = []
for _n in SIZES:
    VERSUS_RAW += [
        ("publish, %d apps" % _n, "BM_Publish/%d" % _n, "autocommit INSERT", "ratio", 0.7),
        ("Load, %d apps" % _n, "BM_Load/%d" % _n, "SELECT by id", "ratio", 0.7),
        ("Save, %d apps" % _n, "BM_Save/%d" % _n, "UPDATE + event row txn", "ratio", 0.8),
        ("EnumerateApps per app, %d" % _n, "BM_EnumerateApps/%d" % _n, "covering index scan", "us",
         0.5 if _n == 100000 else None),
        ("GetObjectByDN per sibling, %d" % _n, "BM_GetObjectByDN/%d" % _n, None, "us", 2.0),
    ]
VERSUS_RAW += [
    ("GetObjectByDN 3 levels, 100000", "BM_GetObjectByDN3Levels/100000", None, "us", 50.0),
    ("tool: farm info, per process", "BM_ToolFarmInfo", "/bin/true", "us", 4000.0),
    ("tool: app publish, per process", "BM_ToolAppPublish", "sqlite3 shell INSERT", "us", 5000.0),
    ("tool: import 1,000 files", "BM_ToolImport", "read + INSERT, 1 txn", "ratio", 0.7),
]


def print_versus_raw(runs):
    print()
    header = "%-34s %11s  %-24s %11s  %7s %7s  %s" % ("feroq beside raw SQLite", "feroq", "raw statement", "raw",
                                                      "of raw", "by CPU", "target (wall)")
    print(header)
    print("-" * len(header))
    for label, name, raw_label, kind, target in VERSUS_RAW:
        entry = runs.get(("farm_vs_raw_bench", name + "/iterations:1/manual_time"))
        if entry is None or entry.get("error_occurred"):
            reason = "(not run)" if entry is None else "ERROR: " + entry.get("error_message", "")
            print("%-34s %s" % (label, reason))
            continue
        feroq_us = entry["feroq_us"]
        raw_us = entry.get("raw_us")
        of_raw = entry.get("of_raw")
        text = ""
        if kind == "ratio" and of_raw is not None:
            text = ">= %.1f of raw: %s" % (target, "met" if of_raw >= target else "MISSED by %.2f" % (target - of_raw))
        elif kind == "us" and target is not None:
            text = "<= %s: %s" % (show_ns(target * 1e3), "met" if feroq_us <= target else
                                  "MISSED, %.1fx" % (feroq_us / target))
        # A tool's work is in its own process, which this process's CPU time leaves out.
        of_raw_cpu = None if name.startswith("BM_Tool") else entry.get("of_raw_cpu")
        print("%-34s %11s  %-24s %11s  %7s %7s  %s" % (
            label, show_ns(feroq_us * 1e3), raw_label or "-", show_ns(raw_us * 1e3) if raw_us else "-",
            "%.2f" % of_raw if of_raw is not None else "-",
            "%.2f" % of_raw_cpu if of_raw_cpu is not None else "-", text))


def apps_of(label):
    for token in label.replace(",", " ").split():
        if token.isdigit() and int(token) >= 1000:
            return int(token)
    return None


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    runs = load(sys.argv[1])
    header = "%-42s %11s  %-22s %11s  %7s  %s" % ("figure", "time", "reference", "time", "ratio", "note")
    print(header)
    print("-" * len(header))
    for label, program, name, ref_label, ref_program, ref_name, metric, limit, note in rows():
        entry = runs.get((program, name))
        if entry is None:
            print("%-42s %11s  (not run)" % (label, "-"))
            continue
        if entry.get("error_occurred"):
            print("%-42s %11s  ERROR: %s" % (label, "-", entry.get("error_message", "")))
            continue
        figure = time_ns(entry, metric)
        reference = None
        if ref_program is not None and (ref_program, ref_name) in runs:
            reference = time_ns(runs[(ref_program, ref_name)], metric)
        ratio = "%.2fx" % (figure / reference) if reference else "-"
        text = note
        if note == "per app":
            text = "%s per app" % show_ns(figure / apps_of(label))
        elif note == "O(farm), per app":
            text = "O(farm): %s per app in the farm" % show_ns(figure / apps_of(label))
        elif note == "per child walked":
            parts = label.split(",")[1].split("deep x")
            children = int(parts[0]) * int(parts[1])
            text = "%s per child walked" % show_ns(figure / children)
        elif note == "bytes":
            text = "%d bytes" % entry.get("bytes", 0)
        if limit is not None and reference:
            verdict = "met" if figure / reference <= limit else "MISSED"
            text = "%s: %s" % (note, verdict)
        print("%-42s %11s  %-22s %11s  %7s  %s" % (label, show_ns(figure), ref_label or "-",
                                                    show_ns(reference), ratio, text))
    print()
    print("%-42s %11s %11s %11s %11s  %s" % ("latency (commit start to wake)", "median", "p99", "max",
                                               "save p50", "target p99"))
    for label, name, limit_ns in LATENCIES:
        entry = runs.get(("event_latency_bench", name))
        if entry is None or entry.get("error_occurred"):
            reason = "(not run)" if entry is None else "ERROR: " + entry.get("error_message", "")
            print("%-42s %s" % (label, reason))
            continue
        p99 = entry["p99_us"] * 1e3
        verdict = "met" if p99 < limit_ns else "MISSED"
        print("%-42s %11s %11s %11s %11s  < %s: %s (%d events)" % (
            label, show_ns(entry["p50_us"] * 1e3), show_ns(p99), show_ns(entry["max_us"] * 1e3),
            show_ns(entry["save_p50_us"] * 1e3), show_ns(limit_ns), verdict, entry["events"]))
    print_versus_raw(runs)


if __name__ == "__main__":
    main()
