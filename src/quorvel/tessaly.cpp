// tessaly: the market AI brief of one market and day, produced (or reused), cached, published and
// printed between banner lines. The day is moved to the market's own last closed session.
//
// Exit status: 0 when the brief was printed, 1 when it failed, 2 for a usage error (a malformed or
// future date).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>


#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "contracts/report_store.h"
#include "quorvel/agent/solvara/brief_cache.h"
#include "quorvel/agent/solvara/market_brief.h"
#include "quorvel/runtime/command_dates.h"
#include "quorvel/runtime/runtime_services.h"
#include "quorvel/utils/blocking.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/run_sync.h"

namespace {

using quorvel::logger;

// Seconds on a steady clock: the elapsed-time line must not jump with the wall clock.
double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

asio::awaitable<void> analyze_market(std::string market_type, std::string analysis_time, bool force) {
  namespace solvara = quorvel::agent::solvara;
  const double start_time = seconds_now();
  logger.info("开始大盘 AI 简报 | market=%s | analysis_time=%s | force=%s", market_type, analysis_time, force);
  auto brief_op = solvara::get_market_ai_brief(market_type, analysis_time, force, true);
  const std::string brief = co_await std::move(brief_op);
  // Absolute, with symbolic links resolved as far as the path exists: a concurrent --force run may
  // have removed the file meanwhile, and its name is then appended as it is.
  const auto cache_file = solvara::solvara_cache_file(market_type, analysis_time);
  std::error_code ec;
  auto shown = std::filesystem::absolute(cache_file, ec);
  if (!ec) shown = std::filesystem::weakly_canonical(shown, ec);
  logger.info("缓存文件: %s", (ec ? cache_file : shown).string());
  std::cout << "\n" << repeat("━", 30) << " [ 大盘 AI 研判 ] " << repeat("━", 30) << "\n"
            << brief << "\n"
            << repeat("━", 78) << "\n\n"
            << std::flush;
  logger.info("执行时间: %.2f 秒", seconds_now() - start_time);
  auto flush = quorvel::run_blocking([] { return quorvel::report::default_storage().flush(); });
  const quorvel::report::FlushResult flushed = co_await std::move(flush);
  if (!flushed.ok()) logger.debug("刷新 MQ 失败: %s", flushed.error);
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("tessaly", [&]() -> int {
    quorvel::load_quorvel_env();
    CLI::App app{"大盘环境 AI 简报（与个股分析注入的大盘判断同源）", "tessaly"};
    std::string market, analysis_time = quorvel::today_text();
    bool force = false;
    app.add_option("-m,--market", market, "市场类型：A（A股指数）/ US / HK / ETF（与 A 股大盘同源）")
        ->required()
        ->check(CLI::IsMember({"A", "US", "HK", "ETF"}));
    app.add_option("-t,--analysis_time", analysis_time, "截止日，格式 YYYY-MM-DD（默认：今天）");
    app.add_flag("--force", force, "删除该日该市场的磁盘缓存并重新调用 LLM");
    if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;

    quorvel::setup_logging((std::filesystem::current_path() / "logs").string(), "INFO");
    quorvel::install_runtime_services();

    for (auto& c : market) c = char(std::toupper(static_cast<unsigned char>(c)));
    const std::string input = analysis_time;
    try {
      if (quorvel::is_future_date(analysis_time)) {
        logger.warning("输入日期 %s 是未来日期，退出。", analysis_time);
        return 2;
      }
      analysis_time = tarnel::normalize_end_date_for(market, analysis_time);
      if (analysis_time != input) logger.info("日期已从 %s 调整为 %s（未收盘或非交易日等）", input, analysis_time);
    } catch (const quorvel::ValueError&) {
      logger.error("日期格式错误: %s，应为 YYYY-MM-DD", input);
      return 2;
    }

    quorvel::run_sync(analyze_market(market, analysis_time, force));
    return 0;
  });
}
