#!/usr/bin/env python3
"""Turns the JSON output of the benchmarks into Markdown tables of ratios.

Every benchmark is named GROUP/CASE/CONTENDER, the library's own contender
being "Orvex". For each group and case the table gives our throughput divided
by each other contender's (above 1 means we are faster), taken from the median
of the repetitions (or from the best one with --stat max).

The tick manager's group (OrvexTick) is read the first way: ours divided by
Asio's timer queue and by a std::priority_queue scheduler, in callbacks (or
add/delete pairs) per second.

Groups listed in VARIANTS get one more table: for every case that has a
variant (the case's name with the variant's suffix, such as a read with a
patch laid over the file), our throughput in the variant divided by ours in
the plain case, and its inverse, the variant's cost in time per operation.

Groups listed in BASELINES get a table of another kind: every contender,
ours included, divided by the baseline (the allocators against glibc's
malloc, the one every Linux program has), so that ours and the peers can be
read off one scale. Throughput is bytes per second where the benchmark counts
bytes, operations per second where it counts items.

Cases that report resident memory (the counter resident_per_live) get a table
of their own: each contender's figure (lower is leaner) and its ratio to ours.

    ratios.py [--stat median|max] RESULT.json [RESULT.json ...]
"""
import argparse
import json
import statistics
import sys
from collections import OrderedDict

# Group -> the contender every other one (ours included) is divided by.
BASELINES = {"OrvexAlloc": "glibc"}

# Group -> (suffix of a variant case, its label): ours in CASE+suffix divided
# by ours in CASE.
VARIANTS = {"OrvexPackageRead": ("-patched", "patched"),
            "OrvexProfile": ("-recording", "recording")}

# The counter of the cases that measure memory instead of time.
RESIDENT = "resident_per_live"

# What Google Benchmark appends to a name: the timing kind, the thread count, a
# fixed iteration count.
SUFFIXES = ("manual_time", "real_time", "process_time")
PREFIXES = ("threads:", "iterations:", "repeats:")


def split_name(run_name):
    parts = [part for part in run_name.split("/")
             if part not in SUFFIXES and not part.startswith(PREFIXES)]
    group, case, contender = parts
    return group, case, contender


def throughputs(paths, stat):
    """{(group, case): {contender: rate}} in the order of the runs, and the
    set of (group, case) keys whose rates are bytes per second (a group may
    count items in some cases and bytes in others)."""
    entries = []
    for path in paths:
        with open(path) as stream:
            entries += [(path, entry) for entry in json.load(stream)["benchmarks"]
                        if entry.get("run_type", "iteration") == "iteration"]
    # Registration order, not run order: interleaved runs come shuffled.
    entries.sort(key=lambda item: (paths.index(item[0]), item[1]["family_index"]))
    runs = OrderedDict()
    in_bytes = set()
    for _, entry in entries:
        group, case, contender = split_name(entry["run_name"])
        if RESIDENT in entry:
            continue  # a memory figure, no rate: see residents()
        if "bytes_per_second" in entry:
            in_bytes.add((group, case))
        rate = entry["bytes_per_second"] if "bytes_per_second" in entry else entry[
            "items_per_second"]
        runs.setdefault((group, case), OrderedDict()).setdefault(
            contender, []).append(rate)
    pick = statistics.median if stat == "median" else max
    return OrderedDict(
        (key, OrderedDict((name, pick(values)) for name, values in contenders.items()))
        for key, contenders in runs.items()), in_bytes


def residents(paths):
    """{(group, case): {contender: median figure}} of the cases that report
    resident memory per live byte."""
    figures = OrderedDict()
    for path in paths:
        with open(path) as stream:
            for entry in json.load(stream)["benchmarks"]:
                if entry.get("run_type", "iteration") == "iteration" and RESIDENT in entry:
                    group, case, contender = split_name(entry["run_name"])
                    figures.setdefault((group, case), OrderedDict()).setdefault(
                        contender, []).append(entry[RESIDENT])
    return OrderedDict((key, OrderedDict((name, statistics.median(values))
                                         for name, values in contenders.items()))
                       for key, contenders in figures.items())


def resident_table(key, figures):
    """Resident bytes per live byte (lower is leaner), and each peer's over
    ours (above 1: the peer takes more)."""
    group, case = key
    names = sorted(figures, key=lambda name: name != "Orvex")
    labels = ["ours" if name == "Orvex" else name for name in names]
    lines = ["| %s %s (resident / live) | %s |" % (group, case, " | ".join(labels)),
             "|---|" + "---:|" * len(names),
             "| resident / live | %s |" % " | ".join("%.3f" % figures[name] for name in names)]
    if "Orvex" in figures:
        lines.append("| vs ours | %s |" % " | ".join(
            "%.2fx" % (figures[name] / figures["Orvex"]) for name in names))
    return "\n".join(lines)


def human(rate):
    for unit, scale in (("GB/s", 1e9), ("MB/s", 1e6)):
        if rate >= scale:
            return "%.2f %s" % (rate / scale, unit)
    return "%.0f B/s" % rate


def human_ops(rate):
    if rate >= 1e6:
        return "%.1f M/s" % (rate / 1e6)
    if rate >= 1e3:
        return "%.1f k/s" % (rate / 1e3)
    return "%.2f /s" % rate


def baseline_table(group, cases, baseline):
    """Every contender divided by the baseline; "-" where one did not run."""
    names = []
    for rates in cases.values():
        names += [name for name in rates if name not in names and name != baseline]
    # Ours first, then the peers in the order they ran.
    names.sort(key=lambda name: name != "Orvex")
    labels = ["ours" if name == "Orvex" else name for name in names]
    lines = ["| %s | %s | %s |" % (group, baseline, " | ".join("%s / %s" % (label, baseline)
                                                                for label in labels)),
             "|---|---:|" + "---:|" * len(names)]
    for case, rates in cases.items():
        base = rates[baseline]
        cells = ["%.2fx (%s)" % (rates[name] / base, human_ops(rates[name]))
                 if name in rates else "-" for name in names]
        lines.append("| %s | %s | %s |" % (case, human_ops(base), " | ".join(cells)))
    return "\n".join(lines)


def table(group, cases, show=human):
    peers = [name for name in next(iter(cases.values())) if name != "Orvex"]
    lines = ["| %s | ours | %s |" % (group, " | ".join("vs %s" % p for p in peers)),
             "|---|---:|" + "---:|" * len(peers)]
    for case, rates in cases.items():
        ours = rates["Orvex"]
        # A variant case may run ours alone.
        cells = ["%.2fx (%s)" % (ours / rates[p], show(rates[p])) if p in rates else "-"
                 for p in peers]
        lines.append("| %s | %s | %s |" % (case, show(ours), " | ".join(cells)))
    return "\n".join(lines)


def variant_pairs(cases, suffix):
    """(case, our plain rate, our rate in the variant) for every plain case of
    a group whose variant (CASE+suffix) ran too."""
    for case, rates in cases.items():
        variant = cases.get(case + suffix)
        if not case.endswith(suffix) and variant is not None:
            yield case, rates["Orvex"], variant["Orvex"]


def variant_table(group, cases, suffix, label, show):
    """Ours in each variant case divided by ours in its plain case, and the
    cost: the variant's time per operation over the plain one's."""
    lines = ["| %s | plain | %s | %s / plain | cost (time, %s / plain) |" % (
        group, label, label, label),
             "|---|---:|---:|---:|---:|"]
    for case, plain, changed in variant_pairs(cases, suffix):
        lines.append("| %s | %s | %s | %.2fx | %.2fx |" % (case, show(plain), show(changed),
                                                            changed / plain, plain / changed))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--stat", choices=("median", "max"), default="median")
    parser.add_argument("results", nargs="+")
    args = parser.parse_args()
    groups = OrderedDict()
    rates_by_case, in_bytes = throughputs(args.results, args.stat)
    for (group, case), rates in rates_by_case.items():
        groups.setdefault(group, OrderedDict())[case] = rates
    tables = []
    for group, cases in groups.items():
        show = human if any((group, case) in in_bytes for case in cases) else human_ops
        if group in BASELINES:
            tables.append(baseline_table(group, cases, BASELINES[group]))
        else:
            tables.append(table(group, cases, show))
        if group in VARIANTS:
            tables.append(variant_table(group, cases, *VARIANTS[group], show))
    for key, figures in residents(args.results).items():
        tables.append(resident_table(key, figures))
    print("\n\n".join(tables))
    return 0


if __name__ == "__main__":
    sys.exit(main())
