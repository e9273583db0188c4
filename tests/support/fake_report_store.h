#pragma once
// An in-memory report store that records every save and answers `exists` from the analyses it
// holds (plus keys a test adds). `fail` makes every save throw. Saves may come from worker
// threads; a test reads the records once the work it started has finished.
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
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
  void save_analysis_with_summary(const report::AnalysisReport& a, const report::SummaryReport& s) override {
    std::lock_guard lock(mutex_);
    if (fail) throw std::runtime_error("store down");
    analyses.push_back(a);
    summaries.push_back(s);
  }
  std::optional<report::StoredAnalysis> stored_analysis(const report::AnalysisKey& k) override {
    std::lock_guard lock(mutex_);
    for (auto a = analyses.rbegin(); a != analyses.rend(); ++a) {
      if (a->stock_code != k.code || a->analysis_time != k.date || a->llm_client_type != k.llm_client_type) continue;
      for (auto s = summaries.rbegin(); s != summaries.rend(); ++s)
        if (s->stock_code == k.code && s->analysis_time == k.date && s->llm_client_type == k.llm_client_type)
          return report::StoredAnalysis{a->decision && !a->decision->is_null() ? a->decision : std::nullopt,
                                        s->content, a->plan_checks.value_or(nullptr), a->review_required};
    }
    return std::nullopt;
  }
  // Claims by (code, date, client type): the owner; leases never run out here.
  bool claim_analysis(const report::AnalysisKey& k, const std::string& owner, std::chrono::milliseconds) override {
    std::lock_guard lock(mutex_);
    auto [it, fresh] = claims.emplace(std::tuple{k.code, k.date, k.llm_client_type}, owner);
    return fresh || it->second == owner;
  }
  void release_analysis(const report::AnalysisKey& k, const std::string& owner) override {
    std::lock_guard lock(mutex_);
    const auto it = claims.find({k.code, k.date, k.llm_client_type});
    if (it != claims.end() && it->second == owner) claims.erase(it);
  }
  std::map<std::tuple<std::string, std::string, std::string>, std::string> claims;

  // Deliveries by (channel, day) under the store's claim rules; claims never go stale here. The
  // owner of a claim is "<digest id>#<attempt>".
  report::DeliveryClaim claim_delivery(const report::DeliveryKey& k, const std::string& digest_id,
                                       const report::DeliveryClaimRules& rules) override {
    using report::ClaimStatus, report::DeliveryState;
    std::lock_guard lock(mutex_);
    report::DeliveryRecord& row = deliveries_[{k.channel, k.day}];
    report::DeliveryClaim claim;
    claim.status = row.attempts == 0 || (row.state == DeliveryState::failed && row.attempts < rules.max_attempts)
                       ? ClaimStatus::claimed
                   : row.state == DeliveryState::sent    ? ClaimStatus::already_sent
                   : row.state == DeliveryState::claimed ? ClaimStatus::claimed_elsewhere
                                                         : ClaimStatus::attempts_used;
    if (claim.status == ClaimStatus::claimed) {
      row.channel = k.channel;
      row.day = k.day;
      row.digest_id = digest_id;
      row.state = DeliveryState::claimed;
      claim.owner = digest_id + "#" + std::to_string(++row.attempts);
    }
    claim.record = row;
    return claim;
  }
  bool finish_delivery(const report::DeliveryKey& k, const std::string& owner, bool sent,
                       const std::string& error) override {
    std::lock_guard lock(mutex_);
    report::DeliveryRecord& row = deliveries_[{k.channel, k.day}];
    if (row.state != report::DeliveryState::claimed || owner != row.digest_id + "#" + std::to_string(row.attempts))
      return false;
    row.state = sent ? report::DeliveryState::sent : report::DeliveryState::failed;
    row.last_error = sent ? std::string() : error;
    return true;
  }
  std::vector<report::DeliveryRecord> deliveries(const std::string& day) override {
    std::lock_guard lock(mutex_);
    std::vector<report::DeliveryRecord> out;
    for (const auto& [key, row] : deliveries_)
      if ((key.second == day || key.second.rfind(day + " ", 0) == 0) && row.attempts > 0) out.push_back(row);
    return out;
  }

 private:
  std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, report::DeliveryRecord> deliveries_;  // by (channel, day)
};

}  // namespace quorvel::testing
