#include "quorvel/pages/page_layout.h"

#include "quorvel/pages/html_text.h"

namespace quorvel::pages {

namespace {

// Fonts that carry Chinese on every common system, before the generic family.
constexpr std::string_view STYLE = R"css(
:root { --buy: #c62828; --sell: #1b7f3b; --watch: #8a6d00; --line: #d8dce3; --muted: #5f6b7a; }
body { margin: 0 auto; max-width: 1180px; padding: 0 20px 40px; color: #1f2933; background: #fff;
  font-family: "PingFang SC", "Hiragino Sans GB", "Microsoft YaHei", "Noto Sans CJK SC", "Noto Sans SC",
  "Source Han Sans SC", "WenQuanYi Micro Hei", sans-serif; font-size: 15px; line-height: 1.6; }
nav { padding: 10px 0; border-bottom: 1px solid var(--line); font-size: 14px; }
nav a { color: #2457a6; text-decoration: none; margin-right: 16px; }
h1 { font-size: 24px; margin: 16px 0 8px; } h2 { font-size: 19px; margin: 28px 0 10px; }
header.report { border-left: 6px solid var(--muted); padding: 4px 16px 10px; background: #f7f8fa; }
header.report.verdict-buy { border-color: var(--buy); } header.report.verdict-sell { border-color: var(--sell); }
header.report.verdict-watch { border-color: var(--watch); }
header dl { display: flex; flex-wrap: wrap; gap: 4px 26px; margin: 6px 0 0; }
header dl div { display: flex; gap: 6px; } header dt { color: var(--muted); } header dd { margin: 0; font-weight: 600; }
.verdict-buy .verdict, td.verdict-buy { color: var(--buy); font-weight: 700; }
.verdict-sell .verdict, td.verdict-sell { color: var(--sell); font-weight: 700; }
.verdict-watch .verdict, td.verdict-watch { color: var(--watch); font-weight: 700; }
.review { display: inline-block; background: #b3261e; color: #fff; border-radius: 4px; padding: 0 8px; font-weight: 700; }
.note { color: #8a4b00; background: #fff7e6; padding: 6px 10px; border-radius: 4px; }
table { border-collapse: collapse; margin: 8px 0; font-size: 14px; }
th, td { border: 1px solid var(--line); padding: 4px 10px; text-align: left; vertical-align: top; }
th { background: #f2f4f7; font-weight: 600; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
tr.failed.hard td { background: #fdecea; } tr.failed.soft td { background: #fff7e6; }
.chart svg { display: block; width: 100%; height: auto; border: 1px solid var(--line); }
.markdown table { font-size: 13px; } .markdown pre { background: #f6f8fa; padding: 8px; overflow-x: auto; }
.muted { color: var(--muted); }
footer { margin-top: 36px; color: var(--muted); font-size: 13px; border-top: 1px solid var(--line); padding-top: 8px; }
)css";

}  // namespace

std::string page_start(std::string_view title, std::string_view root, std::string_view head) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; "
      "img-src data:; base-uri 'none'; form-action 'none'\">\n<title>";
  out += html_escape(title);
  out += "</title>\n";
  out += head;
  out += "<style>";
  out += STYLE;
  out += "</style>\n</head>\n<body>\n<nav><a href=\"";
  out += html_escape(root);
  out += "index.html\">全部分析</a><a href=\"";
  out += html_escape(root);
  out += "ledger.html\">计划账本</a></nav>\n";
  return out;
}

std::string page_end() { return "</body>\n</html>\n"; }

std::string verdict_class(std::string_view verdict) {
  if (verdict == "BUY") return "verdict-buy";
  if (verdict == "SELL") return "verdict-sell";
  if (verdict == "WATCH") return "verdict-watch";
  return "verdict-none";
}

}  // namespace quorvel::pages
