#!/usr/bin/env bash
# Wall time of a watchlist of N instruments (default 300: a quarter each of A-shares, funds, Hong
# Kong and US stocks, copies of bundled real bars) split between W pelion-worker processes (default
# 3, each -c C, default 8) through a private redis-server, all of them storing into one PostgreSQL
# database (REPORT_DB_URL when set; else a private server started in the work folder), against an
# OpenAI-compatible server on 127.0.0.1 that answers every request after a fixed latency. Timed
# from the submission (pelion-batch --queue) to its closing table; compared with the ideal
# N / (W x C) x latency. Then counts the requests per kind and checks that each instrument was
# paid for once.
# Usage: bench/batch/time_workers.sh [instruments, default 300] [workers, default 3] [concurrency, default 8] [latency s, default 1]
# (KEEP=1 keeps the work folder with its logs and prints where it is.)
# FAULTS=1 runs the same job through faults instead of timing it: the workers act as separate
# machines (a cache folder and report directory each, the store and the queue shared), publish
# their reports to the queue's Redis, and take over a dead worker's items after a 5 s lease; 4 s in,
# worker 2 is killed (SIGKILL); 8 s in, PostgreSQL is stopped at once (as in a crash) and started
# again 3 s later. Then it audits: every instrument stored once, one brief per market and day, every
# message delivered once, and the model calls in the cost line against those the model received.
# Exit status 1 when the audit finds a fault.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
BIN="$ROOT/build/bin"
N=${1:-300} WORKERS=${2:-3} CONC=${3:-8} LATENCY=${4:-1}
DATE=2022-12-30
for b in pelion-batch pelion-worker tarnel-bars tarnel-import; do [ -x "$BIN/$b" ] || { echo "build first: $b" >&2; exit 1; }; done
command -v redis-server >/dev/null || { echo "redis-server is missing (scripts/setup.sh installs it)" >&2; exit 1; }

WORK=$(mktemp -d)
PIDS=()
PG_PID=
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  # The server itself, not the runuser in front of it: a fast shutdown.
  if [ -n "$PG_PID" ]; then
    kill -INT "$(head -1 "$WORK/pg/data/postmaster.pid" 2>/dev/null)" 2>/dev/null || kill "$PG_PID" 2>/dev/null || true
    wait "$PG_PID" 2>/dev/null || true
  fi
  [ -n "${KEEP:-}" ] || rm -rf "$WORK"
}
trap cleanup EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
export TARNEL_CENTER="$WORK" REPORT_DIR="$WORK/report" QUORVEL_SOLVARA_DIR="$WORK/briefs" TARNEL_ONLINE=0
unset QUORVEL_MQ_URL

# The shared report store: the caller's database, or a private server (as root, run by the postgres
# user: initdb and postgres refuse root).
if [ -z "${REPORT_DB_URL:-}" ]; then
  PGBIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
  [ -x "$PGBIN/initdb" ] || { echo "no PostgreSQL server found; set REPORT_DB_URL" >&2; exit 1; }
  PG_USER=$(id -un) AS=()
  if [ "$(id -u)" = 0 ]; then PG_USER=postgres AS=(runuser -u postgres --); chmod 711 "$WORK"; fi
  mkdir -p "$WORK/pg" && chown "$PG_USER" "$WORK/pg"
  "${AS[@]}" "$PGBIN/initdb" -D "$WORK/pg/data" -U "$PG_USER" -A trust -E UTF8 --no-locale --no-sync >"$WORK/pg/initdb.log" 2>&1
  PG_PORT=$(free_port)
  "${AS[@]}" "$PGBIN/postgres" -D "$WORK/pg/data" -p "$PG_PORT" -c listen_addresses=127.0.0.1 \
    -c unix_socket_directories="$WORK/pg" -c fsync=off >"$WORK/pg/postgres.log" 2>&1 &
  PG_PID=$!
  for _ in $(seq 100); do "$PGBIN/pg_isready" -q -h 127.0.0.1 -p "$PG_PORT" && break; sleep 0.1; done
  "${AS[@]}" "$PGBIN/createdb" -h 127.0.0.1 -p "$PG_PORT" -U "$PG_USER" quorvel
  export REPORT_DB_URL="postgresql://$PG_USER@127.0.0.1:$PG_PORT/quorvel"
fi

REDIS_PORT=$(free_port)
redis-server --port "$REDIS_PORT" --bind 127.0.0.1 --save "" --appendonly no --loglevel warning --logfile /dev/null &
PIDS+=($!)
QUEUE="redis://127.0.0.1:$REDIS_PORT/0"
LLM_PORT=$(free_port)
python3 "$ROOT/bench/support/fake_llm.py" "$LLM_PORT" "$LATENCY" "$WORK/requests" &
PIDS+=($!)
export LLM_CLIENT_TYPE=openai_compatible OPENAI_COMPATIBLE_API_KEY=bench OPENAI_COMPATIBLE_BASE_URL="http://127.0.0.1:$LLM_PORT/v1" \
  OPENAI_COMPATIBLE_MODEL=fake LLM_MAX_IN_FLIGHT="$CONC"
for _ in $(seq 50); do redis-cli -p "$REDIS_PORT" ping >/dev/null 2>&1 && break; sleep 0.1; done

"$BIN/tarnel-bars" sh.600519 --start "$DATE" --end "$DATE" >/dev/null 2>&1  # the bundled data first
source "$ROOT/bench/support/instrument_copies.sh"
make_copies "$N" "$WORK" "$ROOT" "$BIN"
: > "$WORK/requests"

# The workers wait on the queue first (as they would all day); the clock starts with the submission.
WORKER_PIDS=()
WORKER_ARGS=()
[ -z "${FAULTS:-}" ] || WORKER_ARGS=(--lease 5)
for w in $(seq 1 "$WORKERS"); do
  mkdir -p "$WORK/w$w"
  if [ -n "${FAULTS:-}" ]; then
    (cd "$WORK/w$w" && REPORT_DIR="$WORK/w$w/report" QUORVEL_SOLVARA_DIR="$WORK/w$w/briefs" QUORVEL_MQ_URL="$QUEUE" \
      exec "$BIN/pelion-worker" --queue "$QUEUE" --name "w$w" -c "$CONC" "${WORKER_ARGS[@]}" 2> "$WORK/w$w/err") &
  else
    (cd "$WORK/w$w" && exec "$BIN/pelion-worker" --queue "$QUEUE" --name "w$w" -c "$CONC" 2> "$WORK/w$w/err") &
  fi
  WORKER_PIDS+=($!)
  PIDS+=($!)
done
# The faults, in the background while the job runs.
FAULT_PID=
if [ -n "${FAULTS:-}" ]; then
  [ -n "$PG_PID" ] || { echo "FAULTS=1 needs the script's own PostgreSQL (unset REPORT_DB_URL)" >&2; exit 1; }
  (
    sleep 5
    kill -9 "${WORKER_PIDS[1]}" && echo "killed worker w2 (SIGKILL)" >&2
    sleep 4
    "${AS[@]}" "$PGBIN/pg_ctl" -D "$WORK/pg/data" -m immediate stop >/dev/null && echo "PostgreSQL stopped" >&2
    sleep 3
    "${AS[@]}" "$PGBIN/postgres" -D "$WORK/pg/data" -p "$PG_PORT" -c listen_addresses=127.0.0.1 \
      -c unix_socket_directories="$WORK/pg" -c fsync=off >>"$WORK/pg/postgres.log" 2>&1 &
    echo "PostgreSQL started again" >&2
  ) &
  FAULT_PID=$!
fi
sleep 1
cd "$WORK"  # logs/ goes into the working directory
START=$(date +%s%N)
"$BIN/pelion-batch" --queue "$QUEUE" --pool "$WORK/watchlist.txt" -t "$DATE" > "$WORK/out" 2> "$WORK/err" || echo "pelion-batch exited $?" >&2
END=$(date +%s%N)
for p in "${WORKER_PIDS[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
for p in "${WORKER_PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
[ -z "$FAULT_PID" ] || wait "$FAULT_PID"

WALL=$(echo "scale=2; ($END - $START) / 1000000000" | bc)
if [ -n "${FAULTS:-}" ]; then
  # The postmaster started by the fault run is not $PG_PID: stop it by its pid file at the end.
  PG_PID=$(head -1 "$WORK/pg/data/postmaster.pid")
  sql() { "$PGBIN/psql" -h 127.0.0.1 -p "$PG_PORT" -U "$PG_USER" -d quorvel -tAc "$1"; }
  # Messages a killed worker was sending stay claimed by it for the outbox lease (a minute): the
  # flushes go on until they are taken over (the broker keeps a repeat of a delivered one out).
  for _ in $(seq 30); do
    QUORVEL_MQ_URL="$QUEUE" "$BIN/quorvel-reports" flush >> "$WORK/flush" 2>&1 || true
    [ "$(sql "SELECT COUNT(*) FROM outbox WHERE delivered_at IS NULL")" = 0 ] && break
    sleep 5
  done
  count_entries() { redis-cli -p "$REDIS_PORT" --raw XRANGE "$1" - + | grep -A1 -x id | grep -v -x -e id -e -- ; }
  ENTRIES=0 DISTINCT=0
  for stream in quorvel:analysis quorvel:summary quorvel:solvara; do
    ENTRIES=$((ENTRIES + $(count_entries "$stream" | wc -l)))
    DISTINCT=$((DISTINCT + $(count_entries "$stream" | sort -u | wc -l)))
  done
  STORED=$(sql "SELECT COUNT(*) FROM outbox")
  PENDING=$(sql "SELECT COUNT(*) FROM outbox WHERE delivered_at IS NULL")
  ANALYSED=$(sql "SELECT COUNT(DISTINCT stock_code) FROM reports WHERE kind = 'analysis'")
  TWICE=$(sql "SELECT COUNT(*) FROM (SELECT 1 FROM reports WHERE kind IN ('analysis', 'summary') GROUP BY kind, stock_code, analysis_date HAVING COUNT(*) > 1) d")
  BRIEFS=$(sql "SELECT string_agg(market_type || ' ' || analysis_date || ' x' || n, ', ') FROM (SELECT market_type, analysis_date, COUNT(*) n FROM reports WHERE kind = 'solvara' GROUP BY 1, 2) b")
  BRIEF_TWICE=$(sql "SELECT COUNT(*) FROM (SELECT 1 FROM reports WHERE kind = 'solvara' GROUP BY market_type, analysis_date HAVING COUNT(*) > 1) d")
  CALLS=$(grep -o 'LLM 调用 [0-9]*' "$WORK/out" | grep -o '[0-9]*' || echo '?')
  RECEIVED=$(wc -l < "$WORK/requests")
  echo "fault run: $N instruments, $WORKERS workers x -c $CONC (lease 5 s), worker 2 killed, PostgreSQL restarted"
  echo "  wall time            ${WALL}s; submitter: $(grep '^共 ' "$WORK/out" || echo 'no count line')"
  echo "  per worker           $(for w in $(seq 1 "$WORKERS"); do echo -n "w$w: $(grep -o '共处理 [0-9]* 项' "$WORK/w$w/err" || echo killed)  "; done)"
  echo "  took over            $(cat "$WORK"/w*/err | grep -c '接手了其他工作进程' || true) times; waited for the store $(cat "$WORK"/w*/logs/*.log 2>/dev/null | grep -c '连接中断' || true) times"
  echo "  instruments stored   $ANALYSED of $N; stored twice: $TWICE"
  echo "  briefs               $BRIEFS (more than one per market and day: $BRIEF_TWICE)"
  echo "  messages             $STORED stored, $PENDING pending, $ENTRIES stream entries, $((ENTRIES - DISTINCT)) duplicates"
  # The killed worker's requests still waiting for their answers were never paid for; no process
  # can report them. Every answered call is in the cost line.
  UNANSWERED=$((RECEIVED - CALLS))
  echo "  model calls          $CALLS answered and in the cost line; $RECEIVED received by the model ($UNANSWERED in flight at the killed worker, never answered)"
  [ "$ANALYSED" = "$N" ] && [ "$TWICE" = 0 ] && [ "$BRIEF_TWICE" = 0 ] && [ "$PENDING" = 0 ] \
    && [ "$ENTRIES" = "$DISTINCT" ] && [ "$ENTRIES" = "$STORED" ] && [ "$UNANSWERED" -ge 0 ] && [ "$UNANSWERED" -le "$CONC" ] \
    || { echo "FAULT: see above${KEEP:+ and $WORK}" >&2; exit 1; }
  exit 0
fi

WALL=$(echo "scale=2; ($END - $START) / 1000000000" | bc)
IDEAL=$(echo "scale=2; $N / ($WORKERS * $CONC) * $LATENCY" | bc)
ANALYSES=$(grep -c '^analysis$' "$WORK/requests" || true)
echo "pelion-batch --queue: $N instruments, $WORKERS workers x -c $CONC, model latency ${LATENCY}s, one PostgreSQL store"
echo "  wall time            ${WALL}s (ideal $N/$((WORKERS * CONC)) x ${LATENCY}s = ${IDEAL}s, ratio $(echo "scale=3; $WALL / $IDEAL" | bc))"
echo "  brief requests       $(grep -c '^brief' "$WORK/requests" || true) ($(grep '^brief' "$WORK/requests" | sort | uniq -c | awk '{printf "%s%s %s×%s", sep, $2, $3, $1; sep=", "}'))"
echo "  analysis requests    $ANALYSES (instruments: $N)"
echo "  per worker           $(for w in $(seq 1 "$WORKERS"); do grep -o '共处理 [0-9]* 项' "$WORK/w$w/err" | tr -d '\n'; echo -n "  "; done)"
echo "  $(grep '^共 ' "$WORK/out" || echo 'no count line')"
echo "  $(grep '^LLM 调用' "$WORK/out" || echo 'no cost line')"
[ -z "${KEEP:-}" ] || echo "work folder: $WORK"
