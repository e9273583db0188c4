#include "quorvel/report/sqlite_db.h"

#include <sqlite3.h>

#include <fmt/format.h>

#include "contracts/errors.h"

namespace quorvel::report {

namespace {

// What the operator should do about the most common failures.
std::string advice(int rc) {
  switch (rc & 0xff) {
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      return "请检查报告目录是否存在且可写，或用 REPORT_DIR 指定其他目录";
    case SQLITE_FULL:
      return "磁盘已满，请释放空间后重试";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "数据库被其他进程长时间占用，请稍后重试";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return "数据库文件已损坏或不是 SQLite 文件，请备份后移走该文件";
    case SQLITE_IOERR:
      return "磁盘读写失败，请检查磁盘空间与文件系统";
    default:
      return "";
  }
}

}  // namespace

Database::Database(const std::filesystem::path& file, int busy_timeout_ms) : file_(file) {
  const int rc = sqlite3_open_v2(file.c_str(), &db_,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw RuntimeError(fmt::format("无法打开报告数据库 {}: {} {}", file.string(), reason, advice(rc)));
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, busy_timeout_ms);
}

Database::~Database() { sqlite3_close_v2(db_); }

void Database::fail(int rc, std::string_view context) const {
  const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  std::string message = fmt::format("报告数据库 {} {}失败: {}", file_.string(), context, reason);
  if (const std::string a = advice(rc); !a.empty()) message += " (" + a + ")";
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

Statement::Statement(Database& db, std::string_view sql) : db_(db) {
  const int rc = sqlite3_prepare_v2(db.handle(), sql.data(), int(sql.size()), &stmt_, nullptr);
  if (rc != SQLITE_OK) db.fail(rc, "准备语句");
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(int index, std::string_view text) {
  const int rc = sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  if (rc != SQLITE_OK) db_.fail(rc, "绑定参数");
  return *this;
}

Statement& Statement::bind(int index, std::int64_t value) {
  const int rc = sqlite3_bind_int64(stmt_, index, value);
  if (rc != SQLITE_OK) db_.fail(rc, "绑定参数");
  return *this;
}

Statement& Statement::bind(int index, double value) {
  const int rc = sqlite3_bind_double(stmt_, index, value);
  if (rc != SQLITE_OK) db_.fail(rc, "绑定参数");
  return *this;
}

Statement& Statement::bind_null(int index) {
  const int rc = sqlite3_bind_null(stmt_, index);
  if (rc != SQLITE_OK) db_.fail(rc, "绑定参数");
  return *this;
}

Statement& Statement::bind_optional(int index, const std::optional<std::string>& text) {
  return text ? bind(index, std::string_view(*text)) : bind_null(index);
}

bool Statement::step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  db_.fail(rc, "执行语句");
}

void Statement::run() {
  while (step()) {
  }
}

void Statement::reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

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
double Statement::real(int column) const { return sqlite3_column_double(stmt_, column); }

Transaction::Transaction(Database& db) : db_(db) { db_.exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
  if (!done_) sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
  db_.exec("COMMIT");
  done_ = true;
}

RelaxedSync::RelaxedSync(Database& db) : db_(db) { db_.exec("PRAGMA synchronous=NORMAL"); }

RelaxedSync::~RelaxedSync() { sqlite3_exec(db_.handle(), "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr); }

}  // namespace quorvel::report
