// quorvel-daily: a trader's day after the close in one command. For each chosen market whose
// session of the day has closed on its own calendar: bring the bars up to date, screen the market
// and keep the best survivors; then analyse them with the watchlist in one batch (one market brief
// per market and day), read each market's brief, run the opportunity radar, score the stored plans
// and refresh the pages, and write the day's digest (Markdown and HTML) under report/daily/<day>/.
//
// Each step is one of the programs beside this one, run as the user would run it: a step that fails
// or crashes is reported and the later steps still run where they can. Re-running a day resumes:
// stored analyses are skipped, so the model is paid once.
//
// Exit status: 0 when every step succeeded (and on a day no chosen market traded), 1 naming the
// failed steps, 2 for a usage error.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "quorvel/commands/quorvel-daily/daily_digest.h"
#include "quorvel/delivery/channels.h"
#include "quorvel/delivery/deliver.h"
#include "quorvel/ledger/ledger_entries.h"
#include "quorvel/runtime/command_dates.h"
#include "quorvel/runtime/pool_members.h"
#include "quorvel/runtime/runtime_services.h"
#include "quorvel/utils/atomic_file.h"
#include "quorvel/utils/child_process.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/market_indices.h"
#include "quorvel/utils/market_type.h"
#include "tarnel/local_market_data.h"
#include "tarnel/online/online_config.h"

namespace {

namespace fs = std::filesystem;
using namespace quorvel::daily;
using State = StepResult::State;

constexpr int DEFAULT_TOP = 20;
const std::vector<std::string> ALL_MARKETS{"A", "HK", "US", "ETF"};

struct Options {
  std::vector<std::string> markets;
  std::string watchlist, date;  // no date: each market's own today
  int top = DEFAULT_TOP, concurrency = 4;
};

// The steps of the day, each a sibling program whose outcome is recorded.
class Steps {
 public:
  explicit Steps(std::vector<StepResult>& log) : bin_(quorvel::own_program_directory()), log_(log) {}

  // Runs the program; its standard output when it could be run (even when it ended with a failure
  // status: the batch reports what it did either way), nothing when it could not be started.
  std::optional<std::string> run(const std::string& name, const std::string& program, const std::vector<std::string>& args) {
    if (interrupted_) {
      log_.push_back({name, State::skipped, "已中断"});
      return std::nullopt;
    }
    std::fprintf(stderr, "== %s\n", name.c_str());
    try {
      const quorvel::ChildResult r = quorvel::run_child(bin_ / program, args);
      interrupted_ = quorvel::interrupted_status(r.status);
      if (r.status == 0) {
        log_.push_back({name, State::ok, ""});
      } else {
        log_.push_back({name, State::failed, program + " 退出状态 " + std::to_string(r.status)});
      }
      if (r.truncated) log_.back().note += "（输出过长，已截断）";
      return r.out;
    } catch (const std::exception& e) {
      log_.push_back({name, State::failed, e.what()});
      return std::nullopt;
    }
  }
  void done(const std::string& name, const std::string& note) { log_.push_back({name, State::ok, note}); }
  void fail(const std::string& name, const std::string& why) {
    std::fprintf(stderr, "== %s：失败（%s）\n", name.c_str(), why.c_str());
    log_.push_back({name, State::failed, why});
  }
  void skip(const std::string& name, const std::string& why) {
    std::fprintf(stderr, "== %s：跳过（%s）\n", name.c_str(), why.c_str());
    log_.push_back({name, State::skipped, why});
  }
  StepResult& last() { return log_.back(); }
  // A step ended by Ctrl-C or SIGTERM: the later ones are not started.
  bool interrupted() const { return interrupted_; }

 private:
  fs::path bin_;
  bool interrupted_ = false;
  std::vector<StepResult>& log_;
};

// JSON from a step's output, null (and the step marked failed) when it is not JSON.
Json parse_output(const std::optional<std::string>& out, Steps& steps) {
  if (!out) return nullptr;
  try {
    return Json::parse(*out);
  } catch (const Json::parse_error&) {
    steps.last().state = State::failed;
    steps.last().note += (steps.last().note.empty() ? "" : "；") + std::string("输出不是 JSON");
    return nullptr;
  }
}

// The brief tessaly prints between its two rules, up to its first section break.
std::string brief_head(const std::string& out) {
  std::string head;
  bool inside = false;
  std::size_t start = 0;
  while (start < out.size()) {
    const std::size_t end = std::min(out.find('\n', start), out.size());
    const std::string line = out.substr(start, end - start);
    start = end + 1;
    if (line.rfind("━", 0) == 0) {
      if (inside) break;
      inside = true;
      continue;
    }
    if (!inside) continue;
    if (line == "---") break;
    if (!line.empty() || !head.empty()) head += line + "\n";
  }
  while (!head.empty() && head.back() == '\n') head.pop_back();
  return head;
}

// Whether one of the market's core indices has a bar of `day` in the local store: the evidence that
// the market traded that day and that its bars are up to date (a holiday beyond the shipped
// calendar, or an update that did not arrive, leaves none).
bool index_has_bar(const std::string& market, const std::string& day) {
  for (const auto& index : quorvel::_get_indices_for_market(market == "ETF" ? "A" : market)) {
    const tarnel::BarTable bars = tarnel::market_data().get_index_ohlc(index, day);
    if (!bars.empty() && bars.date_at(bars.rows() - 1) == day) return true;
  }
  return false;
}

// "daily-2023-02-10-1f3a…": the same digest text, the same id (FNV-1a of the text).
std::string digest_id(const std::string& day, const std::string& markdown) {
  std::uint64_t h = 14695981039346656037ull;
  for (const unsigned char c : markdown) h = (h ^ c) * 1099511628211ull;
  return fmt::format("daily-{}-{:016x}", day, h);
}

// The digest to every configured channel, once per channel, day and set of markets; the outcome of
// each channel is a line on standard error and the step fails when one could not be sent.
void deliver(Steps& steps, quorvel::report::ReportStore& store, const DayInputs& in, const std::string& markdown,
             const std::string& html) {
  namespace delivery = quorvel::delivery;
  std::vector<delivery::Channel> channels;
  try {
    channels = delivery::configured_channels();
  } catch (const std::exception& e) {
    steps.fail("发送简报", std::string("发送渠道配置有误: ") + e.what());
    return;
  }
  if (channels.empty()) return steps.skip("发送简报", "未配置发送渠道（config/delivery.json 或 QUORVEL_DELIVERY_FILE）");
  std::string edition;
  for (const MarketDay& m : in.markets) edition += (edition.empty() ? "" : "+") + m.market;
  const delivery::Digest digest{digest_id(in.requested, markdown), in.requested, edition, digest_title(in.requested),
                                markdown, html};
  std::fprintf(stderr, "== 发送简报\n");
  std::size_t failed = 0;
  std::string notes;
  for (const auto& o : delivery::deliver_digest(channels, digest, store)) {
    std::fprintf(stderr, "  %s: %s%s\n", o.channel.c_str(), std::string(delivery::status_name(o.status)).c_str(),
                 o.detail.empty() ? "" : ("（" + o.detail + "）").c_str());
    failed += o.status == delivery::DeliveryStatus::failed;
    notes += fmt::format("{}{} {}", notes.empty() ? "" : "，", o.channel, delivery::status_name(o.status));
  }
  if (failed > 0) return steps.fail("发送简报", notes);
  steps.done("发送简报", notes);
}

// Plans whose result became known on the requested day, from the ledger.
std::vector<ScoredPlan> scored_on(quorvel::report::SqlReportStore& store, const std::string& day) {
  std::vector<ScoredPlan> out;
  for (const auto& e : quorvel::ledger::ledger_entries(store, {})) {
    if (e.score.status != "scored" || e.score.exit_date != day) continue;
    out.push_back({e.code, e.date, e.action, e.score.outcome, e.score.r_multiple, e.score.return_pct,
                   e.score.kind == "forward"});
  }
  return out;
}

int run(const Options& opt, const std::vector<std::string>& watchlist) {
  const auto store = quorvel::install_runtime_services();
  DayInputs in;
  std::vector<MarketDay> closed;
  for (const std::string& market : opt.markets) {
    // The day of each market: the one asked for, else today where the market trades (a US run in
    // the Asian morning is about the New York day that has just closed).
    const std::string day = opt.date.empty() ? tarnel::market_today(market) : opt.date;
    if (tarnel::normalize_end_date_for(market, day) == day) {
      closed.push_back({market, day, "", 0});
      in.requested = std::max(in.requested, day);
    } else {
      in.skipped_markets.push_back(market + "（" + day + " 非交易日或尚未收盘）");
    }
  }
  if (closed.empty()) {
    std::fprintf(stderr, "quorvel-daily: %s 所选市场（%s）都没有已收盘的交易时段（非交易日或尚未收盘），今日无事可做\n",
                 (opt.date.empty() ? quorvel::today_text() : opt.date).c_str(),
                 fmt::format("{}", fmt::join(opt.markets, " ")).c_str());
    return 0;
  }
  Steps steps(in.steps);
  const bool online = tarnel::online::online_config_from_env().enabled;
  std::set<std::string> open_markets;
  std::vector<std::string> pool;
  for (MarketDay& m : closed) {
    if (online) {
      steps.run("更新行情 " + m.market, "tarnel-update", {"--market", m.market});
    } else {
      steps.skip("更新行情 " + m.market, "在线行情已关闭 (TARNEL_ONLINE=0)，使用本地已有数据");
    }
    if (steps.interrupted()) break;
    if (!index_has_bar(m.market, m.day)) {
      // Screening and analysing old bars would store plans for the day that a rerun then keeps.
      in.skipped_markets.push_back(m.market + "（本地没有其指数 " + m.day + " 的K线：当日休市或行情未更新）");
      steps.skip("筛选 " + m.market, "本地没有该市场指数 " + m.day + " 的K线，不筛选、不分析该市场");
      continue;
    }
    open_markets.insert(m.market);
    in.markets.push_back(m);
    MarketDay& kept = in.markets.back();
    const Json screened = parse_output(steps.run("筛选 " + m.market, "quorvel-screen",
                                                 {"--market", m.market, "-t", m.day, "--format", "json"}),
                                       steps);
    if (!screened.is_array()) continue;
    kept.screened_survivors = screened.size();
    for (std::size_t i = 0; i < screened.size() && i < std::size_t(opt.top); ++i)
      pool.push_back(screened[i].value("code", ""));
    StepResult& step = steps.last();
    step.note += fmt::format("{}通过 {} 只，取前 {}", step.note.empty() ? "" : "；", screened.size(),
                             std::min<std::size_t>(screened.size(), std::size_t(opt.top)));
  }
  std::size_t left_out = 0;
  for (const std::string& code : watchlist) {
    const auto market = quorvel::get_market_type(code);
    if (market && open_markets.count(*market)) {
      pool.push_back(code);
    } else {
      ++left_out;
    }
  }

  const fs::path dir = quorvel::report_directory() / "daily" / in.requested;
  fs::create_directories(dir);
  if (in.markets.empty()) {
    steps.skip("分析", "没有可分析的市场");
  } else if (pool.empty()) {
    steps.skip("分析", "没有筛选通过的标的，自选股中也没有今日开市市场的标的");
  } else {
    std::string text = "# quorvel-daily " + in.requested + "：筛选前列与自选股\n";
    for (const std::string& code : pool) text += code + "\n";
    quorvel::write_file_atomically(dir / "pool.txt", text);
    in.batch = parse_output(steps.run("分析", "pelion-batch",
                                      {"--pool", (dir / "pool.txt").string(), "-t", in.requested, "-c",
                                       std::to_string(opt.concurrency), "--format", "json"}),
                            steps);
  }
  if (left_out > 0) steps.last().note += fmt::format("{}自选股 {} 只不在今日开市的市场", steps.last().note.empty() ? "" : "；", left_out);

  for (MarketDay& m : in.markets)
    if (const auto out = steps.run("大盘简报 " + m.market, "tessaly", {"-m", m.market, "-t", m.day}))
      m.brief_head = brief_head(*out);

  if (open_markets.count("A") || open_markets.count("ETF")) {
    in.radar = parse_output(steps.run("机会雷达", "quorvel-radar", {"-t", in.requested, "--format", "json"}), steps);
  } else {
    steps.skip("机会雷达", "雷达的默认标的池为 A 股 ETF，今日 A 股未开市");
  }
  steps.run("计划评分", "quorvel-ledger", {"update"});
  try {
    in.scored = scored_on(*store, in.requested);
  } catch (const std::exception& e) {
    in.steps.push_back({"读取计划评分", State::failed, e.what()});
  }

  // The digest shows the delivery's own step only in the log: it is written before it is sent.
  const std::string md = digest_markdown(in);
  const std::string html = digest_html(digest_title(in.requested), md, "../../");
  quorvel::write_file_atomically(dir / "digest.md", md);
  quorvel::write_file_atomically(dir / "digest.html", html);
  std::fprintf(stderr, "每日简报: %s\n", (dir / "digest.html").string().c_str());
  std::cout << md;
  if (!steps.interrupted()) deliver(steps, *store, in, md, html);
  if (steps.interrupted()) {
    std::fprintf(stderr, "quorvel-daily: 已中断；已完成的步骤的结果已保存，重新运行同一天会接着做\n");
    return 130;
  }
  if (const std::string failed = failed_steps(in.steps); !failed.empty()) {
    std::fprintf(stderr, "quorvel-daily: 以下步骤失败：%s（其余步骤已完成，见上方输出与日志）\n", failed.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("quorvel-daily", [&]() -> int {
    quorvel::load_quorvel_env();
    Options opt;
    CLI::App app{"每日收盘后流程：更新行情、全市场筛选、分析筛选前列与自选股、大盘简报、机会雷达、计划评分，"
                 "并写出当日简报 (report/daily/<日期>/digest.md 与 digest.html)",
                 "quorvel-daily"};
    app.add_option("-m,--market", opt.markets, "市场：A / HK / US / ETF，可重复（默认：全部）")
        ->check(CLI::IsMember(ALL_MARKETS));
    app.add_option("--watchlist", opt.watchlist, "自选股文件：每行一个代码（# 开头为注释），与筛选前列一起分析");
    app.add_option("-t,--analysis_time", opt.date, "交易日，格式 YYYY-MM-DD（默认：各市场所在时区的今天）");
    app.add_option("--top", opt.top, "每个市场分析筛选得分最高的前 N 只 (默认 20；0 只分析自选股)")
        ->check(quorvel::integer_range(0, 1000));
    app.add_option("-c,--concurrency", opt.concurrency, "同时进行的分析数 (默认 4)")->check(quorvel::integer_range(1, 64));
    if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;
    if (opt.markets.empty()) opt.markets = ALL_MARKETS;
    if (!opt.date.empty())
      if (auto status = quorvel::refuse_pool_date("quorvel-daily", opt.date)) return *status;
    std::vector<std::string> watchlist;
    if (!opt.watchlist.empty()) {
      auto codes = quorvel::watchlist_codes("quorvel-daily", opt.watchlist);
      if (!codes) return 2;
      watchlist = std::move(*codes);
    }
    quorvel::setup_logging((std::filesystem::current_path() / "logs").string(), "INFO");
    quorvel::logger.set_console_level(quorvel::LogLevel::warning);
    return run(opt, watchlist);
  });
}
