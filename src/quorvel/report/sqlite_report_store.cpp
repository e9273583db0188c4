#include "quorvel/report/sqlite_report_store.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <set>

#include <fmt/format.h>

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "quorvel/report/decision_payload.h"
#include "quorvel/report/markdown.h"
#include "quorvel/report/message.h"
#include "quorvel/report/report_paths.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/market_type.h"
#include "quorvel/utils/atomic_file.h"
#include "quorvel/utils/instrument_code.h"
#include "quorvel/utils/outside_text.h"
#include "quorvel/utils/text.h"

namespace quorvel::report {

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

constexpr const char* REPORT_COLUMNS =
    "id, kind, stock_code, stock_name, market_type, analysis_date, analysis_time, current_price, "
    "llm_client_type, llm_model, content, created_at, file, data_note, review_required";

// The text of a JSON column (decision, plan checks) for a report about to be stored; "null" for none.
std::string json_column(const std::optional<nlohmann::ordered_json>& d) {
  return d ? d->dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) : std::string("null");
}

StoredReport read_report(const Statement& s) {
  StoredReport r;
  r.id = s.integer(0);
  r.kind = parse_kind(s.text(1)).value_or(ReportKind::analysis);
  r.stock_code = s.text(2);
  r.stock_name = s.text(3);
  r.market_type = s.optional_text(4);
  r.analysis_date = s.text(5);
  r.analysis_time = s.text(6);
  if (!s.is_null(7)) r.current_price = s.real(7);
  r.llm_client_type = s.text(8);
  r.llm_model = s.text(9);
  r.content = s.text(10);
  r.created_at = s.text(11);
  r.file = s.optional_text(12);
  r.data_note = s.text(13);
  r.review_required = !s.is_null(14) && s.integer(14) != 0;
  return r;
}

std::string now_text() { return iso_utc(clock().now()); }

void prepare_directory(const std::filesystem::path& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir))
    throw RuntimeError(fmt::format("无法创建报告目录 {}: {} (请检查权限，或用 REPORT_DIR 指定可写的目录)", dir.string(),
                                   ec ? ec.message() : std::string("该路径不是目录")));
  if (::access(dir.c_str(), W_OK | X_OK) != 0)
    throw RuntimeError(
        fmt::format("报告目录不可写: {} (请检查权限，或用 REPORT_DIR 指定可写的目录)", dir.string()));
}

}  // namespace

SqliteReportStore::SqliteReportStore(StoreOptions options, std::shared_ptr<MessagePublisher> publisher,
                                     std::string broker_problem)
    : options_(std::move(options)), publisher_(std::move(publisher)), broker_problem_(std::move(broker_problem)) {
  if (!options_.read_only) prepare_directory(options_.directory);
  db_ = std::make_unique<Database>(
      database_file(), sqlite::OpenOptions{.label = "报告数据库",
                                           .create = !options_.read_only,
                                           .busy_timeout_ms = options_.busy_timeout_ms,
                                           .wal = false,
                                           .permission_advice = "请检查报告目录是否存在且可写，或用 REPORT_DIR 指定其他目录",
                                           .corrupt_advice = {},
                                           .read_only = options_.read_only});
  if (options_.read_only) return;
  sqlite::retry_while_busy(std::chrono::milliseconds(options_.busy_timeout_ms), [this] { configure(); });
}

void SqliteReportStore::configure() {
  {
    Statement wal(*db_, "PRAGMA journal_mode=WAL");
    const std::string mode = wal.step() ? wal.text(0) : std::string();
    if (mode != "wal")
      logger.warning("[报告存储] 数据库未能切换到 WAL 模式 (当前 %s)，并发写入会更慢: %s", mode,
                     database_file().string());
  }
  // FULL: a committed report survives a power cut, not only a crash of the process.
  db_->exec("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
  create_schema();
}

SqliteReportStore::~SqliteReportStore() = default;

void SqliteReportStore::create_schema() {
  Transaction tx(*db_);
  Statement version(*db_, "PRAGMA user_version");
  const std::int64_t found = version.step() ? version.integer(0) : 0;
  version.reset();
  if (found > SCHEMA_VERSION)
    throw RuntimeError(fmt::format("报告数据库 {} 的版本 ({}) 比本程序支持的 ({}) 新，请升级程序",
                                   database_file().string(), found, SCHEMA_VERSION));
  db_->exec(SCHEMA_SQL);
  add_missing_columns();
  merge_code_spellings();
  db_->exec(fmt::format("PRAGMA user_version={}", SCHEMA_VERSION));
  tx.commit();
}

void SqliteReportStore::add_missing_columns() {
  for (const auto& [table, name, type] : sqlite::add_missing_columns(*db_, ADDED_COLUMNS))
    logger.info("[报告存储] 已升级报告数据库: 表 %s 新增列 %s (%s)", table, name, database_file().string());
}

void SqliteReportStore::merge_code_spellings() {
  // Reports stored under another spelling of a code ("SH.600519", "hk.700") by earlier versions
  // join their instrument: the skip check, listings and files then find them. Nothing is deleted;
  // their Markdown files are written again under the canonical name.
  std::vector<std::pair<std::string, std::string>> renames;
  {
    Statement codes(*db_, "SELECT DISTINCT stock_code FROM reports WHERE stock_code != ''");
    while (codes.step()) {
      const std::string code = codes.text(0);
      if (const auto canonical = canonical_code(code); canonical && *canonical != code) renames.push_back({code, *canonical});
    }
  }
  if (renames.empty()) return;
  Statement update(*db_, "UPDATE reports SET stock_code = ?2, file = NULL WHERE stock_code = ?1");
  int rows = 0;
  for (const auto& [from, to] : renames) {
    update.reset();
    update.bind(1, from).bind(2, to).run();
    rows += db_->changes();
  }
  logger.info("[报告存储] 已把 %d 份报告的代码统一为规范写法 (如 %s → %s): %s", rows, renames.front().first,
              renames.front().second, database_file().string());
}

bool SqliteReportStore::exists(const std::string& code, const std::string& date, const std::string& llm_client_type) {
  // An analysis counts once its summary is stored too: a run that stopped between the two (before
  // they were saved together) left an instrument-day that must be analysed again.
  std::lock_guard lock(mutex_);
  Statement s(*db_,
              "SELECT 1 FROM reports a WHERE a.stock_code = ?1 AND a.analysis_date = ?2 AND a.llm_client_type = ?3 "
              "AND a.kind = 'analysis' AND EXISTS (SELECT 1 FROM reports s WHERE s.stock_code = ?1 "
              "AND s.analysis_date = ?2 AND s.llm_client_type = ?3 AND s.kind = 'summary') LIMIT 1");
  s.bind(1, code).bind(2, date_key(date)).bind(3, llm_client_type);
  return s.step();
}

std::optional<StoredAnalysis> SqliteReportStore::stored_analysis(const AnalysisKey& key) {
  std::lock_guard lock(mutex_);
  Statement s(*db_,
              "SELECT kind, content, decision, plan_checks, review_required FROM reports WHERE stock_code = ?1 AND analysis_date = ?2 "
              "AND llm_client_type = ?3 AND kind IN ('analysis', 'summary') ORDER BY id DESC");
  s.bind(1, key.code).bind(2, date_key(key.date)).bind(3, key.llm_client_type);
  std::optional<std::string> content, decision, summary, checks;
  bool have_analysis = false, review = false;
  while (s.step() && !(have_analysis && summary)) {
    if (s.text(0) == "summary") {
      if (!summary) summary = s.text(1);
    } else if (!have_analysis) {
      have_analysis = true;
      content = s.text(1);
      decision = s.optional_text(2);
      checks = s.optional_text(3);
      review = !s.is_null(4) && s.integer(4) != 0;
    }
  }
  if (!have_analysis || !summary) return std::nullopt;
  StoredAnalysis out;
  out.summary = std::move(*summary);
  out.review_required = review;
  if (checks) {
    out.plan_checks = nlohmann::ordered_json::parse(*checks, nullptr, false);
    if (out.plan_checks.is_discarded()) out.plan_checks = nullptr;
  }
  if (!decision) {
    out.decision = decision_from_analysis(*content);  // stored before the decision had a column
  } else if (*decision != "null") {
    out.decision = nlohmann::ordered_json::parse(*decision, nullptr, false);
    if (out.decision->is_discarded()) out.decision.reset();
  }
  return out;
}

bool SqliteReportStore::claim_analysis(const AnalysisKey& key, const std::string& owner,
                                       std::chrono::milliseconds lease) {
  const std::int64_t now = epoch_ms(clock().now());
  std::lock_guard lock(mutex_);
  RelaxedSync relaxed(*db_);  // a claim lost in a power cut only frees the instrument-day earlier
  Statement s(*db_,
              "INSERT INTO analysis_claims (stock_code, analysis_date, llm_client_type, owner, lease_until) "
              "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (stock_code, analysis_date, llm_client_type) DO UPDATE "
              "SET owner = excluded.owner, lease_until = excluded.lease_until "
              "WHERE analysis_claims.owner = excluded.owner OR analysis_claims.lease_until <= ?6");
  s.bind(1, key.code).bind(2, date_key(key.date)).bind(3, key.llm_client_type).bind(4, owner);
  s.bind(5, now + std::int64_t(lease.count())).bind(6, now);
  s.run();
  return db_->changes() > 0;
}

void SqliteReportStore::release_analysis(const AnalysisKey& key, const std::string& owner) {
  std::lock_guard lock(mutex_);
  RelaxedSync relaxed(*db_);
  Statement s(*db_,
              "DELETE FROM analysis_claims WHERE stock_code = ?1 AND analysis_date = ?2 AND llm_client_type = ?3 "
              "AND owner = ?4");
  s.bind(1, key.code).bind(2, date_key(key.date)).bind(3, key.llm_client_type).bind(4, owner).run();
}

std::int64_t SqliteReportStore::insert_report(const PendingSave& save) {
  const StoredReport& row = save.row;
  Statement ins(*db_,
                "INSERT INTO reports (kind, stock_code, stock_name, market_type, analysis_date, analysis_time, "
                "current_price, llm_client_type, llm_model, content, created_at, decision, data_note, plan_checks, "
                "review_required, prescreen_levels) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, "
                "?15, ?16)");
  ins.bind(1, kind_name(row.kind)).bind(2, row.stock_code).bind(3, row.stock_name).bind_optional(4, row.market_type);
  ins.bind(5, row.analysis_date).bind(6, row.analysis_time);
  if (row.current_price) {
    ins.bind(7, *row.current_price);
  } else {
    ins.bind_null(7);
  }
  ins.bind(8, row.llm_client_type).bind(9, row.llm_model).bind(10, row.content).bind(11, row.created_at);
  ins.bind_optional(12, save.decision);
  ins.bind(13, row.data_note);
  ins.bind_optional(14, save.plan_checks);
  ins.bind(15, std::int64_t(row.review_required ? 1 : 0));
  ins.bind_optional(16, save.levels);
  ins.run();
  const std::int64_t id = db_->last_insert_id();

  Statement msg(*db_,
                "INSERT INTO outbox (message_id, report_id, kind, stream, payload, created_at) "
                "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  msg.bind(1, save.message_id).bind(2, id).bind(3, kind_name(row.kind)).bind(4, stream_name(row.kind));
  msg.bind(5, save.payload(id, row.created_at)).bind(6, row.created_at);
  msg.run();
  return id;
}

void SqliteReportStore::store(std::span<PendingSave> saves) {
  {
    std::lock_guard lock(mutex_);
    Transaction tx(*db_);
    for (PendingSave& save : saves) save.row.id = insert_report(save);
    tx.commit();
  }
  for (PendingSave& save : saves) write_file(save.row);
}

bool SqliteReportStore::newer_report_owns(std::int64_t id, const std::string& rel) {
  // A later report of the same code, kind, date and client has already written this file; an older
  // report (written late, after a failure or a race with another process) must not replace it.
  std::lock_guard lock(mutex_);
  Statement s(*db_, "SELECT 1 FROM reports WHERE id > ?1 AND file = ?2 LIMIT 1");
  s.bind(1, id).bind(2, rel);
  return s.step();
}

bool SqliteReportStore::write_file(StoredReport& report) {
  if (!options_.write_files) return true;
  const std::filesystem::path rel = markdown_relative_path(report);
  const std::filesystem::path path = options_.directory / rel;
  try {
    if (!is_inside(options_.directory, path))
      throw RuntimeError("文件路径越出了报告目录");  // cannot happen with escaped names; kept as a last guard
    if (!newer_report_owns(report.id, rel.generic_string())) write_file_atomically(path, render_markdown(report));
    std::lock_guard lock(mutex_);
    RelaxedSync relaxed(*db_);
    Statement s(*db_, "UPDATE reports SET file = ?1 WHERE id = ?2");
    s.bind(1, rel.generic_string()).bind(2, report.id).run();
    report.file = rel.generic_string();
    return true;
  } catch (const std::exception& e) {
    logger.warning(
        "[报告存储] 写 Markdown 文件失败 path=%s err=%s | 报告已存入数据库 (id=%d)，可用 quorvel-reports write-files 重写",
        path.string(), e.what(), report.id);
    return false;
  }
}

namespace {

// The fields every stock report row shares. Text that came from the model or a data source is
// cleaned for terminals and freed of secrets before it is stored, written or published.
StoredReport stock_row(ReportKind kind, const std::string& code, const std::string& name, const std::string& time,
                       double price, const std::string& client, const std::string& model, const std::string& content) {
  StoredReport row;
  row.kind = kind;
  row.stock_code = code;
  row.stock_name = outside_text(name);
  row.analysis_date = date_key(time);
  row.analysis_time = time;
  row.current_price = price;
  row.llm_client_type = client;
  row.llm_model = outside_text(model);
  row.content = outside_text(content);
  row.created_at = now_text();
  return row;
}

}  // namespace

SqliteReportStore::PendingSave SqliteReportStore::analysis_save(const AnalysisReport& r) {
  PendingSave save;
  save.row = stock_row(ReportKind::analysis, r.stock_code, r.stock_name, r.analysis_time, r.current_price,
                       r.llm_client_type, r.llm_model, r.content);
  save.row.market_type = r.market_type;
  save.row.data_note = r.data_note;
  std::optional<nlohmann::ordered_json> decision;
  if (!r.decision) {
    decision = decision_from_analysis(r.content);
  } else if (!r.decision->is_null()) {
    decision = *r.decision;
  }
  save.decision = json_column(decision);
  save.row.review_required = r.review_required;
  if (r.plan_checks) save.plan_checks = json_column(r.plan_checks);
  if (r.levels) save.levels = json_column(r.levels);
  save.message_id = new_message_id();
  AnalysisReport published = r;
  published.stock_name = save.row.stock_name;
  published.llm_model = save.row.llm_model;
  published.content = save.row.content;
  save.payload = [published = std::move(published), decision = std::move(decision), id = save.message_id](
                     std::int64_t report_id, const std::string& created) {
    return message_text(analysis_message({id, created, report_id}, published, decision));
  };
  return save;
}

SqliteReportStore::PendingSave SqliteReportStore::summary_save(const SummaryReport& r) {
  PendingSave save;
  save.row = stock_row(ReportKind::summary, r.stock_code, r.stock_name, r.analysis_time, r.current_price,
                       r.llm_client_type, r.llm_model, r.content);
  save.row.data_note = r.data_note;
  save.row.review_required = r.review_required;
  // The summary record has no market; derive it from the code so listings can filter by market.
  save.row.market_type = get_market_type(r.stock_code, r.stock_name);
  save.message_id = new_message_id();
  SummaryReport published = r;
  published.stock_name = save.row.stock_name;
  published.llm_model = save.row.llm_model;
  published.content = save.row.content;
  save.payload = [published = std::move(published), id = save.message_id](std::int64_t report_id,
                                                                          const std::string& created) {
    return message_text(summary_message({id, created, report_id}, published));
  };
  return save;
}

void SqliteReportStore::save_analysis_report(const AnalysisReport& r) {
  PendingSave saves[] = {analysis_save(r)};
  store(saves);
}

void SqliteReportStore::save_summary_report(const SummaryReport& r) {
  PendingSave saves[] = {summary_save(r)};
  store(saves);
}

void SqliteReportStore::save_analysis_with_summary(const AnalysisReport& analysis, const SummaryReport& summary) {
  PendingSave saves[] = {analysis_save(analysis), summary_save(summary)};
  store(saves);
}

void SqliteReportStore::save_solvara(const SolvaraReport& r) {
  PendingSave save;
  save.row.kind = ReportKind::solvara;
  save.row.market_type = r.market_type;
  save.row.analysis_date = date_key(r.analysis_time);
  save.row.analysis_time = r.analysis_time;
  save.row.llm_client_type = r.llm_client_type;
  save.row.llm_model = outside_text(r.llm_model);
  save.row.content = outside_text(r.content);
  save.row.created_at = now_text();
  save.message_id = new_message_id();
  SolvaraReport published = r;
  published.llm_model = save.row.llm_model;
  published.content = save.row.content;
  save.payload = [published = std::move(published), id = save.message_id](std::int64_t report_id,
                                                                          const std::string& created) {
    return message_text(solvara_message({id, created, report_id}, published));
  };
  PendingSave saves[] = {std::move(save)};
  store(saves);
}

std::vector<StoredReport> SqliteReportStore::list_reports(const ReportFilter& f) {
  // Only fixed clauses enter the SQL text; every value is a bound parameter.
  std::string sql = fmt::format("SELECT {} FROM reports WHERE 1=1", REPORT_COLUMNS);
  if (f.code) sql += " AND stock_code = ?1";
  if (f.date) sql += " AND analysis_date = ?2";
  if (f.market) sql += " AND market_type = ?3";
  if (f.kind) sql += " AND kind = ?4";
  if (f.llm_client_type) sql += " AND llm_client_type = ?5";
  sql += " ORDER BY id DESC LIMIT ?6";
  std::lock_guard lock(mutex_);
  Statement s(*db_, sql);
  if (f.code) s.bind(1, *f.code);
  if (f.date) s.bind(2, date_key(*f.date));
  if (f.market) s.bind(3, upper_ascii(*f.market));
  if (f.kind) s.bind(4, kind_name(*f.kind));
  if (f.llm_client_type) s.bind(5, *f.llm_client_type);
  s.bind(6, std::int64_t(std::max(f.limit, 0)));
  std::vector<StoredReport> out;
  while (s.step()) out.push_back(read_report(s));
  return out;
}

std::optional<StoredReport> SqliteReportStore::get_report(std::int64_t id) {
  std::lock_guard lock(mutex_);
  Statement s(*db_, fmt::format("SELECT {} FROM reports WHERE id = ?1", REPORT_COLUMNS));
  s.bind(1, id);
  if (!s.step()) return std::nullopt;
  return read_report(s);
}

SqliteReportStore::FilesWritten SqliteReportStore::write_missing_files(bool check_disk) {
  if (!options_.write_files || options_.read_only) return {};
  std::vector<StoredReport> missing;
  {
    std::lock_guard lock(mutex_);
    Statement s(*db_, fmt::format("SELECT {} FROM reports WHERE file IS NULL ORDER BY id", REPORT_COLUMNS));
    while (s.step()) missing.push_back(read_report(s));
    if (check_disk) {
      // Newest first: the newest report of a file is the one the file shows.
      Statement all(*db_, fmt::format("SELECT {} FROM reports WHERE file IS NOT NULL ORDER BY id DESC", REPORT_COLUMNS));
      std::set<std::string> seen;
      while (all.step()) {
        StoredReport r = read_report(all);
        std::error_code ec;
        const auto size = std::filesystem::file_size(options_.directory / *r.file, ec);
        if (seen.insert(*r.file).second && (ec || size == 0)) missing.push_back(std::move(r));
      }
    }
  }
  FilesWritten out;
  for (StoredReport& r : missing) {
    const auto path = options_.directory / markdown_relative_path(r);
    std::error_code ec;
    const bool before = std::filesystem::file_size(path, ec) > 0 && !ec;
    if (!write_file(r)) {
      ++out.failed;
    } else if (!before && std::filesystem::exists(path)) {
      ++out.written;
    }
  }
  return out;
}

}  // namespace quorvel::report
