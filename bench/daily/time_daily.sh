#!/usr/bin/env bash
# Wall time of `quorvel-daily` against the batch it runs: N fund copies of bundled real bars that all
# pass the day's screen (N survivors, default 100), a model on 127.0.0.1 answering after a fixed
# latency. Runs the day (update skipped offline, screen, batch of the survivors, brief, radar,
# ledger and pages, digest), then `pelion-batch` alone over the same pool in a fresh report folder,
# and prints both times, their ratio and the LLM requests of each.
# Usage: bench/daily/time_daily.sh [survivors, default 100] [concurrency, default 8] [latency s, default 1]
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
BIN="$ROOT/build/bin"
N=${1:-100} CONC=${2:-8} LATENCY=${3:-1}
DATE=2022-12-30  # a day the bundled 510050, and so every copy of it, passes the combined screen
for b in quorvel-daily pelion-batch tarnel-import tarnel-bars; do [ -x "$BIN/$b" ] || { echo "build first: $b" >&2; exit 1; }; done

WORK=$(mktemp -d)
trap 'kill $SERVER 2>/dev/null || true; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
export TARNEL_CENTER="$WORK" TARNEL_ONLINE=0 QUORVEL_SOLVARA_DIR="$WORK/briefs" QUORVEL_DELIVERY_FILE="$WORK/none.json"
unset QUORVEL_MQ_URL
echo '{"channels": []}' > "$WORK/none.json"
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 "$ROOT/bench/support/fake_llm.py" "$PORT" "$LATENCY" "$WORK/requests" &
SERVER=$!
export LLM_CLIENT_TYPE=openai_compatible OPENAI_COMPATIBLE_API_KEY=bench \
  OPENAI_COMPATIBLE_BASE_URL="http://127.0.0.1:$PORT/v1" OPENAI_COMPATIBLE_MODEL=fake LLM_MAX_IN_FLIGHT="$CONC"

"$BIN/tarnel-bars" sh.600519 --start "$DATE" --end "$DATE" >/dev/null 2>&1  # the bundled data first
source "$ROOT/bench/support/instrument_copies.sh"
make_copies "$N" "$WORK" "$ROOT" "$BIN" ETF
cd "$WORK"

# timed LABEL COMMAND...: runs the command with output in WORK/LABEL.out and .err, sets WALL.
timed() {
  local label=$1 start end
  shift
  : > "$WORK/requests"
  start=$(date +%s%N)
  "$@" > "$WORK/$label.out" 2> "$WORK/$label.err" || echo "$label exited $?" >&2
  end=$(date +%s%N)
  WALL=$(echo "scale=2; ($end - $start) / 1000000000" | bc)
  REQUESTS=$(wc -l < "$WORK/requests")
}

REPORT_DIR="$WORK/day" timed daily "$BIN/quorvel-daily" -m ETF --top "$N" -c "$CONC" -t "$DATE"
DAILY=$WALL DAILY_REQUESTS=$REQUESTS
POOL="$WORK/day/daily/$DATE/pool.txt"
rm -rf "$WORK/briefs"
REPORT_DIR="$WORK/batch" timed batch "$BIN/pelion-batch" --pool "$POOL" -t "$DATE" -c "$CONC"
echo "quorvel-daily -m ETF --top $N, concurrency $CONC, model latency ${LATENCY}s"
echo "  survivors analysed   $(grep -vc '^#' "$POOL")"
echo "  quorvel-daily        ${DAILY}s, $DAILY_REQUESTS LLM requests ($(grep -o 'LLM 调用 [0-9]* 次' "$WORK/daily.out" | head -1))"
echo "  pelion-batch alone   ${WALL}s, $REQUESTS LLM requests"
echo "  ratio                $(echo "scale=3; $DAILY / $WALL" | bc)"
[ -z "${KEEP:-}" ] || echo "work folder: $WORK"
