#!/usr/bin/env bash
# The library's folder-level include edges: one line "<from> -> <to> (<count>)"
# for every file under engine/src/OrvexCommon/<from>/ that includes
# "OrvexCommon/<to>/...", then whether the edges form a cycle.
#   scripts/include-edges.sh
# Exit code 0 when they are acyclic, 1 when a cycle is found.
set -euo pipefail
cd "$(dirname "$0")/../engine/src/OrvexCommon"
edges=$(for folder in */; do
    from=${folder%/}
    grep -rhoE '#include "OrvexCommon/[a-z]+/' "$from" |
        sed -E 's|#include "OrvexCommon/([a-z]+)/|\1|' | sort | uniq -c |
        awk -v from="$from" '$2 != from { print from " -> " $2 " (" $1 ")" }'
done)
printf '%s\n' "$edges"
# Peel off folders that include nothing left or that nothing left includes:
# what stays lies on a cycle.
printf '%s\n' "$edges" | awk '
    NF >= 3 { from[NR] = $1; to[NR] = $3; nodes[$1]; nodes[$3] }
    END {
        do {
            removed = 0
            for (n in nodes) { in_[n] = 0; out[n] = 0 }
            for (e in from) { out[from[e]]++; in_[to[e]]++ }
            for (n in nodes) if (in_[n] == 0 || out[n] == 0) {
                delete nodes[n]; removed = 1
                for (e in from) if (from[e] == n || to[e] == n) { delete from[e]; delete to[e] }
            }
        } while (removed)
        left = ""
        for (n in nodes) left = left " " n
        if (left == "") { print "acyclic"; exit 0 }
        print "cycle through:" left; exit 1
    }'
