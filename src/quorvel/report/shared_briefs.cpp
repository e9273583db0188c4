// The market briefs of a store that several machines share: the copy every worker reads and the
// lock that lets one worker at a time generate a brief.
#include <fmt/format.h>

#include "contracts/clock.h"
#include "quorvel/report/message.h"
#include "quorvel/report/pg_database.h"
#include "quorvel/report/sql_report_store.h"

namespace quorvel::report {

namespace {

class BriefLock final : public SharedLock {
 public:
  BriefLock(const std::string& url, std::string name)
      : lock_(url, std::move(name), pg::OpenOptions{.label = "报告数据库", .connect_timeout_s = 10}) {}
  bool try_take() override { return lock_.try_take(); }

 private:
  pg::AdvisoryLock lock_;
};

}  // namespace

std::optional<SharedBrief> SqlReportStore::shared_brief(const BriefKey& key) {
  if (!db_->shared()) return std::nullopt;
  return locked([&](bool) -> std::optional<SharedBrief> {
    Statement s = db_->prepare("SELECT content, meta FROM briefs WHERE market_type = ?1 AND day = ?2 AND version = ?3");
    s.bind(1, key.market).bind(2, key.day).bind(3, key.version);
    if (!s.step()) return std::nullopt;
    return SharedBrief{s.text(0), s.text(1)};
  });
}

void SqlReportStore::save_shared_brief(const BriefKey& key, const SharedBrief& brief) {
  if (!db_->shared()) return;
  locked([&](bool) {
    Statement s = db_->prepare(
        "INSERT INTO briefs (market_type, day, version, content, meta, created_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6) "
        "ON CONFLICT (market_type, day, version) DO UPDATE SET content = excluded.content, meta = excluded.meta, "
        "created_at = excluded.created_at");
    s.bind(1, key.market).bind(2, key.day).bind(3, key.version).bind(4, brief.content).bind(5, brief.meta);
    s.bind(6, iso_utc(clock().now())).run();
  });
}

std::unique_ptr<SharedLock> SqlReportStore::brief_lock(const BriefKey& key) {
  if (!db_->shared()) return nullptr;
  return std::make_unique<BriefLock>(options_.database_url,
                                     fmt::format("quorvel:brief:{}:{}:{}", key.market, key.day, key.version));
}

}  // namespace quorvel::report
