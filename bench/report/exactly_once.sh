#!/usr/bin/env bash
# Exactly-once delivery of the report outbox, measured on a store of 30,000 messages:
#   concurrent    three `quorvel-reports flush` started at the same moment
#   kill-flusher  the flusher is killed (SIGKILL) mid-flush, then flushes run again until none is pending
#                 (the killed flusher's claimed batch waits for its lease to run out, about a minute)
#   kill-broker   redis-server is killed (SIGKILL) mid-flush and started again on its append-only file,
#                 then flushes run again until none is pending
# redis-server is started by this script on 127.0.0.1 and a free port, with appendonly yes and
# appendfsync always. After each run every message is delivered and the streams are compared with
# the store: entries, distinct message ids, stored messages, duplicates (entries - distinct ids) and
# losses (stored messages with no entry). Exit status 1 when any run has a duplicate or a loss.
# Usage: bench/report/exactly_once.sh [messages, default 30000]
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
TOOL="$ROOT/build/bin/quorvel-reports"
AUDIT="$ROOT/build/bin/outbox_audit"
N=${1:-30000}
for bin in "$TOOL" "$AUDIT"; do
  [ -x "$bin" ] || { echo "build first: cmake --build build --target quorvel-reports outbox_audit" >&2; exit 1; }
done

WORK=$(mktemp -d)
REDIS_PID=
cleanup() {
  if [ -n "$REDIS_PID" ]; then kill -9 "$REDIS_PID" 2>/dev/null || true; wait "$REDIS_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
URL="redis://127.0.0.1:$PORT/0"
RUN="$WORK/run"
unset QUORVEL_MQ_URL REPORT_DIR

cli() { redis-cli -h 127.0.0.1 -p "$PORT" "$@"; }

start_redis() {
  mkdir -p "$WORK/redis"
  redis-server --port "$PORT" --bind 127.0.0.1 --dir "$WORK/redis" --appendonly yes --appendfsync always \
    --save "" --daemonize no --logfile "$WORK/redis.log" &
  REDIS_PID=$!
  for _ in $(seq 200); do [ "$(cli PING 2>/dev/null)" = PONG ] && return; sleep 0.05; done
  echo "redis-server did not start (see $WORK/redis.log)" >&2
  exit 1
}

entries() { echo $(( $(cli XLEN quorvel:analysis) + $(cli XLEN quorvel:summary) + $(cli XLEN quorvel:solvara) )); }

flush() { "$TOOL" --dir "$RUN" flush --url "$URL" >>"$WORK/flush.log" 2>&1; }
# One flush in the background; FLUSHER is the tool's own process id.
flush_in_background() {
  "$TOOL" --dir "$RUN" flush --url "$URL" >>"$WORK/flush.log" 2>&1 &
  FLUSHER=$!
}

# Waits until `entries` reaches $1 (a flush in the background is making progress).
wait_for_entries() {
  for _ in $(seq 2000); do [ "$(entries 2>/dev/null || echo 0)" -ge "$1" ] && return; sleep 0.01; done
}

# Flushes again until nothing is pending (a crashed flusher's claim holds for its lease).
flush_until_done() {
  for _ in $(seq 60); do
    flush || true
    [ "$("$AUDIT" pending "$RUN")" -eq 0 ] && return
    sleep 2
  done
  echo "messages still pending after two minutes" >&2
}

fresh_run() {
  cli FLUSHALL >/dev/null
  : >"$WORK/flush.log"
  KILLED_AT=-
  rm -rf "$RUN"
  cp -r "$WORK/template" "$RUN"
}

STATUS=0
report() {
  local name=$1 started=$2
  local line
  line=$("$AUDIT" count "$RUN" "$URL") || STATUS=1
  # Resends the broker answered with the first entry, as the flushes logged them.
  local absorbed
  absorbed=$({ grep -o '[0-9]* 条消息此前已到达' "$WORK/flush.log" || true; } | awk '{s += $1} END {print s + 0}')
  printf '%-13s %s resends_absorbed=%s killed_at_entries=%s seconds=%s\n' "$name" "$line" "$absorbed" \
    "$KILLED_AT" "$(( $(date +%s) - started ))"
}

echo "filling a store with $N messages..." >&2
"$AUDIT" fill "$WORK/template" "$N"
start_redis

t=$(date +%s)
fresh_run
PIDS=()
for _ in 1 2 3; do flush_in_background; PIDS+=("$FLUSHER"); done
wait "${PIDS[@]}" || true
flush_until_done
report concurrent "$t"

t=$(date +%s)
fresh_run
flush_in_background
wait_for_entries $(( N / 3 ))
{ kill -9 "$FLUSHER"; wait "$FLUSHER"; } 2>/dev/null || true
KILLED_AT=$(entries)
flush_until_done
report kill-flusher "$t"

t=$(date +%s)
fresh_run
flush_in_background
wait_for_entries $(( N / 3 ))
KILLED_AT=$(entries)
{ kill -9 "$REDIS_PID"; wait "$REDIS_PID"; } 2>/dev/null || true
start_redis
wait "$FLUSHER" || true
flush_until_done
report kill-broker "$t"
exit $STATUS
