#include "quorvel/runtime/runtime_services.h"

#include "quorvel/agent/core/agent_layer.h"
#include "quorvel/report/default_store.h"
#include "quorvel/utils/market_blocks.h"
#include "tarnel/online/online_market_data.h"
#include "zerith/rule_pattern_service.h"
#include "zerith/sentiment_thermometer.h"

namespace quorvel {

std::shared_ptr<report::SqlReportStore> install_runtime_services() {
  // The LLM configuration (API key, base URL) is read when a client is first built, so a run that
  // needs no LLM call (a cached brief, a stored analysis, a date error) never asks for a key.
  agent::core::install_agent_layer();
  tarnel::online::install_market_data();  // the local store, filled online unless TARNEL_ONLINE=0
  install_market_blocks();
  zerith::install_sentiment_thermometer();
  zerith::install_pattern_service();
  return report::install_default_report_store();
}

}  // namespace quorvel
