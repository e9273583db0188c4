#include "quorvel/runtime_services.h"

#include "quorvel/agent/core/agent_layer.h"
#include "quorvel/report/default_store.h"
#include "quorvel/utils/market_blocks.h"
#include "tarnel/local_market_data.h"
#include "zerith/rule_pattern_service.h"
#include "zerith/sentiment_thermometer.h"

namespace quorvel {

void install_runtime_services() {
  // The LLM configuration is checked first, so a missing key stops the command before any data work.
  agent::core::DefaultAgentLayer().configuration();
  agent::core::install_agent_layer();
  tarnel::install_local_market_data();
  install_market_blocks();
  zerith::install_sentiment_thermometer();
  zerith::install_pattern_service();
  report::install_default_report_store();
}

}  // namespace quorvel
