// The outbox half of SqlReportStore: delivery of pending messages and their bookkeeping.
#include <algorithm>

#include <fmt/format.h>
#include <unistd.h>

#include "contracts/clock.h"
#include "quorvel/report/message.h"
#include "quorvel/report/sql_report_store.h"
#include "quorvel/utils/logger.h"

namespace quorvel::report {

namespace {

using SteadyClock = std::chrono::steady_clock;

std::string now_text() { return iso_utc(clock().now()); }

// The token one flush writes into the rows it claims: unique across threads and processes; the
// process id tells an operator whose claim it is.
std::string claim_owner() { return fmt::format("{}/{}", ::getpid(), new_message_id()); }

}  // namespace

FlushResult SqlReportStore::flush() {
  write_missing_files();
  if (publisher_) {
    // Analyses finishing while a flush is under way leave their messages to it or to the next
    // flush (every command flushes once more when it ends, alone): waiting in line would hold every
    // worker thread for as long as an unresponsive broker makes each flush last.
    std::unique_lock turn(flush_mutex_, std::try_to_lock);
    if (!turn) {
      FlushResult result;
      result.pending = pending_count();
      logger.debug("[报告存储] 另一次投递正在进行，%d 条待投递消息留给它或下一次投递", result.pending);
      return result;
    }
    // After a broker kept a flush waiting, the next ones do not wait again for a while: a watchlist
    // run goes on at full speed and its messages wait in the outbox.
    if (const auto quiet = std::chrono::duration_cast<std::chrono::seconds>(quiet_until_ - SteadyClock::now());
        quiet.count() > 0) {
      FlushResult result;
      result.pending = pending_count();
      result.error =
          fmt::format("{} 刚才未应答，{} 秒内不再尝试；消息留在发件箱，稍后由下一次投递或 quorvel-reports flush 发送",
                      publisher_->describe(), quiet.count());
      logger.debug("[报告存储] %s", result.error);
      return result;
    }
    return deliver(*publisher_);
  }
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

SqlReportStore::Batch SqlReportStore::claim_batch(const std::string& owner, std::int64_t after, std::int64_t last) {
  return locked([&](bool) {
    const std::int64_t now = db_->now_ms();
    Batch batch;
    RelaxedSync relaxed(*db_);  // a claim lost in a power cut only frees the batch earlier
    Transaction tx(*db_);
    // Concurrent flushers take different rows (on a server: rows another flusher is claiming now are
    // skipped, not waited for). Rows of this flush's own claim are taken again: a claim that
    // committed just before the connection broke.
    Statement s = db_->prepare(
        std::string("SELECT seq, message_id, stream, kind, payload FROM outbox "
                    "WHERE delivered_at IS NULL AND seq > ?1 AND seq <= ?2 "
                    "AND (lease_until IS NULL OR lease_until <= ?3 OR claimed_by = ?5) ORDER BY seq LIMIT ?4") +
        std::string(db_->skip_locked()));
    s.bind(1, after).bind(2, last).bind(3, now).bind(4, std::int64_t(options_.flush_batch)).bind(5, owner);
    while (s.step()) {
      batch.seqs.push_back(s.integer(0));
      batch.messages.push_back({s.text(1), s.text(2), s.text(3), s.text(4)});
    }
    Statement take = db_->prepare("UPDATE outbox SET claimed_by = ?1, lease_until = ?2 WHERE seq = ?3");
    for (const std::int64_t seq : batch.seqs) {
      take.reset();
      take.bind(1, owner).bind(2, now + std::int64_t(options_.lease.count())).bind(3, seq);
      take.run();
    }
    tx.commit();
    return batch;
  });
}

SqlReportStore::Recorded SqlReportStore::record_outcomes(const std::string& owner, const Batch& batch,
                                                         const BatchOutcome& outcome, FlushResult& result) {
  // Run again after a broken connection, a transaction that committed finds its rows recorded (by
  // this flush's claim and attempt time) and counts them as such.
  const std::size_t delivered_before = result.delivered;
  std::string error_before = result.error;
  const std::string now = now_text();
  return locked([&](bool retried) {
    Recorded rec;
    result.delivered = delivered_before;
    result.error = error_before;
    RelaxedSync relaxed(*db_);
    Transaction tx(*db_);
    // The claim test leaves the rows of a batch that another flusher took over to the new holder; a
    // row whose outcome is recorded has its lease cleared.
    Statement ok = db_->prepare(
        "UPDATE outbox SET delivered_at = ?1, entry_id = ?2, attempts = attempts + 1, last_attempt_at = ?1, "
        "last_error = NULL, lease_until = NULL WHERE seq = ?3 AND claimed_by = ?4 AND delivered_at IS NULL "
        "AND lease_until IS NOT NULL");
    Statement bad = db_->prepare(
        "UPDATE outbox SET attempts = attempts + 1, last_attempt_at = ?1, last_error = ?2, lease_until = NULL "
        "WHERE seq = ?3 AND claimed_by = ?4 AND delivered_at IS NULL AND lease_until IS NOT NULL");
    Statement recorded = db_->prepare(
        "SELECT 1 FROM outbox WHERE seq = ?1 AND claimed_by = ?2 AND last_attempt_at = ?3 AND lease_until IS NULL");
    for (std::size_t i = 0; i < batch.seqs.size(); ++i) {
      const DeliveryOutcome o = i < outcome.messages.size() ? outcome.messages[i] : DeliveryOutcome{};
      const std::string error = o.error.empty() ? std::string("未知错误") : o.error;
      Statement& st = o.delivered ? ok : bad;
      st.reset();
      st.bind(1, now).bind(2, o.delivered ? o.entry_id : error).bind(3, batch.seqs[i]).bind(4, owner);
      st.run();
      bool done = st.changes() > 0;
      if (!done && retried) {
        recorded.reset();
        recorded.bind(1, batch.seqs[i]).bind(2, owner).bind(3, now);
        done = recorded.step();
      }
      if (!done) {
        ++rec.lost_claims;
      } else if (o.delivered) {
        ++result.delivered;
        if (o.duplicate) ++rec.duplicates;
      } else {
        ++rec.failed;
        if (result.error.empty()) result.error = error;
      }
    }
    tx.commit();
    return rec;
  });
}

std::size_t SqlReportStore::claimed_elsewhere(const std::string& owner) {
  return locked([&](bool) {
    Statement s = db_->prepare(
        "SELECT COUNT(*) FROM outbox WHERE delivered_at IS NULL AND lease_until > ?1 AND claimed_by != ?2");
    s.bind(1, db_->now_ms()).bind(2, owner);
    return s.step() ? std::size_t(s.integer(0)) : std::size_t(0);
  });
}

FlushResult SqlReportStore::flush_with(MessagePublisher& publisher) {
  // A publisher holds one broker connection whose replies are matched to requests by their order:
  // two flushes on it at once (analyses of a watchlist finishing together) would read each other's
  // replies and mark messages delivered with another message's entry.
  std::lock_guard turn(flush_mutex_);
  return deliver(publisher);
}

FlushResult SqlReportStore::deliver(MessagePublisher& publisher) {
  const auto deadline = SteadyClock::now() + options_.flush_budget;
  const std::string owner = claim_owner();
  FlushResult result;
  std::int64_t after = 0;
  std::int64_t last = 0;
  std::size_t total = 0;
  // Messages saved while this flush runs wait for the next one, so a busy writer cannot keep a
  // flush going forever.
  locked([&](bool) {
    Statement s = db_->prepare("SELECT COALESCE(MAX(seq), 0), COUNT(*) FROM outbox WHERE delivered_at IS NULL");
    if (s.step()) {
      last = s.integer(0);
      total = std::size_t(s.integer(1));
    }
  });
  Recorded sum;
  while (true) {
    if (SteadyClock::now() >= deadline) {
      result.error = fmt::format("投递超时: 超过 {} 毫秒，其余消息留待下次投递", options_.flush_budget.count());
      break;
    }
    const Batch batch = claim_batch(owner, after, last);
    if (batch.seqs.empty()) break;
    after = batch.seqs.back();
    // A batch gets at most half its lease, so a live flusher gives up on it well before another
    // flusher may take it over.
    const auto batch_deadline = std::min(deadline, SteadyClock::now() + options_.lease / 2);
    const BatchOutcome outcome = publisher.publish(batch.messages, batch_deadline);
    Recorded rec;
    try {
      rec = record_outcomes(owner, batch, outcome, result);
    } catch (const RuntimeError&) {
      // The outcomes could not be stored: free the claims so that the next flush sends the batch
      // again at once (the broker turns a repeat into a no-op) instead of after the lease.
      release_claims(owner);
      throw;
    }
    sum.failed += rec.failed;
    sum.duplicates += rec.duplicates;
    sum.lost_claims += rec.lost_claims;
    if (total > options_.flush_batch)
      logger.info("[报告存储] 投递进度 %d/%d (已投递 %d)", result.delivered + sum.failed, total, result.delivered);
    if (outcome.connection_lost) {
      result.error = outcome.connection_error;
      if (outcome.unresponsive) quiet_until_ = SteadyClock::now() + UNRESPONSIVE_BROKER_PAUSE;
      break;
    }
  }
  result.pending = pending_count();
  result.in_other_flush = claimed_elsewhere(owner);
  log_flush(publisher, result, sum, result.in_other_flush);
  return result;
}

void SqlReportStore::release_claims(const std::string& owner) noexcept {
  try {
    locked([&](bool) {
      Statement s = db_->prepare("UPDATE outbox SET lease_until = NULL WHERE claimed_by = ?1 AND delivered_at IS NULL");
      s.bind(1, owner).run();
    });
  } catch (const std::exception& e) {
    logger.warning("[报告存储] 无法释放本次投递占用的消息，租约到期后再投递: %s", e.what());
  }
}

void SqlReportStore::log_flush(const MessagePublisher& publisher, const FlushResult& result, const Recorded& sum,
                               std::size_t elsewhere) {
  if (sum.duplicates > 0)
    logger.info("[报告存储] %d 条消息此前已到达 %s (上次的应答丢失)，未重复添加", sum.duplicates, publisher.describe());
  if (sum.lost_claims > 0)
    logger.warning("[报告存储] %d 条消息的租约已过期并由其他投递进程接手，结果由对方记录", sum.lost_claims);
  if (elsewhere > 0) logger.info("[报告存储] %d 条消息正由其他投递进程发送，本次跳过", elsewhere);
  if (result.ok()) {
    logger.info("[报告存储] 消息已投递到 %s | delivered=%d pending=%d", publisher.describe(), result.delivered,
                result.pending);
  } else {
    logger.warning("[报告存储] 消息投递未完成 %s | delivered=%d failed=%d pending=%d err=%s", publisher.describe(),
                   result.delivered, sum.failed, result.pending, result.error);
  }
}

std::size_t SqlReportStore::pending_count() {
  return locked([&](bool) {
    Statement s = db_->prepare("SELECT COUNT(*) FROM outbox WHERE delivered_at IS NULL");
    return s.step() ? std::size_t(s.integer(0)) : std::size_t(0);
  });
}

std::vector<PendingMessage> SqlReportStore::pending_messages(int limit) {
  return locked([&](bool) {
    const std::int64_t now = db_->now_ms();
    Statement s = db_->prepare(
        "SELECT seq, message_id, kind, report_id, created_at, attempts, last_error, last_attempt_at, lease_until "
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
      if (!s.is_null(8) && s.integer(8) > now)
        m.claimed_until = iso_utc(std::chrono::system_clock::time_point(std::chrono::milliseconds(s.integer(8))));
      out.push_back(std::move(m));
    }
    return out;
  });
}

}  // namespace quorvel::report
