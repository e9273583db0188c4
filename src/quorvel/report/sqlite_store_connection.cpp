// The report store on SQLite: reports.sqlite3 in the report directory, its layout and upgrades.
#include <optional>

#include <fmt/format.h>

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "quorvel/report/engine_statement.h"
#include "quorvel/report/message.h"
#include "quorvel/report/sql_report_store.h"
#include "quorvel/utils/instrument_code.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/sqlite_db.h"

namespace quorvel::report::store {

namespace {

// 2: outbox claims (claimed_by, lease_until). A program that knows only 1 refuses the database, as
// a flusher that ignored claims would send messages a second time.
// 3: plan checks (reports.plan_checks, review_required). A program that knows only 2 refuses it, as
// it would store buy plans that nobody checked beside ones that were.
constexpr int SCHEMA_VERSION = 3;

constexpr const char* SCHEMA_SQL = R"sql(
CREATE TABLE IF NOT EXISTS reports (
  id              INTEGER PRIMARY KEY AUTOINCREMENT,
  kind            TEXT NOT NULL,
  stock_code      TEXT NOT NULL,
  stock_name      TEXT NOT NULL,
  market_type     TEXT,
  analysis_date   TEXT NOT NULL,
  analysis_time   TEXT NOT NULL,
  current_price   REAL,
  llm_client_type TEXT NOT NULL,
  llm_model       TEXT NOT NULL,
  content         TEXT NOT NULL,
  created_at      TEXT NOT NULL,
  file            TEXT,
  decision        TEXT,     -- the decision the analysis extracted, JSON; "null": none; NULL: not recorded
  data_note       TEXT,     -- why the data may mislead (stale bars), shown in the file's header
  plan_checks     TEXT,     -- the plan's rule checks, JSON array; NULL: not checked
  review_required INTEGER,  -- 1 when a hard check failed
  prescreen_levels TEXT     -- the pre-screen's support and resistance, JSON; NULL: not recorded
);
CREATE INDEX IF NOT EXISTS reports_by_code ON reports(stock_code, analysis_date, llm_client_type, kind);
CREATE INDEX IF NOT EXISTS reports_by_date ON reports(analysis_date);
CREATE INDEX IF NOT EXISTS reports_without_file ON reports(id) WHERE file IS NULL;
CREATE TABLE IF NOT EXISTS outbox (
  seq             INTEGER PRIMARY KEY AUTOINCREMENT,
  message_id      TEXT NOT NULL UNIQUE,
  report_id       INTEGER NOT NULL REFERENCES reports(id),
  kind            TEXT NOT NULL,
  stream          TEXT NOT NULL,
  payload         TEXT NOT NULL,
  created_at      TEXT NOT NULL,
  attempts        INTEGER NOT NULL DEFAULT 0,
  last_error      TEXT,
  last_attempt_at TEXT,
  delivered_at    TEXT,
  entry_id        TEXT,
  claimed_by      TEXT,     -- the flush that last took the message in hand
  lease_until     INTEGER   -- its claim holds until then, ms since 1970 UTC; NULL: free to take
);
CREATE INDEX IF NOT EXISTS outbox_pending ON outbox(seq) WHERE delivered_at IS NULL;
CREATE TABLE IF NOT EXISTS plan_scores (
  report_id       INTEGER PRIMARY KEY REFERENCES reports(id),  -- the scored analysis
  status          TEXT NOT NULL,     -- scored / not_scorable
  score           TEXT NOT NULL,     -- the result, JSON
  scored_at       TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS analysis_claims (
  stock_code      TEXT NOT NULL,
  analysis_date   TEXT NOT NULL,
  llm_client_type TEXT NOT NULL,
  owner           TEXT NOT NULL,     -- the run analysing the instrument-day now
  lease_until     INTEGER NOT NULL,  -- its claim holds until then, ms since 1970 UTC
  PRIMARY KEY (stock_code, analysis_date, llm_client_type)
);
CREATE TABLE IF NOT EXISTS deliveries (
  channel         TEXT NOT NULL,     -- the channel's name in the delivery file
  day             TEXT NOT NULL,     -- the digest's day, YYYY-MM-DD
  digest_id       TEXT NOT NULL,     -- the digest the latest run sent or tried
  state           TEXT NOT NULL,     -- claimed / sent / failed
  attempts        INTEGER NOT NULL,  -- runs that took the delivery in hand
  last_error      TEXT,              -- why the latest failed run failed, secrets masked
  claimed_at      TEXT NOT NULL,     -- when the latest run took it, ISO UTC
  finished_at     TEXT,              -- when that run sent it or gave up; NULL while claimed
  owner           TEXT,              -- the claim of the run sending it now; NULL once finished
  PRIMARY KEY (channel, day)
);
)sql";

// Columns added after the first layout.
constexpr sqlite::AddedColumn ADDED_COLUMNS[] = {
    {"outbox", "claimed_by", "TEXT"},
    {"outbox", "lease_until", "INTEGER"},
    // The decision an analysis extracted from its reply, as JSON; the text "null" when it held none.
    // NULL in rows stored before the column existed: their decision is read from the content.
    {"reports", "decision", "TEXT"},
    {"reports", "data_note", "TEXT"},
    {"reports", "plan_checks", "TEXT"},
    {"reports", "review_required", "INTEGER"},
    {"reports", "prescreen_levels", "TEXT"},
};

class SqliteConnection final : public Connection {
 public:
  explicit SqliteConnection(const StoreOptions& options)
      : file_(options.directory / DATABASE_FILE_NAME),
        shown_(file_.string()),
        db_(file_,
            sqlite::OpenOptions{.label = "报告数据库",
                                .create = !options.read_only,
                                .busy_timeout_ms = options.busy_timeout_ms,
                                .wal = false,
                                .permission_advice = "请检查报告目录是否存在且可写，或用 REPORT_DIR 指定其他目录",
                                .corrupt_advice = {},
                                .read_only = options.read_only}) {
    if (options.read_only) return;
    sqlite::retry_while_busy(std::chrono::milliseconds(options.busy_timeout_ms), [this] { configure(); });
  }

  Statement prepare(std::string_view sql) override { return engine_statement(sqlite::Statement(db_, sql)); }
  void begin() override { tx_.emplace(db_); }
  void commit() override {
    tx_->commit();
    tx_.reset();
  }
  void rollback() noexcept override { tx_.reset(); }
  void lock_for_claims(std::string_view) override {}  // BEGIN IMMEDIATE holds the write lock already
  std::string_view skip_locked() const override { return ""; }
  std::string json_member(std::string_view column, std::string_view key) const override {
    return fmt::format("json_extract(CASE WHEN json_valid({0}) THEN {0} END, '$.{1}')", column, key);
  }
  void relax_sync(bool on) override {
    if (on) {
      relaxed_.emplace(db_);
    } else {
      relaxed_.reset();
    }
  }
  void run(const std::function<void(bool)>& work) override { work(false); }
  std::int64_t now_ms() override { return epoch_ms(clock().now()); }
  const std::string& describe() const override { return shown_; }
  bool shared() const override { return false; }

 private:
  void configure() {
    {
      sqlite::Statement wal(db_, "PRAGMA journal_mode=WAL");
      const std::string mode = wal.step() ? wal.text(0) : std::string();
      if (mode != "wal")
        logger.warning("[报告存储] 数据库未能切换到 WAL 模式 (当前 %s)，并发写入会更慢: %s", mode, shown_);
    }
    // FULL: a committed report survives a power cut, not only a crash of the process.
    db_.exec("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
    create_schema();
  }

  void create_schema() {
    sqlite::Transaction tx(db_);
    sqlite::Statement version(db_, "PRAGMA user_version");
    const std::int64_t found = version.step() ? version.integer(0) : 0;
    version.reset();
    if (found > SCHEMA_VERSION)
      throw RuntimeError(
          fmt::format("报告数据库 {} 的版本 ({}) 比本程序支持的 ({}) 新，请升级程序", shown_, found, SCHEMA_VERSION));
    db_.exec(SCHEMA_SQL);
    for (const auto& [table, name, type] : sqlite::add_missing_columns(db_, ADDED_COLUMNS))
      logger.info("[报告存储] 已升级报告数据库: 表 %s 新增列 %s (%s)", table, name, shown_);
    merge_code_spellings();
    db_.exec(fmt::format("PRAGMA user_version={}", SCHEMA_VERSION));
    tx.commit();
  }

  // Reports stored under another spelling of a code ("SH.600519", "hk.700") by earlier versions
  // join their instrument: the skip check, listings and files then find them. Nothing is deleted;
  // their Markdown files are written again under the canonical name.
  void merge_code_spellings() {
    std::vector<std::pair<std::string, std::string>> renames;
    {
      sqlite::Statement codes(db_, "SELECT DISTINCT stock_code FROM reports WHERE stock_code != ''");
      while (codes.step()) {
        const std::string code = codes.text(0);
        if (const auto canonical = canonical_code(code); canonical && *canonical != code)
          renames.push_back({code, *canonical});
      }
    }
    if (renames.empty()) return;
    sqlite::Statement update(db_, "UPDATE reports SET stock_code = ?2, file = NULL WHERE stock_code = ?1");
    std::int64_t rows = 0;
    for (const auto& [from, to] : renames) {
      update.reset();
      update.bind(1, from).bind(2, to).run();
      rows += update.changes();
    }
    logger.info("[报告存储] 已把 %d 份报告的代码统一为规范写法 (如 %s → %s): %s", rows, renames.front().first,
                renames.front().second, shown_);
  }

  std::filesystem::path file_;
  std::string shown_;
  sqlite::Database db_;
  std::optional<sqlite::Transaction> tx_;
  std::optional<sqlite::RelaxedSync> relaxed_;
};

}  // namespace

std::unique_ptr<Connection> open_sqlite_connection(const StoreOptions& options) {
  return std::make_unique<SqliteConnection>(options);
}

}  // namespace quorvel::report::store
