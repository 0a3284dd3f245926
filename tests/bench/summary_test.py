#!/usr/bin/env python3
"""Runs bench/summary.py on a made-up run of known ratios and reads back the
table it wrote and the bars of its chart.

    summary_test.py [PATH/TO/summary.py]
"""
import fnmatch
import json
import math
import os
import statistics
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

TOOL = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench", "summary.py")

# File -> cases (group, case, unit, [(contender, rate, ...)]) in registration
# order. The peers: OrvexAlpha's first contender after ours, OrvexAlloc's
# baseline (though it ran last), OrvexProfile's named one.
RUN = {"a.json": [
    ("OrvexAlpha", "half", "bytes", [("Orvex", 0.9e9, 1e9, 1.4e9), ("fast", 2e9), ("slow", 5e8)]),
    ("OrvexAlpha", "even", "bytes", [("Orvex", 3e9), ("fast", 3e9)]),
    ("OrvexAlpha", "double", "bytes", [("Orvex", 4e9), ("fast", 2e9)]),
    ("OrvexAlpha", "huge", "bytes", [("Orvex", 2.5e9), ("fast", 1e7)]),
    ("OrvexAlpha", "edge", "bytes", [("Orvex", 0.996e9), ("fast", 1e9)]),
    ("OrvexBeta", "tiny", "items", [("Orvex", 4e5), ("peer", 1e7)]),
    ("OrvexBeta", "slight", "items", [("Orvex", 9.9e6), ("peer", 1e7)])],
    "b.json": [
    ("OrvexAlloc", "pair", "items", [("Orvex", 3e8), ("mimalloc", 6e8), ("glibc", 1.5e8)]),
    ("OrvexAlloc", "mixed-resident", "resident_per_live", [("Orvex", 1.2), ("glibc", 1.1)]),
    ("OrvexProfile", "pair", "items", [("Orvex", 9e6), ("GetProcessTime", 9.5e6),
                                       ("steady_clock", 1.2e7)]),
    # A variant: our own cost, no row even where a peer ran beside it.
    ("OrvexProfile", "pair-recording", "items", [("Orvex", 6e6), ("steady_clock", 1.2e7)])]}
PEERS = {"OrvexAlpha": "fast", "OrvexBeta": "peer", "OrvexAlloc": "glibc",
         "OrvexProfile": "steady_clock"}
BOUNDS = {"OrvexAlpha/*/fast": "Made-up bound.", "OrvexProfile/pair/steady_clock": "Made-up clock."}
DOC = "# Doc\n\nBefore.\n\n<!-- summary:begin -->\nold\n<!-- summary:end -->\n\nAfter.\n"
CPU = "Made-up CPU 9000"


def expected():
    """{(group, case): (peer, ours / peer)} of the rows the table must hold."""
    rows = {}
    for cases in RUN.values():
        for group, case, unit, contenders in cases:
            rates = {name: statistics.median(values) for name, *values in contenders}
            if unit != "resident_per_live" and not case.endswith("-recording"):
                rows[(group, case)] = (PEERS[group], rates["Orvex"] / rates[PEERS[group]])
    return rows


def run_tool(folder, doc_text=DOC):
    paths = []
    for number, (name, cases) in enumerate(sorted(RUN.items())):
        # One family per contender of a case, as Google Benchmark numbers them.
        families = [(group, case, unit, contender, values) for group, case, unit, contenders
                    in cases for contender, *values in contenders]
        entries = [{"run_name": "%s/%s/%s" % (group, case, contender), "family_index": index,
                    ("%s_per_second" % unit if unit != "resident_per_live" else unit): value}
                   for index, (group, case, unit, contender, values) in enumerate(families)
                   for value in values]
        context = {"date": "2031-05-06T10:%02d:00+00:00" % (20 * number),
                   "host_name": "testhost", "num_cpus": 3}
        paths.append(os.path.join(folder, name))
        with open(paths[-1], "w") as stream:
            json.dump({"context": context, "benchmarks": entries[::-1]}, stream)
    files = {name: os.path.join(folder, name) for name in ("doc.md", "bounds.json", "cpuinfo")}
    for name, text in (("doc.md", doc_text), ("bounds.json", json.dumps(BOUNDS)),
                       ("cpuinfo", "processor\t: 0\nmodel name\t: %s\n" % CPU)):
        with open(files[name], "w") as stream:
            stream.write(text)
    result = subprocess.run(
        [sys.executable, TOOL, "--doc", files["doc.md"], "--svg", os.path.join(folder, "c.svg"),
         "--bounds", files["bounds.json"], "--cpuinfo", files["cpuinfo"]] + paths,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)
    return result, read(files["doc.md"]), read(os.path.join(folder, "c.svg"))


def read(path):
    with open(path) as stream:
        return stream.read()


class SummaryTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory() as folder:
            cls.result, cls.doc, cls.chart = run_tool(folder)

    def test_table_rows_carry_the_ratios_and_the_bounds(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        before, inside = self.doc.split("<!-- summary:begin -->\n")
        inside, after = inside.split("<!-- summary:end -->")
        self.assertEqual((before, after), ("# Doc\n\nBefore.\n\n", "\n\nAfter.\n"))
        for part in ("2031-05-06 10:00-10:20 UTC", "testhost", CPU, "3 cores"):
            self.assertIn(part, inside.splitlines()[0])
        rows = {tuple(cells[:2]): cells for cells in (
            [cell.strip() for cell in line.strip("|").split("|")]
            for line in inside.splitlines() if line.startswith("| Orvex"))}
        self.assertEqual(set(rows), set(expected()))
        unexplained = set()
        for (group, case), (peer, ratio) in expected().items():
            key = "%s/%s/%s" % (group, case, peer)
            bounds = [text for pattern, text in BOUNDS.items() if fnmatch.fnmatchcase(key, pattern)]
            bound = "" if round(ratio, 2) >= 1 else (bounds + ["**unexplained**"])[0]
            cells = rows[(group, case)]
            self.assertEqual((cells[3], cells[5], cells[6]), (peer, "%.2fx" % ratio, bound))
            if bound == "**unexplained**":
                unexplained.add(key)
        self.assertTrue(rows[("OrvexAlpha", "double")][2].endswith("GB/s"))
        self.assertTrue(rows[("OrvexBeta", "tiny")][2].endswith("k/s"))
        self.assertIn("OrvexProfile pair-recording %.2fx" % (9 / 6), inside)
        listed = {line.split()[0] for line in self.result.stderr.splitlines()
                  if line.startswith("  ")}
        self.assertEqual(listed, unexplained)
        self.assertTrue(unexplained)

    def test_bars_stand_at_their_ratios_on_a_log_scale(self):
        svg = "{http://www.w3.org/2000/svg}"
        root = ElementTree.fromstring(self.chart)
        scale = {float(line.get("data-value")): float(line.get("x1"))
                 for line in root.iter(svg + "line") if line.get("data-value")}
        low, high = min(scale), max(scale)
        self.assertEqual((low, high), (0.1, 100.0))

        def at(ratio):
            ratio = min(max(ratio, low), high)
            return scale[low] + (scale[high] - scale[low]) * math.log(ratio / low) / math.log(
                high / low)

        for value, x in scale.items():
            self.assertAlmostEqual(x, at(value), delta=1, msg="tick %g" % value)
        bars = {(rect.get("data-group"), rect.get("data-case")): rect
                for rect in root.iter(svg + "rect") if "bar" in rect.get("class", "").split()}
        self.assertEqual(set(bars), set(expected()))
        off_scale = [key for key, (_, ratio) in expected().items() if not low <= ratio <= high]
        self.assertEqual(len(off_scale), 2)
        self.assertEqual(len([shape for shape in root.iter(svg + "polygon")
                              if shape.get("class") == "clamp"]), len(off_scale))
        fills = {}
        for key, (peer, ratio) in expected().items():
            rect, below = bars[key], round(ratio, 2) < 1
            left, width = float(rect.get("x")), float(rect.get("width"))
            self.assertAlmostEqual(left, min(at(1), at(ratio)), delta=1, msg=key)
            self.assertAlmostEqual(left + width, max(at(1), at(ratio)), delta=1, msg=key)
            self.assertEqual(rect.get("data-peer"), peer)
            self.assertEqual(("below" in rect.get("class"), "clamped" in rect.get("class")),
                             (below, key in off_scale), key)
            fills.setdefault(below, set()).add(rect.get("fill"))
        self.assertEqual([len(fills[False]), len(fills[True])], [1, 1])
        self.assertNotEqual(fills[False], fills[True])

    def test_a_rerun_changes_nothing_and_a_doc_without_markers_is_refused(self):
        with tempfile.TemporaryDirectory() as folder:
            self.assertEqual(run_tool(folder)[1:], (self.doc, self.chart))
            self.assertEqual(run_tool(folder, self.doc)[1], self.doc)
            refused, doc, _ = run_tool(folder, "# No markers\n")
            self.assertNotEqual(refused.returncode, 0)
            self.assertEqual(doc, "# No markers\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
