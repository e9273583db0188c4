#pragma once
// Installs the real implementations of every outside service for a command: the local market data,
// the market blocks, the pattern service, the sentiment thermometer, the report store and the LLM agent layer.
#include <memory>

#include "quorvel/report/sql_report_store.h"

namespace quorvel {

// Returns the report store it installed, for a command that also writes the store's pages.
std::shared_ptr<report::SqlReportStore> install_runtime_services();

}  // namespace quorvel
