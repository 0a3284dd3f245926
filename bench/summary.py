#!/usr/bin/env python3
"""Writes the performance summary: one row per benchmark case, ours beside one peer.

Reads the same JSON files as ratios.py (through its parsing) and writes two
things from them:

- a Markdown table between the lines "<!-- summary:begin -->" and
  "<!-- summary:end -->" of docs/PERFORMANCE.md, replacing what stands there:
  for every case our throughput, the peer's, and ours divided by the peer's,
  under a line giving the date of the run and the machine;
- a chart, docs/performance.svg: one bar per case from 1.0x to the ratio on a
  log scale from 0.1x to 100x, grouped by component.

The peer of a case is the one a user would otherwise call: the group's entry
in PRIMARY, or else its baseline in ratios.BASELINES, or else the first
contender other than ours that ran in the case.

A ratio below 1.0x (as printed, to two decimals) takes its explanation, what
bounds the case, from bench/bounds.json, whose keys are GROUP/CASE/PEER
patterns ("*" matches any text). A row below 1.0x without one is marked
**unexplained** in the table and listed on stderr; the exit status stays 0.

Variant cases (ratios.VARIANTS) are our own cost, not a comparison with a
peer: they are left out of the table and the chart and given in one line under
the table as the variant's time per operation over the plain case's.

    summary.py [--stat median|max] [--doc FILE] [--svg FILE] [--bounds FILE]
               [--cpuinfo FILE] RESULT.json [RESULT.json ...]
"""
import argparse
import datetime
import fnmatch
import json
import math
import os
import sys
from collections import OrderedDict
from xml.sax.saxutils import escape, quoteattr

import ratios

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# Group -> its peer, where that is not the first contender that ran: the
# profiler's first peer is the library's own clock, steady_clock is what a
# program would otherwise time a section with.
PRIMARY = {"OrvexProfile": "steady_clock"}

BEGIN = "<!-- summary:begin -->"
END = "<!-- summary:end -->"
UNEXPLAINED = "**unexplained**"

# The chart's scale: the ratios at its two ends, and its geometry in pixels.
LOW, HIGH = 0.1, 100.0
TICKS = (0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100)
LABEL_RIGHT = 300  # labels end here, right-aligned
PLOT_LEFT = 310  # where LOW stands
DECADE = 150  # pixels per factor of 10
PLOT_RIGHT = PLOT_LEFT + DECADE * math.log10(HIGH / LOW)
WIDTH = PLOT_RIGHT + 140  # room for the ratio after the longest bar
ROW, BAR, HEADING = 18, 12, 24
FASTER, SLOWER = "#3a78c2", "#d9822b"


class Row:
    """One case: ours beside its peer."""

    def __init__(self, group, case, ours, peer, theirs, show):
        self.group, self.case, self.peer = group, case, peer
        self.ours, self.theirs, self.show = ours, theirs, show
        self.ratio = ours / theirs
        self.bound = None

    @property
    def key(self):
        return "%s/%s/%s" % (self.group, self.case, self.peer)

    @property
    def below(self):
        # As printed: 0.996x shows as 1.00x and is not below parity.
        return round(self.ratio, 2) < 1.0


def pick_peer(group, rates):
    wanted = PRIMARY.get(group, ratios.BASELINES.get(group))
    if wanted in rates:
        return wanted
    return next((name for name in rates if name != "Orvex"), None)


def is_variant(group, case):
    return group in ratios.VARIANTS and case.endswith(ratios.VARIANTS[group][0])


def summary_rows(rates_by_case, in_bytes):
    """A Row for every case that compares ours with a peer, in the order of
    the runs, and the variant costs as (group, variant case, cost)."""
    groups = OrderedDict()
    for (group, case), rates in rates_by_case.items():
        groups.setdefault(group, OrderedDict())[case] = rates
    # A group's rows together, though one binary may register two groups'
    # cases in turns (the two directions of the text conversions).
    rows = []
    for group, cases in groups.items():
        for case, rates in cases.items():
            peer = pick_peer(group, rates)
            if is_variant(group, case) or "Orvex" not in rates or peer is None:
                continue
            show = ratios.human if (group, case) in in_bytes else ratios.human_ops
            rows.append(Row(group, case, rates["Orvex"], peer, rates[peer], show))
    costs = []
    for group, cases in groups.items():
        if group in ratios.VARIANTS:
            suffix = ratios.VARIANTS[group][0]
            costs += [(group, case + suffix, plain / changed)
                      for case, plain, changed in ratios.variant_pairs(cases, suffix)]
    return rows, costs


def load_bounds(path):
    """The explanations, {pattern: text}, in the file's order."""
    with open(path) as stream:
        return json.load(stream, object_pairs_hook=OrderedDict)


def explain(rows, bounds):
    """Gives every row below 1.0x its explanation: an exact key first, then
    the first pattern that matches. Returns the rows left without one."""
    missing = []
    for row in rows:
        if not row.below:
            continue
        row.bound = bounds.get(row.key) or next(
            (text for pattern, text in bounds.items()
             if fnmatch.fnmatchcase(row.key, pattern)), None)
        if row.bound is None:
            missing.append(row)
    return missing


def contexts(paths):
    """The "context" object of every file: date, host, processors."""
    found = []
    for path in paths:
        with open(path) as stream:
            found.append(json.load(stream).get("context", {}))
    return found


def cpu_model(path):
    """The "model name" of the first processor in a /proc/cpuinfo file."""
    try:
        with open(path) as stream:
            for line in stream:
                name, _, value = line.partition(":")
                if name.strip() == "model name":
                    return value.strip()
    except OSError:
        pass
    return "unknown CPU"


def parsed_dates(found):
    """The files' dates in UTC, sorted; None where one does not parse."""
    try:
        return sorted(datetime.datetime.fromisoformat(context["date"]).astimezone(
            datetime.timezone.utc) for context in found if "date" in context)
    except (ValueError, TypeError):
        return None


def run_dates(found):
    """The span of the files' dates, in UTC where they parse."""
    dates = parsed_dates(found)
    if not dates:
        raw = sorted(context["date"] for context in found if "date" in context)
        if not raw:
            return "date unknown"
        return raw[0] if raw[0] == raw[-1] else "%s to %s" % (raw[0], raw[-1])
    first, last = dates[0], dates[-1]
    if first.date() == last.date():
        span = first.strftime("%Y-%m-%d %H:%M")
        if last.strftime("%H:%M") != first.strftime("%H:%M"):
            span += "-" + last.strftime("%H:%M")
    else:
        span = "%s to %s" % (first.strftime("%Y-%m-%d %H:%M"), last.strftime("%Y-%m-%d %H:%M"))
    return span + " UTC"


def run_warnings(found):
    """Signs that the files come from more than one run."""
    warnings = []
    hosts = sorted(set(context.get("host_name", "?") for context in found))
    if len(hosts) > 1:
        warnings.append("results from several hosts: %s" % ", ".join(hosts))
    dates = parsed_dates(found)
    if dates and dates[-1] - dates[0] > datetime.timedelta(hours=12):
        warnings.append("results span %s: more than one run?" % (dates[-1] - dates[0]))
    return warnings


def machine_line(found, cpuinfo, stat):
    first = found[0] if found else {}
    cores = first.get("num_cpus")
    mhz = first.get("mhz_per_cpu")
    machine = cpu_model(cpuinfo)
    if cores:
        machine += ", %d cores" % cores
    if mhz:
        machine += " at %d MHz" % mhz
    host = first.get("host_name")
    if host:
        machine = "host %s, %s" % (host, machine)
    return "Run of %s on %s; %s of the repetitions, from %d result files." % (
        run_dates(found), machine, "medians" if stat == "median" else "the best",
        len(found))


def markdown(rows, costs, header, chart):
    lines = [header, "",
             "| component | case | ours | peer | peer's | ours / peer | what bounds it |",
             "|---|---|---:|---|---:|---:|---|"]
    for row in rows:
        # A bar in the text would end the cell.
        bound = (row.bound or UNEXPLAINED).replace("|", "\\|") if row.below else ""
        lines.append("| %s | %s | %s | %s | %s | %.2fx | %s |" % (
            row.group, row.case, row.show(row.ours), row.peer, row.show(row.theirs),
            row.ratio, bound))
    if costs:
        lines += ["", "Variants, our own cost and no comparison with a peer (time per "
                  "operation, variant / plain): %s." % "; ".join(
                      "%s %s %.2fx" % cost for cost in costs)]
    lines += ["", "![Ours over each case's peer, log scale](%s)" % chart]
    return "\n".join(lines)


def replace_summary(doc, text):
    """The document with the lines between the markers replaced by text."""
    lines = doc.split("\n")
    try:
        begin = lines.index(BEGIN)
        end = lines.index(END, begin)
    except ValueError:
        return None
    return "\n".join(lines[:begin + 1] + text.split("\n") + lines[end:])


def position(ratio):
    """The x coordinate of a ratio, clamped to the scale."""
    ratio = min(max(ratio, LOW), HIGH)
    return PLOT_LEFT + DECADE * math.log10(ratio / LOW)


def number(value):
    return ("%.1f" % value).rstrip("0").rstrip(".")


def tick_label(value):
    return "%gx" % value


def svg(rows, subtitle):
    """The chart as SVG text."""
    groups = OrderedDict()
    for row in rows:
        groups.setdefault(row.group, []).append(row)
    top = 70
    height = top + sum(HEADING + ROW * len(members) for members in groups.values()) + 50
    one = position(1.0)
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<svg xmlns="http://www.w3.org/2000/svg" width="%s" height="%s" '
           'viewBox="0 0 %s %s" font-family="sans-serif" font-size="12">' % (
               number(WIDTH), number(height), number(WIDTH), number(height)),
           '<rect width="100%" height="100%" fill="#ffffff"/>',
           '<text x="10" y="20" font-size="15" font-weight="bold">Ours over the peer, '
           'throughput per case (log scale; above 1.0x we are faster)</text>',
           '<text x="10" y="38" fill="#555555">%s</text>' % escape(subtitle)]
    # The scale: a labelled line per tick, the one at 1.0x drawn darker.
    for value in TICKS:
        x = number(position(value))
        parity = value == 1
        out.append('<line class="%s" data-value="%g" x1="%s" y1="%d" x2="%s" y2="%d" '
                   'stroke="%s" stroke-width="%s"/>' % (
                       "parity" if parity else "tick", value, x, top - 8, x, height - 40,
                       "#222222" if parity else "#dddddd", "1.5" if parity else "1"))
        out.append('<text x="%s" y="%d" text-anchor="middle" fill="#555555">%s</text>' % (
            x, top - 12, tick_label(value)))
    y = top
    for group, members in groups.items():
        out.append('<text class="group" x="10" y="%d" font-weight="bold">%s</text>' % (
            y + 16, escape(group)))
        y += HEADING
        for row in members:
            out += bar(row, y, one)
            y += ROW
    legend = height - 20
    out += ['<rect x="10" y="%d" width="12" height="12" fill="%s"/>' % (legend - 10, FASTER),
            '<text x="28" y="%d">ours faster</text>' % legend,
            '<rect x="120" y="%d" width="12" height="12" fill="%s"/>' % (legend - 10, SLOWER),
            '<text x="138" y="%d">peer faster</text>' % legend,
            '<text x="240" y="%d">&#9656; beyond %s or %s: the bar stops at the '
            'edge</text>' % (legend, tick_label(LOW), tick_label(HIGH)),
            '</svg>', '']
    return "\n".join(out)


def bar(row, y, one):
    """The elements of one row: label, bar, clamp mark, ratio."""
    end = position(row.ratio)
    left, right = min(one, end), max(one, end)
    clamped = not LOW <= row.ratio <= HIGH
    colour = SLOWER if row.below else FASTER
    middle = y + ROW / 2 + 4
    label = "%.2fx" % row.ratio
    items = ['<text x="%d" y="%s" text-anchor="end">%s vs %s</text>' % (
        LABEL_RIGHT, number(middle), escape(row.case), escape(row.peer))]
    items.append('<rect class="bar%s%s" data-group=%s data-case=%s data-peer=%s '
                 'x="%s" y="%s" width="%s" height="%d" fill="%s"><title>%s</title></rect>' % (
                     " below" if row.below else "", " clamped" if clamped else "",
                     quoteattr(row.group), quoteattr(row.case), quoteattr(row.peer),
                     number(left), number(y + (ROW - BAR) / 2), number(right - left), BAR,
                     colour, escape("%s %s vs %s: %s" % (row.group, row.case, row.peer, label))))
    if clamped:
        # A small arrow beyond the edge: the bar would go on.
        tip = 7 if row.ratio > HIGH else -7
        top, bottom = y + (ROW - BAR) / 2, y + (ROW + BAR) / 2
        items.append('<polygon class="clamp" points="%s,%s %s,%s %s,%s" fill="%s"/>' % (
            number(end), number(top), number(end + tip), number(y + ROW / 2), number(end),
            number(bottom), colour))
        label += " (off scale)"
    # The ratio stands beyond the end of a bar above 1.0x, and to the right of
    # the 1.0x line for one below, where no bar is.
    text_x = (right + (12 if clamped else 4)) if not row.below else one + 4
    items.append('<text x="%s" y="%s">%s</text>' % (number(text_x), number(middle), label))
    return items


def write_if_changed(path, text):
    try:
        with open(path) as stream:
            if stream.read() == text:
                return
    except OSError:
        pass
    with open(path, "w") as stream:
        stream.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--stat", choices=("median", "max"), default="median")
    parser.add_argument("--doc", default=os.path.join(ROOT, "docs", "PERFORMANCE.md"))
    parser.add_argument("--svg", default=os.path.join(ROOT, "docs", "performance.svg"))
    parser.add_argument("--bounds", default=os.path.join(HERE, "bounds.json"))
    parser.add_argument("--cpuinfo", default="/proc/cpuinfo")
    parser.add_argument("results", nargs="+")
    args = parser.parse_args()
    rates_by_case, in_bytes = ratios.throughputs(args.results, args.stat)
    rows, costs = summary_rows(rates_by_case, in_bytes)
    missing = explain(rows, load_bounds(args.bounds))
    found = contexts(args.results)
    header = machine_line(found, args.cpuinfo, args.stat)
    with open(args.doc) as stream:
        doc = stream.read()
    chart = os.path.relpath(args.svg, os.path.dirname(os.path.abspath(args.doc)))
    updated = replace_summary(doc, markdown(rows, costs, header, chart))
    if updated is None:
        print("summary.py: %s has no lines %s and %s" % (args.doc, BEGIN, END), file=sys.stderr)
        return 1
    write_if_changed(args.doc, updated)
    write_if_changed(args.svg, svg(rows, header))
    for warning in run_warnings(found):
        print("summary.py: warning: %s" % warning, file=sys.stderr)
    if missing:
        print("summary.py: warning: %d rows below 1.0x without an explanation in %s:" % (
            len(missing), args.bounds), file=sys.stderr)
        for row in missing:
            print("  %s %.2fx" % (row.key, row.ratio), file=sys.stderr)
    print("summary.py: %d cases written to %s and %s" % (len(rows), args.doc, args.svg))
    return 0


if __name__ == "__main__":
    sys.exit(main())
