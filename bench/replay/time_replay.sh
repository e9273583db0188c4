#!/usr/bin/env bash
# Wall time of `pelion-replay` with the offline analyst over N instruments (default 100: a quarter
# each of A-shares, funds, Hong Kong and US stocks, copies of bundled real bars under codes of their
# own) and S sessions (default 250, ending 2022-12-30, the last day every copy has bars), then of
# `quorvel-ledger update` over what it stored.
# Usage: bench/replay/time_replay.sh [instruments, default 100] [sessions, default 250] [concurrency, default 2]
# (KEEP=1 keeps the work folder and prints where it is.)
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
BIN="$ROOT/build/bin"
N=${1:-100} SESSIONS=${2:-250} CONC=${3:-2}
for b in pelion-replay quorvel-ledger tarnel-import; do [ -x "$BIN/$b" ] || { echo "build first: $b" >&2; exit 1; }; done

WORK=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] && echo "work folder: $WORK" || rm -rf "$WORK"' EXIT
export TARNEL_CENTER="$WORK" REPORT_DIR="$WORK/report" LLM_CLIENT_TYPE=offline TARNEL_ONLINE=0
unset QUORVEL_MQ_URL

source "$ROOT/bench/support/instrument_copies.sh"
make_copies "$N" "$WORK" "$ROOT" "$BIN"

# The first of the last S sessions of the A-share calendar up to 2022-12-30.
FROM=$(awk -F, 'NR>1 && $1<="2022-12-30"{print $1}' "$ROOT/data/calendars/sse_trading_days.csv" | tail -n "$SESSIONS" | head -1)
cd "$WORK"
start=$(date +%s.%N)
"$BIN/pelion-replay" --pool "$WORK/watchlist.txt" --from "$FROM" --to 2022-12-30 -c "$CONC" --dir "$WORK/replay" \
  > "$WORK/replay.out" 2> "$WORK/replay.err"
mid=$(date +%s.%N)
"$BIN/quorvel-ledger" update --dir "$WORK/replay" > "$WORK/ledger.out" 2>&1
end=$(date +%s.%N)
tail -1 "$WORK/replay.out"
cat "$WORK/ledger.out"
python3 - "$start" "$mid" "$end" "$N" "$SESSIONS" <<'PY'
import sys
start, mid, end, n, s = map(float, sys.argv[1:])
print(f"replay {int(n)} instruments x {int(s)} sessions: {mid - start:.1f} s ({(mid - start) / (n * s) * 1000:.2f} ms per analysis)")
print(f"ledger update: {end - mid:.1f} s")
PY
