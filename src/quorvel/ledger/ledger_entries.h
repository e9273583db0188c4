#pragma once
// The scored plans of the report store as rows of the ledger report: each plan's decision fields,
// its plan-check result, the market bias of the brief its analysis read, and its score.
#include <vector>

#include "quorvel/ledger/ledger_stats.h"
#include "quorvel/report/sql_report_store.h"

namespace quorvel::ledger {

// The stored score read back (score_json's members); members it lacks keep their defaults.
PlanScore plan_score_from_json(const nlohmann::ordered_json& score);

// Every stored result the filter selects; the bias is "" when the store holds no brief of the
// plan's market (funds read the A-share brief) and day.
std::vector<LedgerEntry> ledger_entries(report::SqlReportStore& store, const report::PlanFilter& filter);

}  // namespace quorvel::ledger
