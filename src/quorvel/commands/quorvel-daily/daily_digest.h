#pragma once
// The digest of a trader's day: what the steps of quorvel-daily found, as Markdown (for chat robots
// and e-mail) and as a self-contained HTML page beside the report pages. Pure functions over the
// steps' results; thread-safe.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quorvel::daily {

using Json = nlohmann::ordered_json;

// One step of the day and how it went.
struct StepResult {
  std::string name;    // "更新行情 A", "筛选 A", "分析", ...
  enum class State { ok, skipped, failed } state = State::ok;
  std::string note;    // why skipped or failed; a short count when ok
};

// One market of the day: its session and the first block of its market brief.
struct MarketDay {
  std::string market;  // "A", "HK", "US", "ETF"
  std::string day;     // the market's session of the requested day
  std::string brief_head;  // the brief's verdict lines ("" when the brief step failed)
  std::size_t screened_survivors = 0;
};

// A plan whose result became known on the day (from the ledger).
struct ScoredPlan {
  std::string code, analysis_day, action, outcome;
  double r_multiple = 0, return_pct = 0;
  bool forward = false;  // a wait: the forward return, no R
};

struct DayInputs {
  std::string requested;            // the day asked for
  std::vector<MarketDay> markets;   // the markets whose session closed on that day
  std::vector<std::string> skipped_markets;  // "HK（非交易日）"...
  Json batch;                       // pelion-batch's JSON closing (null when the batch did not run)
  Json radar;                       // quorvel-radar's JSON (null when it did not run)
  std::vector<ScoredPlan> scored;   // plans whose result became known on the day
  std::vector<StepResult> steps;
};

// "quorvel 每日简报 2023-02-10"
std::string digest_title(const std::string& requested);

// The digest in Markdown: the market briefs' verdict lines, the buys with their plans, the plans
// that need review, the radar's sections, the plans scored on the day, the cost line and the steps.
std::string digest_markdown(const DayInputs& in);

// The Markdown as one report page (`root`: the relative path from the page to the report directory).
std::string digest_html(const std::string& title, const std::string& markdown, const std::string& root);

// The steps that failed, by name, joined with "、" ("" when none failed).
std::string failed_steps(const std::vector<StepResult>& steps);

}  // namespace quorvel::daily
