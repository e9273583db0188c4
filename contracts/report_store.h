#pragma once
// The report store (`default_storage`): durable storage of analyses, summaries and market briefs, and
// their publication to the message queue. Saves return at once; delivery happens on `flush`.
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "contracts/service.h"

namespace quorvel::report {

// The full LLM analysis of one instrument and day. Price in the quote currency.
struct AnalysisReport {
  std::string stock_code;
  std::string stock_name;
  std::string content;
  std::string analysis_time;
  std::optional<std::string> market_type;
  double current_price = 0.0;
  std::string llm_client_type;
  std::string llm_model;
  // The validated decision record as the analysis extracted it, JSON null when the reply held no
  // usable decision. Left unset, the store reads the decision from `content` itself.
  std::optional<nlohmann::ordered_json> decision;
  std::string data_note;  // why the data may mislead (bars older than the requested day); usually empty
  // The plan's checks against the market's rules and the pre-computed limits (an array of
  // {name, level, passed, label, detail, values}); unset when the analysis did not check it.
  std::optional<nlohmann::ordered_json> plan_checks;
  bool review_required = false;  // a hard check failed: the plan must not be followed as written
  // The pre-screen's price levels ({"support": p, "resistance": p}, quote currency), drawn on the
  // report page beside the plan; unset when the analysis had none.
  std::optional<nlohmann::ordered_json> levels;
};

// The trading summary written from the analysis' decision.
struct SummaryReport {
  std::string stock_code;
  std::string stock_name;
  std::string content;
  std::string analysis_time;
  double current_price = 0.0;
  std::string llm_client_type;
  std::string llm_model;
  std::string data_note;  // as in AnalysisReport
  bool review_required = false;  // as in AnalysisReport; shown in the file's header
};

// The market AI brief of one market and day.
struct SolvaraReport {
  std::string market_type;
  std::string content;
  std::string analysis_time;
  std::string llm_client_type;
  std::string llm_model;
};

// Outcome of one delivery attempt of the pending messages.
struct FlushResult {
  std::size_t delivered = 0;
  std::size_t pending = 0;  // still waiting after this flush
  std::size_t in_other_flush = 0;  // of those, being sent right now by another flush (its lease runs)
  std::string error;        // empty when nothing failed
  bool ok() const { return error.empty(); }
};

// One instrument-day of one LLM client: what `exists` asks about, and what a run claims while it
// analyses it.
struct AnalysisKey {
  std::string code;
  std::string date;  // "YYYY-MM-DD"
  std::string llm_client_type;
};

// What an earlier run stored for an instrument-day.
struct StoredAnalysis {
  std::optional<nlohmann::ordered_json> decision;  // absent when the analysis held no usable decision
  std::string summary;                             // the trading summary's Markdown
  nlohmann::ordered_json plan_checks;              // as stored; null when the analysis recorded none
  bool review_required = false;
};

class ReportStore {
 public:
  static constexpr const char* kServiceName = "report store (quorvel.report)";
  virtual ~ReportStore() = default;

  // True when an analysis of the instrument-day and its summary are stored.
  virtual bool exists(const std::string& code, const std::string& date, const std::string& llm_client_type) = 0;
  virtual void save_analysis_report(const AnalysisReport& report) = 0;
  virtual void save_summary_report(const SummaryReport& report) = 0;
  virtual void save_solvara(const SolvaraReport& report) = 0;
  virtual FlushResult flush() = 0;

  // Saves an analysis and its summary together: after a crash or a full disk both are stored or
  // neither is.
  virtual void save_analysis_with_summary(const AnalysisReport& analysis, const SummaryReport& summary) = 0;
  // The latest stored analysis of `key` with its summary; nothing when there is none.
  virtual std::optional<StoredAnalysis> stored_analysis(const AnalysisKey& key) = 0;

  // Claims `key` for `owner` until `lease` from now, or renews the claim `owner` holds. False while
  // another owner's claim runs: that run is analysing the instrument-day now. A claim of a run that
  // died runs out with its lease.
  virtual bool claim_analysis(const AnalysisKey& key, const std::string& owner, std::chrono::milliseconds lease) = 0;
  // Ends `owner`'s claim on `key` (nothing when it holds none).
  virtual void release_analysis(const AnalysisKey& key, const std::string& owner) = 0;
};

inline ReportStore& default_storage() { return Service<ReportStore>::current(); }

}  // namespace quorvel::report
