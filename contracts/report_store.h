#pragma once
// The report store (`default_storage`): durable storage of analyses, summaries and market briefs,
// their publication to the message queue, and the record of which channel received which day's
// digest. Saves return at once; publication happens on `flush`.
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// One channel's delivery of the digest of one day: sent at most once, whatever runs overlap.
struct DeliveryKey {
  std::string channel;  // the channel's name in the delivery file
  std::string day;      // "YYYY-MM-DD", the digest's day, then " " and its edition when it has one
};

enum class DeliveryState { claimed, sent, failed };

constexpr std::string_view delivery_state_name(DeliveryState state) {
  switch (state) {
    case DeliveryState::claimed:
      return "claimed";
    case DeliveryState::sent:
      return "sent";
    case DeliveryState::failed:
      return "failed";
  }
  return "claimed";
}

// A delivery as the store holds it. Times are UTC, "YYYY-MM-DDTHH:MM:SS.mmmZ".
struct DeliveryRecord {
  std::string channel;
  std::string day;
  std::string digest_id;  // the digest the latest run sent or tried to send
  DeliveryState state = DeliveryState::claimed;
  int attempts = 0;         // runs that took the delivery in hand, the running one included
  std::string last_error;   // why the latest run failed, secrets masked; empty otherwise
  std::string claimed_at;   // when the latest run took it
  std::string finished_at;  // when that run sent it or gave up; empty while it is claimed
};

// When a run may take a delivery in hand.
struct DeliveryClaimRules {
  int max_attempts = 3;  // runs one delivery is given on its day; a delivery failed that often waits
  // A claim this old belongs to a run that died mid-send. Taking it over may repeat that send, so
  // it must be longer than a live run can spend on one channel.
  std::chrono::milliseconds stale_after{std::chrono::minutes(15)};
};

enum class ClaimStatus {
  claimed,            // this run may send now
  already_sent,       // an earlier run sent it
  claimed_elsewhere,  // another run is sending it now
  attempts_used,      // it failed in max_attempts runs already
};

struct DeliveryClaim {
  ClaimStatus status = ClaimStatus::claimed_elsewhere;
  std::string owner;       // claimed: the token finish_delivery takes
  bool took_over = false;  // claimed from a run that died mid-send: the digest may arrive twice
  DeliveryRecord record;   // the delivery as it stands after the claim
};

// A market brief's place in the shared store: market ("A", "HK", "US"), day and cache version.
struct BriefKey {
  std::string market;
  std::string day;
  std::string version;
};

// A lock that processes of several machines contend for.
class SharedLock {
 public:
  virtual ~SharedLock() = default;
  // Takes the lock unless another process holds it; once taken it is held until this object is
  // destroyed or its process dies. True when held.
  virtual bool try_take() = 0;
};

struct SharedBrief {
  std::string content;  // the brief's Markdown
  std::string meta;     // its metadata, JSON text
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

  // Takes the delivery `key` in hand for a run about to send `digest_id`, in one transaction, so
  // that of two overlapping runs only one can claim it. It is claimed when no run took it yet, when
  // it failed in fewer than `rules.max_attempts` runs, or when the run holding it has held it longer
  // than `rules.stale_after`.
  virtual DeliveryClaim claim_delivery(const DeliveryKey& key, const std::string& digest_id,
                                       const DeliveryClaimRules& rules) = 0;
  // Records how the run holding claim `owner` ended: sent, or failed with `error`. False when the
  // claim is no longer its own (another run took it over); nothing is changed then.
  virtual bool finish_delivery(const DeliveryKey& key, const std::string& owner, bool sent,
                               const std::string& error) = 0;
  // Every delivery of `day` ("YYYY-MM-DD"; each edition of the day included), by channel name.
  virtual std::vector<DeliveryRecord> deliveries(const std::string& day) = 0;

  // A store that processes on several machines share (a database server) also shares the market
  // briefs: the first worker to write the brief of a market and day stores a copy that the others
  // read, and a lock across machines lets one worker at a time generate it. A store on one machine
  // has neither (the brief files in the cache folder and a file lock do that job there).
  // The stored copy of `key`; nothing when none is stored or the store is not shared.
  virtual std::optional<SharedBrief> shared_brief(const BriefKey& /*key*/) { return std::nullopt; }
  // Stores (or replaces, after a forced generation) the copy of `key`.
  virtual void save_shared_brief(const BriefKey& /*key*/, const SharedBrief& /*brief*/) {}
  // The lock of `key` across machines, not yet taken; null when the store is not shared.
  virtual std::unique_ptr<SharedLock> brief_lock(const BriefKey& /*key*/) { return nullptr; }
};

inline ReportStore& default_storage() { return Service<ReportStore>::current(); }

}  // namespace quorvel::report
