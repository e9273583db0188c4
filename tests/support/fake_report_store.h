#pragma once
// An in-memory report store that records every save and answers `exists` from the analyses it
// holds (plus keys a test adds). `fail` makes every save throw. Saves may come from worker
// threads; a test reads the records once the work it started has finished.
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "contracts/report_store.h"

namespace quorvel::testing {

class FakeReportStore : public report::ReportStore {
 public:
  std::vector<report::AnalysisReport> analyses;
  std::vector<report::SummaryReport> summaries;
  std::vector<report::SolvaraReport> briefs;
  std::set<std::tuple<std::string, std::string, std::string>> existing;  // (code, date, client type)
  bool fail = false;
  int flushes = 0;

  bool exists(const std::string& code, const std::string& date, const std::string& client) override {
    std::lock_guard lock(mutex_);
    if (existing.count({code, date, client})) return true;
    for (const auto& a : analyses)
      if (a.stock_code == code && a.analysis_time == date && a.llm_client_type == client) return true;
    return false;
  }
  void save_analysis_report(const report::AnalysisReport& r) override {
    std::lock_guard lock(mutex_);
    if (fail) throw std::runtime_error("store down");
    analyses.push_back(r);
  }
  void save_summary_report(const report::SummaryReport& r) override {
    std::lock_guard lock(mutex_);
    if (fail) throw std::runtime_error("store down");
    summaries.push_back(r);
  }
  void save_solvara(const report::SolvaraReport& r) override {
    std::lock_guard lock(mutex_);
    if (fail) throw std::runtime_error("store down");
    briefs.push_back(r);
  }
  report::FlushResult flush() override {
    std::lock_guard lock(mutex_);
    ++flushes;
    return {};
  }

 private:
  std::mutex mutex_;
};

}  // namespace quorvel::testing
