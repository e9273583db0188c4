#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/targets.txt) with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer over the whole build, into build-fuzz/, and runs them one after the
# other, each for the given time at the lowest priority.
#
# Usage: scripts/fuzz.sh [TARGET|all] [SECONDS] [extra libFuzzer options...]   (default: all, 60 s each)
#        scripts/fuzz.sh SECONDS [options...]   the decision extractor alone, as before
# e.g.   scripts/fuzz.sh all 1800 -runs=10000000   (stops at ten million runs or half an hour)
#
# New inputs go to build-fuzz/corpus/<target>/, findings to build-fuzz/artifacts/<target>/, the run's
# output to build-fuzz/logs/<target>.log; a table (executions, exec/s, coverage edges, findings) is
# printed and written to build-fuzz/fuzz-table.md. A finding's input belongs in
# tests/data/fuzz/<target>/ with its fix: the normal test run replays it (fuzz_replay.<target>).
# Set QUORVEL_BUILD_LOCK to a lock file to build under flock, as on a machine where builds share it.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t rows < <(grep -E '^[a-z]' fuzz/targets.txt)
names=()
for row in "${rows[@]}"; do names+=("${row%% *}"); done

which="all"
if [[ $# -gt 0 && "$1" =~ ^[0-9]+$ ]]; then
  which="extract_decision"
elif [[ $# -gt 0 ]]; then
  which="$1"
  shift
fi
seconds="${1:-60}"
shift || true
if [[ "$which" == "all" ]]; then
  targets=("${names[@]}")
elif printf '%s\n' "${names[@]}" | grep -qx -- "$which"; then
  targets=("$which")
else
  echo "fuzz.sh: no target '$which' (one of: all ${names[*]})" >&2
  exit 2
fi

scripts/setup.sh --fuzz
cmake --preset fuzz >/dev/null
lock=()
[[ -n "${QUORVEL_BUILD_LOCK:-}" ]] && lock=(flock -o "$QUORVEL_BUILD_LOCK")
"${lock[@]}" cmake --build build-fuzz -j2 --target "${targets[@]/#/fuzz_}"

# One row per target, the latest run's: a run of one target keeps the rows of the others.
table="build-fuzz/fuzz-table.md"
row_of() { echo "| $1 | $2 | $3 | $4 | $5 | $6 |"; }
set_row() {
  { row_of target executions "time (s)" exec/s "coverage edges" findings
    echo "|---|---:|---:|---:|---:|---|"
    [[ -f "$table" ]] && grep -E '^\| [a-z_]+ \|' "$table" | grep -vE "^\| (target|$1) \|" || true
    echo "$2"; } >"$table.new"
  mv "$table.new" "$table"
}
status=0
for target in "${targets[@]}"; do
  read -r _ dict seeds < <(grep -E "^$target[[:space:]]" fuzz/targets.txt)
  corpus="build-fuzz/corpus/$target" artifacts="build-fuzz/artifacts/$target" log="build-fuzz/logs/$target.log"
  mkdir -p "$corpus" "$artifacts" build-fuzz/logs "build-fuzz/seeds/$target"
  # libFuzzer reads folders only: seed files are copied into a folder of their own.
  dirs=()
  for seed in $seeds; do
    if [[ -d "$seed" ]]; then dirs+=("$seed"); else cp "$seed" "build-fuzz/seeds/$target/"; fi
  done
  dirs+=("build-fuzz/seeds/$target")
  [[ -d "tests/data/fuzz/$target" ]] && dirs+=("tests/data/fuzz/$target")
  options=(-max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=4096 -print_final_stats=1
           -artifact_prefix="$artifacts/")
  [[ "$dict" != "-" ]] && options+=(-dict="fuzz/$dict")
  before=$(find "$artifacts" -type f | wc -l)
  start=$(date +%s)
  echo "== fuzz_$target (${seconds} s)"
  rc=0
  nice -n 19 "build-fuzz/bin/fuzz_$target" "${options[@]}" "$@" "$corpus" "${dirs[@]}" >"$log" 2>&1 || rc=$?
  elapsed=$(( $(date +%s) - start ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  edges=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  found=$(( $(find "$artifacts" -type f | wc -l) - before ))
  findings="$found"
  if [[ $rc -ne 0 ]]; then
    status=1
    findings="$found ($(grep -m1 -oE 'invariant broken: .*|runtime error: .{0,60}|ERROR: [A-Za-z]+: [a-z -]+' "$log" || echo "exit $rc"))"
  fi
  row=$(row_of "$target" "${runs:-?}" "$elapsed" "${speed:-?}" "${edges:-?}" "$findings")
  echo "$row"
  set_row "$target" "$row"
done
echo "table: $table"
exit $status
