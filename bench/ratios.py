#!/usr/bin/env python3
"""Turns the JSON output of the benchmarks into Markdown tables of ratios.

Every benchmark is named GROUP/CASE/CONTENDER, the library's own contender
being "Orvex". For each group and case the table gives our throughput divided
by each other contender's (above 1 means we are faster), taken from the median
of the repetitions (or from the best one with --stat max).

    ratios.py [--stat median|max] RESULT.json [RESULT.json ...]
"""
import argparse
import json
import statistics
import sys
from collections import OrderedDict


def throughputs(paths, stat):
    """{(group, case): {contender: bytes per second}} in the order of the runs."""
    entries = []
    for path in paths:
        with open(path) as stream:
            entries += [(path, entry) for entry in json.load(stream)["benchmarks"]
                        if entry.get("run_type", "iteration") == "iteration"]
    # Registration order, not run order: interleaved runs come shuffled.
    entries.sort(key=lambda item: (paths.index(item[0]), item[1]["family_index"]))
    runs = OrderedDict()
    for _, entry in entries:
        group, case, contender = entry["run_name"].split("/")
        runs.setdefault((group, case), OrderedDict()).setdefault(
            contender, []).append(entry["bytes_per_second"])
    pick = statistics.median if stat == "median" else max
    return OrderedDict(
        (key, OrderedDict((name, pick(values)) for name, values in contenders.items()))
        for key, contenders in runs.items())


def human(rate):
    for unit, scale in (("GB/s", 1e9), ("MB/s", 1e6)):
        if rate >= scale:
            return "%.2f %s" % (rate / scale, unit)
    return "%.0f B/s" % rate


def table(group, cases):
    peers = [name for name in next(iter(cases.values())) if name != "Orvex"]
    lines = ["| %s | ours | %s |" % (group, " | ".join("vs %s" % p for p in peers)),
             "|---|---:|" + "---:|" * len(peers)]
    for case, rates in cases.items():
        ours = rates["Orvex"]
        cells = ["%.2fx (%s)" % (ours / rates[p], human(rates[p])) for p in peers]
        lines.append("| %s | %s | %s |" % (case, human(ours), " | ".join(cells)))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--stat", choices=("median", "max"), default="median")
    parser.add_argument("results", nargs="+")
    args = parser.parse_args()
    groups = OrderedDict()
    for (group, case), rates in throughputs(args.results, args.stat).items():
        groups.setdefault(group, OrderedDict())[case] = rates
    print("\n\n".join(table(group, cases) for group, cases in groups.items()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
