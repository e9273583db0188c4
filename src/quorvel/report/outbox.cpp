// The outbox half of SqliteReportStore: delivery of pending messages and their bookkeeping.
#include "quorvel/report/sqlite_report_store.h"

#include <fmt/format.h>

#include "contracts/clock.h"
#include "quorvel/report/message.h"
#include "quorvel/utils/logger.h"

namespace quorvel::report {

namespace {

using SteadyClock = std::chrono::steady_clock;

std::string now_text() { return iso_utc(clock().now()); }

}  // namespace

FlushResult SqliteReportStore::flush() {
  write_missing_files();
  if (publisher_) return flush_with(*publisher_);
  FlushResult result;
  result.pending = pending_count();
  if (!broker_problem_.empty()) {
    result.error = broker_problem_;
    logger.warning("[报告存储] 消息未投递，%d 条待发送: %s", result.pending, broker_problem_);
  } else {
    logger.debug("[报告存储] 未设置 QUORVEL_MQ_URL，%d 条消息留在发件箱待投递", result.pending);
  }
  return result;
}

SqliteReportStore::Batch SqliteReportStore::load_batch(std::int64_t after, std::int64_t last) {
  Batch batch;
  std::lock_guard lock(mutex_);
  Statement s(*db_,
              "SELECT seq, message_id, stream, kind, payload FROM outbox "
              "WHERE delivered_at IS NULL AND seq > ?1 AND seq <= ?2 ORDER BY seq LIMIT ?3");
  s.bind(1, after).bind(2, last).bind(3, std::int64_t(options_.flush_batch));
  while (s.step()) {
    batch.seqs.push_back(s.integer(0));
    batch.messages.push_back({s.text(1), s.text(2), s.text(3), s.text(4)});
  }
  return batch;
}

std::size_t SqliteReportStore::record_outcomes(const Batch& batch, const BatchOutcome& outcome,
                                               FlushResult& result) {
  std::size_t failed = 0;
  std::lock_guard lock(mutex_);
  RelaxedSync relaxed(*db_);
  Transaction tx(*db_);
  Statement ok(*db_,
               "UPDATE outbox SET delivered_at = ?1, entry_id = ?2, attempts = attempts + 1, "
               "last_attempt_at = ?1, last_error = NULL WHERE seq = ?3");
  Statement bad(*db_, "UPDATE outbox SET attempts = attempts + 1, last_attempt_at = ?1, last_error = ?2 WHERE seq = ?3");
  const std::string now = now_text();
  for (std::size_t i = 0; i < batch.seqs.size(); ++i) {
    const DeliveryOutcome o = i < outcome.messages.size() ? outcome.messages[i] : DeliveryOutcome{};
    const std::string error = o.error.empty() ? std::string("未知错误") : o.error;
    Statement& st = o.delivered ? ok : bad;
    st.reset();
    st.bind(1, now).bind(2, o.delivered ? o.entry_id : error).bind(3, batch.seqs[i]);
    st.run();
    if (o.delivered) {
      ++result.delivered;
    } else {
      ++failed;
      if (result.error.empty()) result.error = error;
    }
  }
  tx.commit();
  return failed;
}

FlushResult SqliteReportStore::flush_with(MessagePublisher& publisher) {
  const auto deadline = SteadyClock::now() + options_.flush_budget;
  FlushResult result;
  std::int64_t after = 0;
  std::int64_t last = 0;
  std::size_t total = 0;
  {
    // Messages saved while this flush runs wait for the next one, so a busy writer cannot keep a
    // flush going forever.
    std::lock_guard lock(mutex_);
    Statement s(*db_, "SELECT COALESCE(MAX(seq), 0), COUNT(*) FROM outbox WHERE delivered_at IS NULL");
    if (s.step()) {
      last = s.integer(0);
      total = std::size_t(s.integer(1));
    }
  }
  std::size_t failed = 0;
  while (true) {
    if (SteadyClock::now() >= deadline) {
      result.error = fmt::format("投递超时: 超过 {} 毫秒，其余消息留待下次投递", options_.flush_budget.count());
      break;
    }
    const Batch batch = load_batch(after, last);
    if (batch.seqs.empty()) break;
    after = batch.seqs.back();
    const BatchOutcome outcome = publisher.publish(batch.messages, deadline);
    failed += record_outcomes(batch, outcome, result);
    if (total > options_.flush_batch)
      logger.info("[报告存储] 投递进度 %d/%d (已投递 %d)", result.delivered + failed, total, result.delivered);
    if (outcome.connection_lost) {
      result.error = outcome.connection_error;
      break;
    }
  }
  result.pending = pending_count();
  if (result.ok()) {
    logger.info("[报告存储] 消息已投递到 %s | delivered=%d pending=%d", publisher.describe(), result.delivered,
                result.pending);
  } else {
    logger.warning("[报告存储] 消息投递未完成 %s | delivered=%d failed=%d pending=%d err=%s", publisher.describe(),
                   result.delivered, failed, result.pending, result.error);
  }
  return result;
}

std::size_t SqliteReportStore::pending_count() {
  std::lock_guard lock(mutex_);
  Statement s(*db_, "SELECT COUNT(*) FROM outbox WHERE delivered_at IS NULL");
  return s.step() ? std::size_t(s.integer(0)) : 0;
}

std::vector<PendingMessage> SqliteReportStore::pending_messages(int limit) {
  std::lock_guard lock(mutex_);
  Statement s(*db_,
              "SELECT seq, message_id, kind, report_id, created_at, attempts, last_error, last_attempt_at "
              "FROM outbox WHERE delivered_at IS NULL ORDER BY seq LIMIT ?1");
  s.bind(1, std::int64_t(limit));
  std::vector<PendingMessage> out;
  while (s.step()) {
    PendingMessage m;
    m.seq = s.integer(0);
    m.id = s.text(1);
    m.kind = parse_kind(s.text(2)).value_or(ReportKind::analysis);
    m.report_id = s.integer(3);
    m.created_at = s.text(4);
    m.attempts = int(s.integer(5));
    m.last_error = s.optional_text(6);
    m.last_attempt_at = s.optional_text(7);
    out.push_back(std::move(m));
  }
  return out;
}

}  // namespace quorvel::report
