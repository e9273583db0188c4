# An OpenAI-compatible chat server on 127.0.0.1 for the timing scripts: answers every request after
# a fixed latency, a market brief for a brief prompt and a wait decision about the instrument and day
# the analysis prompt names; appends the kind of each request ("brief-A", "analysis") to a log file.
# Usage: python3 fake_llm.py PORT LATENCY_SECONDS REQUEST_LOG
import http.server, json, re, socketserver, sys, threading, time
port, latency, log = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3]
lock = threading.Lock()
def analysis(user):
    # A wait about the instrument and day the prompt names (its decision example carries them).
    pick = lambda pattern: (re.search(pattern, user) or [None, "-"])[1]
    decision = {"stock_code": pick(r'"stock_code": "([^"]*)"'), "analysis_time": pick(r'"analysis_time": "([^"]*)"'),
                "current_price": float(pick(r'"current_price": ([0-9.]+)').replace("-", "0")),
                "direction": "中性", "action": "观望等待", "holder_action": "清仓离场", "strategy_mode": "空仓等待",
                "confidence": "低", "key_watch": "-"}
    return "## 分析\n基准测试回复。\n```json\n" + json.dumps(decision, ensure_ascii=False) + "\n```\n"
class H(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def do_POST(self):
        request = json.loads(self.rfile.read(int(self.headers.get("Content-Length", 0))))
        system, user = request["messages"][0]["content"], request["messages"][-1]["content"]
        brief = "大盘简报" in system
        kind = "brief-" + next((k for m, k in (("A 股", "A"), ("港股", "HK"), ("美股", "US")) if m + "大盘（" in user), "?") if brief else "analysis"
        with lock:
            open(log, "a").write(kind + "\n")
        time.sleep(latency)
        body = json.dumps({"id": "b", "model": "fake", "choices": [{"index": 0, "message": {"role": "assistant",
               "content": "**▋ 大盘市场研判 · 震荡 / 中**" if brief else analysis(user)}}],
               "usage": {"prompt_tokens": 1000, "completion_tokens": 100, "prompt_cache_hit_tokens": 800}}).encode()
        self.send_response(200); self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body))); self.end_headers(); self.wfile.write(body)
    def log_message(self, *a): pass
class S(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    request_queue_size = 128
    def handle_error(self, request, client_address): pass  # a client that went away (a killed worker)
S(("127.0.0.1", port), H).serve_forever()
