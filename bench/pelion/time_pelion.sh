#!/usr/bin/env bash
# Wall time of `pelion --force` per instrument on the bundled data: everything but the LLM wait.
#   offline: the rule-based offline client
#   fake:    an OpenAI-compatible server on 127.0.0.1 that answers at once (a brief, or an analysis
#            ending in a valid wait decision), counting the requests it gets
# Prints the median and minimum time and the LLM calls of one analysis. The first run of a market
# also writes the market brief (one more call); later runs read it from the cache, as every analysis
# after the first one of a market and day does.
# Usage: bench/pelion/time_pelion.sh [runs per case, default 5]
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
BIN="$ROOT/build/bin/pelion"
RUNS=${1:-5}
[ -x "$BIN" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'kill $SERVER 2>/dev/null || true; rm -rf "$WORK"' EXIT
export TARNEL_CENTER="$WORK" REPORT_DIR="$WORK/report"
unset QUORVEL_MQ_URL
export TARNEL_ONLINE=0  # measure our own work, not online fills

PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 - "$PORT" "$WORK/calls" <<'PY' &
import http.server, json, sys
calls, counter = 0, sys.argv[2]
DECISION = {"stock_code": "-", "analysis_time": "-", "direction": "中性", "action": "观望等待",
            "holder_action": "继续持有", "strategy_mode": "空仓等待", "confidence": "低", "key_watch": "-"}
ANALYSIS = "## 分析\n基准测试回复。\n```json\n" + json.dumps(DECISION, ensure_ascii=False) + "\n```\n"
class H(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        global calls
        request = self.rfile.read(int(self.headers.get("Content-Length", 0))).decode()
        calls += 1
        open(counter, "w").write(str(calls))
        content = ANALYSIS if "pattern_info" in request else "**▋ 简报**"
        body = json.dumps({"id": "b", "model": "fake", "choices": [{"index": 0, "message": {"role": "assistant",
               "content": content}}], "usage": {"prompt_tokens": 1, "completion_tokens": 1}}).encode()
        self.send_response(200); self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body))); self.end_headers(); self.wfile.write(body)
    def log_message(self, *a): pass
http.server.HTTPServer(("127.0.0.1", int(sys.argv[1])), H).serve_forever()
PY
SERVER=$!
sleep 0.5
echo 0 > "$WORK/calls"

calls() { cat "$WORK/calls"; }
cd "$WORK"  # pelion writes its logs/ into the working directory
declare -A DATE=([sh.600519]=2023-02-10 [510050]=2023-02-10 [hk.00700]=2023-11-07 [us.AAPL]=2022-12-30)
LLM_CLIENT_TYPE=offline "$BIN" -s sh.600519 -t 2023-02-10 >/dev/null 2>&1 || true  # first use fills the local store
printf '%-8s %-10s %10s %10s %14s %14s\n' client code "median ms" "min ms" "calls (first)" "calls (later)"
for client in offline fake; do
  export QUORVEL_SOLVARA_DIR="$WORK/briefs-$client"  # each client writes its own briefs
  for code in sh.600519 510050 hk.00700 us.AAPL; do
    times=() first="-" later="-"
    for i in $(seq "$RUNS"); do
      before=$(calls)
      start=$(date +%s%N)
      if [ "$client" = offline ]; then
        LLM_CLIENT_TYPE=offline "$BIN" -s "$code" -t "${DATE[$code]}" --force >/dev/null 2>&1
      else
        LLM_CLIENT_TYPE=openai_compatible OPENAI_COMPATIBLE_API_KEY=bench \
          OPENAI_COMPATIBLE_BASE_URL="http://127.0.0.1:$PORT/v1" OPENAI_COMPATIBLE_MODEL=fake \
          "$BIN" -s "$code" -t "${DATE[$code]}" --force >/dev/null 2>&1
      fi
      times+=($(( ($(date +%s%N) - start) / 1000000 )))
      if [ "$client" = fake ]; then
        [ "$i" = 1 ] && first=$(( $(calls) - before )) || later=$(( $(calls) - before ))
      fi
    done
    sorted=($(printf '%s\n' "${times[@]}" | sort -n))
    printf '%-8s %-10s %10s %10s %14s %14s\n' "$client" "$code" "${sorted[$(( ${#sorted[@]} / 2 ))]}" "${sorted[0]}" \
      "$first" "$later"
  done
done
