#include "zerith/strategy_engines.h"

#include <exception>

#include "quorvel/utils/logger.h"
#include "zerith/engine_common.h"

namespace zerith {

namespace {

SignalEvent idle_event(const tarnel::BarTable& df, const char* reason) {
  SignalEvent e;
  e.date = df.empty() ? "" : df.last_date();
  e.state = "观望";
  e.reason = reason;
  return e;
}

SignalEvent run_engine(StrategyEngine engine, const tarnel::BarTable& df) {
  switch (engine) {
    case StrategyEngine::ENGINE1_TREND:
      return engine::trend_signal(df);
    case StrategyEngine::ENGINE2_REVERSAL:
      return engine::reversal_signal(df);
    case StrategyEngine::ENGINE3_KAUFMAN:
      return engine::kaufman_signal(df);
    case StrategyEngine::US_DUAL_CORE:
      return engine::us_dual_core_signal(df);
  }
  return idle_event(df, "未知的策略引擎，不发出信号。");
}

}  // namespace

// The symbol does not enter the rules: every engine judges the bars alone. It names the
// instrument in the log line of an engine failure, which becomes an event without signals.
SignalEvent compute_strategy_signal(StrategyEngine engine, const tarnel::BarTable& df, const std::string& symbol) {
  try {
    return run_engine(engine, df);
  } catch (const std::exception& ex) {
    quorvel::logger.warning("策略引擎 %s 计算 %s 失败: %s", engine_name(engine), symbol, ex);
    return idle_event(df, "指标计算失败，不发出信号。");
  }
}

std::string engine_name(StrategyEngine engine) {
  switch (engine) {
    case StrategyEngine::ENGINE1_TREND:
      return "ENGINE1_TREND";
    case StrategyEngine::ENGINE2_REVERSAL:
      return "ENGINE2_REVERSAL";
    case StrategyEngine::ENGINE3_KAUFMAN:
      return "ENGINE3_KAUFMAN";
    case StrategyEngine::US_DUAL_CORE:
      return "US_DUAL_CORE";
  }
  return "UNKNOWN";
}

}  // namespace zerith
