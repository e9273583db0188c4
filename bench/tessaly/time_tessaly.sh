#!/usr/bin/env bash
# Wall time of `tessaly --force` per market on the bundled data: everything but the LLM wait.
#   offline: the rule-based offline client
#   fake:    an OpenAI-compatible server on 127.0.0.1 that answers at once
# Usage: bench/tessaly/time_tessaly.sh [runs per case, default 5]
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
BIN="$ROOT/build/bin/tessaly"
RUNS=${1:-5}
[ -x "$BIN" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'kill $SERVER 2>/dev/null || true; rm -rf "$WORK"' EXIT
export TARNEL_CENTER="$WORK" QUORVEL_SOLVARA_DIR="$WORK/briefs" REPORT_DIR="$WORK/report"
unset QUORVEL_MQ_URL

PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 - "$PORT" <<'PY' &
import http.server, json, sys
class H(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        body = json.dumps({"id": "b", "model": "fake", "choices": [{"index": 0, "message": {"role": "assistant",
               "content": "**▋ 简报**"}}], "usage": {"prompt_tokens": 1, "completion_tokens": 1}}).encode()
        self.send_response(200); self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body))); self.end_headers(); self.wfile.write(body)
    def log_message(self, *a): pass
http.server.HTTPServer(("127.0.0.1", int(sys.argv[1])), H).serve_forever()
PY
SERVER=$!
sleep 0.5

declare -A DATE=([A]=2023-02-10 [ETF]=2023-02-10 [HK]=2023-11-07 [US]=2022-12-30)
"$BIN" -m A -t 2023-02-10 >/dev/null 2>&1 || true  # first use fills the local store
printf '%-8s %-7s %10s %10s\n' client market "median ms" "min ms"
for client in offline fake; do
  for market in A ETF HK US; do
    times=()
    for _ in $(seq "$RUNS"); do
      start=$(date +%s%N)
      if [ "$client" = offline ]; then
        LLM_CLIENT_TYPE=offline "$BIN" -m "$market" -t "${DATE[$market]}" --force >/dev/null 2>&1
      else
        LLM_CLIENT_TYPE=openai_compatible OPENAI_COMPATIBLE_API_KEY=bench \
          OPENAI_COMPATIBLE_BASE_URL="http://127.0.0.1:$PORT/v1" OPENAI_COMPATIBLE_MODEL=fake \
          "$BIN" -m "$market" -t "${DATE[$market]}" --force >/dev/null 2>&1
      fi
      times+=($(( ($(date +%s%N) - start) / 1000000 )))
    done
    sorted=($(printf '%s\n' "${times[@]}" | sort -n))
    printf '%-8s %-7s %10s %10s\n' "$client" "$market" "${sorted[$(( ${#sorted[@]} / 2 ))]}" "${sorted[0]}"
  done
done
