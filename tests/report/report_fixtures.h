#pragma once
// Builders and doubles shared by the report store tests.
#include <sqlite3.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "contracts/clock.h"
#include "contracts/report_store.h"
#include "quorvel/report/publisher.h"
#include "quorvel/report/sql_report_store.h"
#include "support/test_support.h"

namespace quorvel::testing {

inline report::AnalysisReport analysis(std::string code = "sh.600000", std::string date = "2025-06-30",
                                       std::string client = "deepseek") {
  report::AnalysisReport r;
  r.stock_code = std::move(code);
  r.stock_name = "浦发银行";
  r.content = "## 分析\n趋势判断: 看涨\n";
  r.analysis_time = std::move(date);
  r.market_type = "A";
  r.current_price = 10.25;
  r.llm_client_type = std::move(client);
  r.llm_model = "deepseek-chat";
  return r;
}

inline report::SummaryReport summary(std::string code = "sh.600000", std::string date = "2025-06-30") {
  report::SummaryReport r;
  r.stock_code = std::move(code);
  r.stock_name = "浦发银行";
  r.content = "> **LLM**: deepseek-chat\n\n未能成功提取到决策，建议继续观望。";
  r.analysis_time = std::move(date);
  r.current_price = 10.25;
  r.llm_client_type = "deepseek";
  r.llm_model = "deepseek-chat";
  return r;
}

inline report::SolvaraReport brief(std::string market = "A", std::string date = "2025-06-30") {
  return {std::move(market), "**大盘**: 震荡", std::move(date), "deepseek", "deepseek-chat"};
}

inline std::shared_ptr<report::SqlReportStore> open_store(const std::filesystem::path& dir,
                                                              std::shared_ptr<report::MessagePublisher> pub = nullptr) {
  report::StoreOptions o;
  o.directory = dir;
  return std::make_shared<report::SqlReportStore>(o, std::move(pub));
}

// A clock that stands still until the test moves it. Thread-safe.
class ManualClock final : public Clock {
 public:
  std::chrono::system_clock::time_point now() const override { return now_.load(); }
  date::year_month_day today_local() const override { return date::year{2025} / 6 / 30; }
  void advance(std::chrono::milliseconds by) { now_.store(now_.load() + by); }

 private:
  std::atomic<std::chrono::system_clock::time_point> now_{date::sys_days(date::year{2025} / 6 / 30)};
};

// The outbox as a fresh connection sees it: one line per message, in save order, with every column
// that delivery bookkeeping touches ("id|delivered|entry|attempts|error").
inline std::vector<std::string> outbox_lines(const std::filesystem::path& dir) {
  sqlite3* db = nullptr;
  sqlite3_open((dir / report::DATABASE_FILE_NAME).c_str(), &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT message_id || '|' || (delivered_at IS NOT NULL) || '|' || IFNULL(entry_id, '') || '|' || "
                     "attempts || '|' || IFNULL(last_error, '') FROM outbox ORDER BY seq",
                     -1, &st, nullptr);
  std::vector<std::string> out;
  while (sqlite3_step(st) == SQLITE_ROW) out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

// A publisher whose answer for each message is scripted; records what it was given.
class ScriptedPublisher : public report::MessagePublisher {
 public:
  // Returns the outcome for one message; default: delivered.
  std::function<report::DeliveryOutcome(const report::OutgoingMessage&)> answer =
      [](const report::OutgoingMessage&) { return report::DeliveryOutcome{true, "1-0", ""}; };
  // Called before each batch; may throw nothing; can mark the batch's connection as lost.
  std::function<bool(std::size_t batch_index)> lose_connection = [](std::size_t) { return false; };

  report::BatchOutcome publish(std::span<const report::OutgoingMessage> batch,
                               std::chrono::steady_clock::time_point) override {
    report::BatchOutcome out;
    const bool lost = lose_connection(batches_++);
    for (const auto& m : batch) {
      sent.push_back(m);
      out.messages.push_back(lost ? report::DeliveryOutcome{false, "", "connection reset"} : answer(m));
    }
    if (lost) {
      out.connection_lost = true;
      out.connection_error = "connection reset";
    }
    return out;
  }
  std::string describe() const override { return "scripted"; }

  std::vector<report::OutgoingMessage> sent;

 private:
  std::size_t batches_ = 0;
};

}  // namespace quorvel::testing
