#!/usr/bin/env bash
# Whole-process file search figures, compared with other programs on the same input:
#   1. a full scan of a real generated tree with vesk-tool, against find over the same tree;
#   2. per-keystroke search latency (median, 99th percentile), memory per entry and build time
#      for a generated 1,000,000-entry path list;
#   3. the same list and queries through fzy -e and fzf --filter.
#
# usage: bench/files_compare.sh BUILD_DIR [TREE_ENTRIES]
#   TREE_ENTRIES: size of the real tree for the scan comparison (default 300000; the first run
#   creates it under BUILD_DIR/bench-data and later runs reuse it).
#
# What differs in the matching, so read the numbers as cost, not as equal work:
#   - fzy and fzf score the whole path as one string. vesk-tool matches the last term against
#     each entry's own name and earlier terms against it or the folders above it.
#   - fzy -e treats the query as one pattern, a space included; fzf --filter splits at spaces
#     into terms that must all match (its extended syntax), smart-case; vesk-tool splits at
#     spaces and "/", folds case and diacritics.
#   - fzy and fzf print every match, sorted; vesk-tool prints the best 50. All outputs go to
#     /dev/null.
#   - vesk-tool builds its index from the list first (reported apart as build_ms), then runs
#     every query in the same process; fzy and fzf read the list again for each query.
#   - The scan honours the default rules (hidden names, node_modules, depth 6); the generated
#     tree has no hidden names, and find is given -maxdepth 6 to walk the same levels.
set -euo pipefail

build=${1:?usage: files_compare.sh BUILD_DIR [TREE_ENTRIES]}
tree_entries=${2:-300000}
tool="$build/tools/vesk-tool"
generator="$build/bench/bench_files"
data="$build/bench-data"
list="$data/paths.txt"
tree="$data/tree-$tree_entries"
root=/home/user
mkdir -p "$data"

for program in "$tool" "$generator"; do
  [[ -x $program ]] || { echo "files_compare: $program is not built" >&2; exit 1; }
done

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# Median and 99th percentile of the numbers on standard input.
percentiles() {
  sort -n | awk '{ v[NR] = $1 } END {
    if (NR == 0) { print "no data"; exit }
    p99 = int(NR * 0.99); if (p99 < 1) p99 = 1; if (p99 > NR) p99 = NR
    printf "median %.2f ms, p99 %.2f ms, max %.2f ms over %d searches\n", v[int((NR + 1) / 2)], v[p99], v[NR], NR
  }'
}

[[ -s $list ]] || "$generator" --write-paths "$list" 1000000 "$root"
if [[ ! -d $tree ]]; then
  echo "== creating a real tree of $tree_entries entries in $tree (once)"
  "$generator" --make-tree "$tree" "$tree_entries"
fi

echo "== machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== full scan of the real tree ($tree_entries entries)"
find "$tree" -maxdepth 6 > /dev/null  # warm the cache for both
for round in 1 2 3; do
  start=$(now_ms)
  find_count=$(find "$tree" -maxdepth 6 | wc -l)
  find_ms=$(( $(now_ms) - start ))
  start=$(now_ms)
  vesk_err=$("$tool" files --root "$tree" zzzzzzzz 2>&1 > /dev/null)
  vesk_ms=$(( $(now_ms) - start ))
  entries=$(awk '$1 == "entries" { print $2 }' <<< "$vesk_err")
  build_ms=$(awk '$1 == "build_ms" { print $2 }' <<< "$vesk_err")
  echo "round $round: find ${find_ms} ms ($find_count lines) | vesk-tool ${vesk_ms} ms whole process, scan ${build_ms} ms ($entries entries) | ratio $(awk -v a="$vesk_ms" -v b="$find_ms" 'BEGIN { printf "%.2f", a / (b ? b : 1) }')"
done

keystrokes=("p" "pr" "pro" "proj" "proj " "proj r" "proj re" "proj rea" "proj read"
            "r" "re" "rep" "repo" "report" "img 2019" "résu" "main.cpp")

echo "== vesk-tool on the 1,000,000-entry list: build, memory, keystrokes (3 rounds in one process)"
start=$(now_ms)
vesk_err=$("$tool" files --root "$root" --list "$list" "${keystrokes[@]}" "${keystrokes[@]}" \
  "${keystrokes[@]}" 2>&1 > /dev/null)
vesk_total=$(( $(now_ms) - start ))
grep -E '^(entries|build_ms|memory_bytes|bytes_per_entry)' <<< "$vesk_err"
echo "search wall: $(awk '$1 == "search_ms" { print $2 }' <<< "$vesk_err" | percentiles)"
echo "search cpu (all threads): $(awk '$1 == "search_ms" { print $4 }' <<< "$vesk_err" | percentiles)"
echo "whole process, all $(( ${#keystrokes[@]} * 3 )) searches: ${vesk_total} ms"

echo "== same list, one process per query: vesk-tool (build included) | fzy -e | fzf --filter"
printf '%-10s %10s %10s %10s\n' query vesk-tool fzy fzf
totals=(0 0 0)
for query in "p" "proj" "proj r" "proj read" "report" "img 2019" "résu"; do
  start=$(now_ms); "$tool" files --root "$root" --list "$list" "$query" > /dev/null 2>&1
  v=$(( $(now_ms) - start ))
  start=$(now_ms); fzy -e "$query" < "$list" > /dev/null
  y=$(( $(now_ms) - start ))
  start=$(now_ms); fzf --filter "$query" < "$list" > /dev/null || true
  f=$(( $(now_ms) - start ))
  totals=($(( totals[0] + v )) $(( totals[1] + y )) $(( totals[2] + f )))
  printf '%-10s %8s ms %7s ms %7s ms\n' "\"$query\"" "$v" "$y" "$f"
done
printf '%-10s %8s ms %7s ms %7s ms\n' total "${totals[0]}" "${totals[1]}" "${totals[2]}"
