#!/bin/sh
# The application index's keystroke time before and after a change, in one run: the same
# queries over the same 2,000 applications, from a base build's bench_search and this build's,
# taken in turns so that both see the same machine. Prints one ratio (after / before) per query:
#   bench/keystroke_compare.sh BASE_BUILD [BUILD] [ROUNDS]
# The "after" side is the index of entries with their generic names, keywords and actions
# (BM_ScoredSearchWithEntryKeys) when this build has it, else the plain one.
set -eu
base=${1:?usage: keystroke_compare.sh BASE_BUILD [BUILD] [ROUNDS]}
build=${2:-build}
rounds=${3:-5}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
after=BM_ScoredSearchWithEntryKeys
"$build/bench/bench_search" --benchmark_list_tests | grep -q "^$after/" || after=BM_ScoredSearch
i=0
while [ "$i" -lt "$rounds" ]; do
  "$base/bench/bench_search" --benchmark_filter='^BM_ScoredSearch/' --benchmark_format=json \
    --benchmark_min_time=0.2 >"$out/before-$i.json" 2>/dev/null
  "$build/bench/bench_search" --benchmark_filter="^($after|BM_ScoredSearch)/" \
    --benchmark_format=json --benchmark_min_time=0.2 >"$out/after-$i.json" 2>/dev/null
  i=$((i + 1))
done
python3 - "$out" "$after" <<'PY'
import glob, json, statistics, sys
folder, after = sys.argv[1], sys.argv[2]
def times(side):
    found = {}
    for path in glob.glob(f"{folder}/{side}-*.json"):
        for b in json.load(open(path))["benchmarks"]:
            found.setdefault(b["name"], []).append(b["real_time"])
    return {name: statistics.median(t) for name, t in found.items()}
before, now = times("before"), times("after")
print(f"{'query':<12}{'before us':>11}{'same names':>12}{'with keys':>11}{'ratio':>8}{'ratio keys':>12}")
for name, old in sorted(before.items()):
    query = name.split("/", 1)[1]
    plain = now.get(name, float("nan"))
    keyed = now.get(f"{after}/{query}", plain)
    print(f"{query:<12}{old:>11.1f}{plain:>12.1f}{keyed:>11.1f}{plain / old:>8.2f}{keyed / old:>12.2f}")
PY
