#!/usr/bin/env bash
# Wall time of `pelion-batch` over a watchlist of N instruments (default 100: a quarter each of
# A-shares, funds, Hong Kong and US stocks, copies of bundled real bars under codes of their own)
# against an OpenAI-compatible server on 127.0.0.1 that answers every request after a fixed latency.
# Compares the time with the ideal N / concurrency x latency + one brief latency (the briefs of all
# markets are asked for at once), counts brief and analysis requests per market-day, then runs the
# same watchlist again without --force, which must ask the model nothing.
# Usage: bench/batch/time_batch.sh [instruments, default 100] [concurrency, default 8] [latency s, default 1]
# (KEEP=1 keeps the work folder with its logs and reports and prints where it is.)
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
BIN="$ROOT/build/bin"
N=${1:-100} CONC=${2:-8} LATENCY=${3:-1}
DATE=2022-12-30
for b in pelion-batch tarnel-bars tarnel-import; do [ -x "$BIN/$b" ] || { echo "build first: $b" >&2; exit 1; }; done

WORK=$(mktemp -d)
trap 'kill $SERVER 2>/dev/null || true; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
export TARNEL_CENTER="$WORK" REPORT_DIR="$WORK/report" QUORVEL_SOLVARA_DIR="$WORK/briefs"
unset QUORVEL_MQ_URL

PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 "$ROOT/bench/support/fake_llm.py" "$PORT" "$LATENCY" "$WORK/requests" &
SERVER=$!

# The bundled data first (it loads into an empty store only), then the benchmark's own instruments.
"$BIN/tarnel-bars" sh.600519 --start "$DATE" --end "$DATE" >/dev/null 2>&1
source "$ROOT/bench/support/instrument_copies.sh"
make_copies "$N" "$WORK" "$ROOT" "$BIN"

cd "$WORK"  # logs/ goes into the working directory
run() {
  : > "$WORK/requests"
  local start end
  start=$(date +%s%N)
  LLM_CLIENT_TYPE=openai_compatible OPENAI_COMPATIBLE_API_KEY=bench OPENAI_COMPATIBLE_BASE_URL="http://127.0.0.1:$PORT/v1" \
    OPENAI_COMPATIBLE_MODEL=fake LLM_MAX_IN_FLIGHT="$CONC" \
    "$BIN/pelion-batch" --pool "$WORK/watchlist.txt" -t "$DATE" -c "$CONC" "$@" > "$WORK/out" 2> "$WORK/err" || true
  end=$(date +%s%N)
  WALL=$(printf '%.2f' "$(echo "scale=3; ($end - $start) / 1000000000" | bc)")
}

[ -z "${KEEP:-}" ] || echo "work folder: $WORK"
run --force
ANALYSES=$(grep -c '^analysis$' "$WORK/requests" || true)
BRIEFS=$(grep -c '^brief' "$WORK/requests" || true)
IDEAL=$(echo "scale=2; $N / $CONC * $LATENCY + $LATENCY" | bc)
echo "pelion-batch: $N instruments, concurrency $CONC, model latency ${LATENCY}s"
echo "  wall time            ${WALL}s (ideal ${IDEAL}s, ratio $(echo "scale=3; $WALL / $IDEAL" | bc))"
echo "  brief requests       $BRIEFS ($(grep '^brief' "$WORK/requests" | sort | uniq -c | awk '{printf "%s%s %s×%s", sep, $2, $3, $1; sep=", "}'))"
echo "  analysis requests    $ANALYSES (per analysed instrument: $(echo "scale=2; $ANALYSES / $(grep -c '新分析$' "$WORK/out")" | bc))"
echo "  $(grep '^共 ' "$WORK/out")"
echo "  $(grep '^LLM 调用' "$WORK/out")"
run
echo "second run without --force: ${WALL}s, $(wc -l < "$WORK/requests") LLM requests"
echo "  $(grep '^共 ' "$WORK/out")"
