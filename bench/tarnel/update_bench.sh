#!/usr/bin/env bash
# Wall time of `tarnel-update` bringing 100 A-share instruments up by one trading day against the
# local fake K-line host (build/bin/tarnel-fake-provider) answering each request after a fixed
# latency, next to the floor the per-host rate limit sets: (requests - 1) x interval.
# Usage: bench/tarnel/update_bench.sh [latency ms, default 80] [request interval ms, default 300]
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
BIN="$ROOT/build/bin"
LATENCY=${1:-80}
INTERVAL=${2:-300}
N=100
for b in tarnel-update tarnel-fake-provider; do
  [ -x "$BIN/$b" ] || { echo "build first: cmake --build build --target $b" >&2; exit 1; }
done

WORK=$(mktemp -d)
PROVIDER_IN=""
cleanup() { [ -n "$PROVIDER_IN" ] && exec {PROVIDER_IN}>&-; rm -rf "$WORK"; }
trap cleanup EXIT
# A data root of its own: an empty bundle with the shipped calendars, the store in $WORK.
mkdir -p "$WORK/data"
echo "code,name,market,kind,file" > "$WORK/data/instruments.csv"
cp -r "$ROOT/data/calendars" "$WORK/data/"
export QUORVEL_HOME="$WORK" TARNEL_CENTER="$WORK" TARNEL_ONLINE=1 TARNEL_PROVIDERS=eastmoney
for i in $(seq 0 $((N - 1))); do printf 'sh.60%04d\n' "$i"; done > "$WORK/pool.txt"

start_provider() {  # latency in ms; sets TARNEL_EASTMONEY_URL
  coproc PROVIDER { "$BIN/tarnel-fake-provider" --latency-ms "$1"; }
  PROVIDER_IN=${PROVIDER[1]}
  read -r TARNEL_EASTMONEY_URL <&"${PROVIDER[0]}"
  export TARNEL_EASTMONEY_URL
}
stop_provider() { exec {PROVIDER_IN}>&-; PROVIDER_IN=""; wait "$PROVIDER_PID" 2>/dev/null || true; }

# Seed six weeks of bars without latency or rate limit, then take the last bar of every instrument
# away again (and the record that it was answered for): one trading day is missing everywhere.
start_provider 0
START=$(date -d "-42 days" +%F)
TARNEL_REQUEST_INTERVAL_MS=0 "$BIN/tarnel-update" --pool "$WORK/pool.txt" --start "$START" >/dev/null 2>&1
stop_provider
python3 - "$WORK/tarnel.sqlite" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
for (code,) in db.execute("SELECT DISTINCT code FROM bars").fetchall():
    last = db.execute("SELECT MAX(day) FROM bars WHERE code = ?", (code,)).fetchone()[0]
    db.execute("DELETE FROM bars WHERE code = ? AND day = ?", (code, last))
    prev = db.execute("SELECT MAX(day) FROM bars WHERE code = ?", (code,)).fetchone()[0]
    db.execute("UPDATE series SET checked_last = ? WHERE code = ?", (prev, code))
db.commit()
PY

start_provider "$LATENCY"
T0=$(date +%s.%N)
OUT=$(TARNEL_REQUEST_INTERVAL_MS="$INTERVAL" "$BIN/tarnel-update" --pool "$WORK/pool.txt" --start "$START" 2>/dev/null || true)
T1=$(date +%s.%N)
stop_provider
echo "$OUT" | tail -1
python3 - "$T0" "$T1" "$N" "$INTERVAL" "$LATENCY" <<'PY'
import sys
t0, t1, n, interval, latency = float(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
floor = (n - 1) * interval / 1000 + latency / 1000
print(f"{n} instruments, latency {latency} ms, interval {interval} ms: {t1 - t0:.2f} s "
      f"(rate-limit floor {floor:.2f} s, overhead {t1 - t0 - floor:+.2f} s)")
PY
