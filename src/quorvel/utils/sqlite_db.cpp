#include "quorvel/utils/sqlite_db.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>

#include <fmt/format.h>
#include <sqlite3.h>

namespace quorvel::sqlite {

namespace {

// What the operator can do, by SQLite's primary result code.
std::string advice(int rc, const OpenOptions& options) {
  switch (rc & 0xff) {
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      return options.permission_advice.empty() ? "请检查该文件及其目录的读写权限" : options.permission_advice;
    case SQLITE_FULL:
      return "磁盘已满，请释放空间后重试";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "数据库被其他进程长时间占用，请稍后重试";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return options.corrupt_advice.empty() ? "数据库文件已损坏或不是 SQLite 文件，请备份后移走该文件"
                                            : options.corrupt_advice;
    case SQLITE_IOERR:
      return "磁盘读写失败，请检查磁盘空间与文件系统";
    default:
      return "";
  }
}

std::string with_advice(std::string message, int rc, const OpenOptions& options) {
  if (const std::string a = advice(rc, options); !a.empty()) message += " (" + a + ")";
  return message;
}

// "file:" URI of `file` for a read-only open; characters that mean something in a URI are escaped.
std::string read_only_uri(const std::filesystem::path& file, bool immutable) {
  std::string uri = "file:";
  for (const char c : file.string()) {
    if (c == '%' || c == '?' || c == '#') {
      uri += fmt::format("%{:02X}", static_cast<unsigned char>(c));
    } else {
      uri += c;
    }
  }
  return uri + (immutable ? "?immutable=1" : "?mode=ro");
}

// SQLite counts every allocation under one process-wide mutex unless told not to; the counts are
// never read here, and with several connections reading at once (a whole-market screen) that mutex
// is where the threads queue. Must run before SQLite initialises; later it is refused, harmlessly.
void turn_off_memory_statistics() {
  static const int done = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  (void)done;
}

}  // namespace

Database::Database(const std::filesystem::path& file, OpenOptions options)
    : file_(file), options_(std::move(options)) {
  turn_off_memory_statistics();
  if (options_.read_only) {
    open_read_only();
    return;
  }
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (options_.create ? SQLITE_OPEN_CREATE : 0);
  open(file.string(), flags);
  if (options_.wal)
    retry_while_busy(std::chrono::milliseconds(options_.busy_timeout_ms),
                     [this] { exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"); });
}

void Database::open_read_only() {
  const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
  open(read_only_uri(file_, false), flags);
  // A WAL database whose folder this process cannot write has no shared-memory index to read it
  // through; as no writer can work there either, the file on disk is the whole database.
  if (sqlite3_exec(db_, "SELECT COUNT(*) FROM sqlite_master", nullptr, nullptr, nullptr) == SQLITE_OK) return;
  sqlite3_close_v2(db_);
  db_ = nullptr;
  open(read_only_uri(file_, true), flags);
}

void Database::open(const std::string& name, int flags) {
  const int rc = sqlite3_open_v2(name.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    const int code = db_ ? sqlite3_extended_errcode(db_) : rc;
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw RuntimeError(with_advice(fmt::format("无法打开{} {}: {}", options_.label, file_.string(), reason), code, options_));
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, options_.busy_timeout_ms);
}

Database::~Database() {
  begin_read_.reset();
  end_read_.reset();
  sqlite3_close_v2(db_);
}

void Database::fail(int rc, std::string_view context) const {
  const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  const std::string message =
      with_advice(fmt::format("{} {} {}失败: {}", options_.label, file_.string(), context, reason), rc, options_);
  const int primary = rc & 0xff;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) throw DatabaseBusy(message);
  throw RuntimeError(message);
}

void Database::exec(std::string_view sql) {
  const std::string text(sql);
  const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc, "执行 SQL ");
}

std::int64_t Database::last_insert_id() const { return sqlite3_last_insert_rowid(db_); }
int Database::changes() const { return sqlite3_changes(db_); }

Statement::Statement(Database& db, std::string_view sql) : db_(&db) {
  const int rc = sqlite3_prepare_v2(db.handle(), sql.data(), int(sql.size()), &stmt_, nullptr);
  if (rc != SQLITE_OK) db.fail(rc, "准备语句");
}

Statement::Statement(Statement&& other) noexcept : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)) {}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(int index, std::string_view text) {
  const int rc = sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  if (rc != SQLITE_OK) db_->fail(rc, "绑定参数");
  return *this;
}

Statement& Statement::bind(int index, std::int64_t value) {
  const int rc = sqlite3_bind_int64(stmt_, index, value);
  if (rc != SQLITE_OK) db_->fail(rc, "绑定参数");
  return *this;
}

Statement& Statement::bind(int index, double value) {
  const int rc = std::isnan(value) ? sqlite3_bind_null(stmt_, index) : sqlite3_bind_double(stmt_, index, value);
  if (rc != SQLITE_OK) db_->fail(rc, "绑定参数");
  return *this;
}

Statement& Statement::bind_null(int index) {
  const int rc = sqlite3_bind_null(stmt_, index);
  if (rc != SQLITE_OK) db_->fail(rc, "绑定参数");
  return *this;
}

Statement& Statement::bind_optional(int index, const std::optional<std::string>& text) {
  return text ? bind(index, std::string_view(*text)) : bind_null(index);
}

Statement& Statement::bind_blob(int index, std::span<const std::byte> bytes) {
  // A zero-length blob still binds a (non-NULL) empty value: data() of an empty span may be null.
  static const std::byte none{};
  const int rc =
      sqlite3_bind_blob64(stmt_, index, bytes.empty() ? &none : bytes.data(), bytes.size(), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) db_->fail(rc, "绑定参数");
  return *this;
}

bool Statement::step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  db_->fail(rc, "执行语句");
}

void Statement::run() {
  while (step()) {
  }
}

void Statement::reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

std::int64_t Statement::changes() const { return sqlite3_changes(db_->handle()); }

bool Statement::is_null(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

std::string Statement::text(int column) const {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  if (!p) return {};
  return std::string(p, std::size_t(sqlite3_column_bytes(stmt_, column)));
}

std::optional<std::string> Statement::optional_text(int column) const {
  if (is_null(column)) return std::nullopt;
  return text(column);
}

std::int64_t Statement::integer(int column) const { return sqlite3_column_int64(stmt_, column); }

double Statement::real(int column) const {
  if (is_null(column)) return std::nan("");
  return sqlite3_column_double(stmt_, column);
}

std::span<const std::byte> Statement::blob(int column) const {
  const auto* p = static_cast<const std::byte*>(sqlite3_column_blob(stmt_, column));
  if (!p) return {};
  return {p, std::size_t(sqlite3_column_bytes(stmt_, column))};
}

Transaction::Transaction(Database& db) : db_(db) { db_.exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
  // A failed statement may already have rolled the transaction back; nothing is left to undo then.
  if (!done_) sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
  db_.exec("COMMIT");
  done_ = true;
}

void Database::begin_read() {
  if (!begin_read_) begin_read_.emplace(*this, "BEGIN");
  begin_read_->reset();
  begin_read_->run();
}

// A read-only transaction has nothing to lose: COMMIT only releases the snapshot.
void Database::end_read() noexcept {
  try {
    if (!end_read_) end_read_.emplace(*this, "COMMIT");
    end_read_->reset();
    end_read_->run();
  } catch (const std::exception&) {
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  }
}

ReadSnapshot::ReadSnapshot(Database& db) : db_(db) { db_.begin_read(); }

ReadSnapshot::~ReadSnapshot() { db_.end_read(); }

RelaxedSync::RelaxedSync(Database& db) : db_(db) { db_.exec("PRAGMA synchronous=NORMAL"); }

RelaxedSync::~RelaxedSync() { sqlite3_exec(db_.handle(), "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr); }

void retry_while_busy(std::chrono::milliseconds budget, const std::function<void()>& work) {
  const auto give_up = std::chrono::steady_clock::now() + budget;
  for (int attempt = 1;; ++attempt) {
    try {
      work();
      return;
    } catch (const DatabaseBusy&) {
      if (std::chrono::steady_clock::now() >= give_up) throw;
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10 * attempt, 200)));
    }
  }
}

std::vector<AddedColumn> missing_columns(Database& db, std::span<const AddedColumn> columns) {
  std::vector<AddedColumn> missing;
  for (const AddedColumn& c : columns) {
    bool present = false;
    for (Statement info = db.prepare(fmt::format("PRAGMA table_info({})", c.table)); info.step();)
      present = present || info.text(1) == c.name;
    if (!present) missing.push_back(c);
  }
  return missing;
}

std::vector<AddedColumn> add_missing_columns(Database& db, std::span<const AddedColumn> columns) {
  const std::vector<AddedColumn> missing = missing_columns(db, columns);
  for (const AddedColumn& c : missing) db.exec(fmt::format("ALTER TABLE {} ADD COLUMN {} {}", c.table, c.name, c.type));
  return missing;
}

}  // namespace quorvel::sqlite
