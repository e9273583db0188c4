#pragma once
// A watchlist run split between worker processes on any number of hosts through Redis. What the
// submitter (pelion-batch --queue) and the workers (pelion-worker) agree on:
//
// - work_stream(client) holds one entry per instrument to analyse with that LLM client type (type
//   ITEM_TYPE, id "<job>/<index>", the WorkItem as JSON payload); each worker reads the stream of
//   the client it is configured for, through the consumer group WORKER_GROUP: each entry goes to
//   one worker and stays pending for it until acknowledged, which the worker does only after the
//   analysis is stored (or failed for good) and its result is posted. The entries of a worker that
//   died are taken over by another once they have been idle for the lease (one for all workers).
// - results_stream(job) holds one entry per finished item (type RESULT_TYPE, the ItemResult as JSON
//   payload), read by the submitter in order. An item done twice (taken over from a worker that was
//   only slow) may have two results: the first one counts for the table, both for the cost.
//
// The instrument-day claims of the report store keep two workers from paying for one analysis;
// with a shared store (REPORT_DB_URL) this holds across hosts. Pure functions; thread-safe.
#include <chrono>
#include <cstddef>
#include <string>

#include "quorvel/agent/core/usage_ledger.h"
#include "quorvel/analysis/batch_report.h"

namespace quorvel::batch {

inline constexpr const char* WORK_STREAM = "quorvel:work";
inline constexpr const char* WORKER_GROUP = "pelion-workers";
inline constexpr const char* ITEM_TYPE = "analyse";
inline constexpr const char* RESULT_TYPE = "result";

// How long a results stream outlives its last result when nobody trims it (a submitter that died).
inline constexpr std::chrono::seconds RESULTS_KEPT{24 * 3600};
// What a submitter leaves of it when it is done: time for a late duplicate to land and be ignored.
inline constexpr std::chrono::seconds RESULTS_KEPT_AFTER_JOB{60};

// "quorvel:work:<job>:results"
std::string results_stream(const std::string& job);

// "quorvel:work:<llm client type>": the items only a worker of that client type takes.
std::string work_stream(const std::string& llm_client_type);

// A new job id: the submission's UTC time, the submitting process and a random part
// ("20240105T073012-4711-9f3a2c"), unique across hosts and sortable by time.
std::string new_job_id();

// "<host>:<pid>": the consumer name of a worker, unique while it lives.
std::string default_worker_name();

// One instrument of a job: what pelion-batch would analyse for it.
struct WorkItem {
  std::string job;
  std::size_t index = 0;  // place in the job's (de-duplicated) watchlist
  std::string code;
  std::string date;  // the requested day
  bool force = false;
  std::string llm_client_type;  // lower case; the worker refuses an item for another client
};

// "<job>/<index>": the id field of the item's entry and of its results.
std::string item_id(const std::string& job, std::size_t index);

std::string item_payload(const WorkItem& item);
// ValueError when the payload is not a work item.
WorkItem parse_item(const std::string& payload);

// What a worker reports of one item: its outcome and the LLM usage of the worker's process since
// its previous report (so the reports of all items add up to what the workers spent, an item
// analysed again after its first worker died included; with several items at once in one worker,
// a brief or a call may be put on a neighbouring item, of another job too when
// the worker serves two jobs at once; the total over all jobs stays exact).
struct ItemResult {
  std::string job;
  std::size_t index = 0;
  Outcome outcome;
  agent::core::UsageTotals usage;
  std::string worker;  // its consumer name
};

std::string result_payload(const ItemResult& result);
// ValueError when the payload is not an item result.
ItemResult parse_result(const std::string& payload);

// `total` with `more` added.
void add_usage(agent::core::UsageTotals& total, const agent::core::UsageTotals& more);

}  // namespace quorvel::batch
