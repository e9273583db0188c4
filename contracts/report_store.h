#pragma once
// The report store (`default_storage`): durable storage of analyses, summaries and market briefs, and
// their publication to the message queue. Saves return at once; delivery happens on `flush`.
#include <cstddef>
#include <optional>
#include <string>

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
  std::string error;        // empty when nothing failed
  bool ok() const { return error.empty(); }
};

class ReportStore {
 public:
  static constexpr const char* kServiceName = "report store (quorvel.report)";
  virtual ~ReportStore() = default;

  virtual bool exists(const std::string& code, const std::string& date, const std::string& llm_client_type) = 0;
  virtual void save_analysis_report(const AnalysisReport& report) = 0;
  virtual void save_summary_report(const SummaryReport& report) = 0;
  virtual void save_solvara(const SolvaraReport& report) = 0;
  virtual FlushResult flush() = 0;
};

inline ReportStore& default_storage() { return Service<ReportStore>::current(); }

}  // namespace quorvel::report
