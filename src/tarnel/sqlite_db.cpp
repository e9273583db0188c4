#include "tarnel/sqlite_db.h"

#include <cmath>

#include <fmt/format.h>
#include <sqlite3.h>

#include "contracts/errors.h"

namespace tarnel {

namespace {

// What an operator can do about a failure, by SQLite's primary result code.
std::string advice(int code) {
  switch (code & 0xff) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return "；文件已损坏或不是行情库：请移走或删除它后重新运行（内置数据会自动重建，自行导入的数据请用 tarnel-import "
             "重新导入）";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "；行情库正被其他进程写入，请稍后重试";
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      return "；请检查该文件及其目录的读写权限，或用 TARNEL_CENTER 指定一个可写的数据目录";
    case SQLITE_FULL:
      return "；磁盘空间不足，请清理后重试";
    default:
      return "";
  }
}

std::string file_of(sqlite3* db) {
  const char* name = db ? sqlite3_db_filename(db, "main") : nullptr;
  return name && *name ? name : "行情库";
}

[[noreturn]] void fail(sqlite3* db, std::string_view what) {
  if (!db) throw quorvel::RuntimeError(fmt::format("行情库操作失败 ({}): no connection", what));
  throw quorvel::RuntimeError(fmt::format("行情库操作失败 ({}, {}): {}{}", file_of(db), what, sqlite3_errmsg(db),
                                          advice(sqlite3_extended_errcode(db))));
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  if (sqlite3_prepare_v2(db, sql.data(), int(sql.size()), &stmt_, nullptr) != SQLITE_OK) fail(db, sql);
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(int index, std::string_view text) {
  if (sqlite3_bind_text(stmt_, index, text.data(), int(text.size()), SQLITE_TRANSIENT) != SQLITE_OK) fail(db_, "bind");
  return *this;
}

Statement& Statement::bind(int index, int64_t value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) fail(db_, "bind");
  return *this;
}

Statement& Statement::bind(int index, double value) {
  const int rc = std::isnan(value) ? sqlite3_bind_null(stmt_, index) : sqlite3_bind_double(stmt_, index, value);
  if (rc != SQLITE_OK) fail(db_, "bind");
  return *this;
}

bool Statement::step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  fail(db_, "step");
}

void Statement::reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int64_t Statement::int_at(int col) const { return sqlite3_column_int64(stmt_, col); }

double Statement::real_at(int col) const {
  if (sqlite3_column_type(stmt_, col) == SQLITE_NULL) return std::nan("");
  return sqlite3_column_double(stmt_, col);
}

double Statement::double_at(int col) const { return sqlite3_column_double(stmt_, col); }

std::string Statement::text_at(int col) const {
  const auto* p = sqlite3_column_text(stmt_, col);
  return p ? std::string(reinterpret_cast<const char*>(p), std::size_t(sqlite3_column_bytes(stmt_, col))) : "";
}

Database::Database(const std::filesystem::path& file, bool create) : file_(file) {
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    const std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
    const int code = db_ ? sqlite3_extended_errcode(db_) : SQLITE_NOMEM;
    sqlite3_close(db_);
    db_ = nullptr;
    throw quorvel::RuntimeError(fmt::format("无法打开行情库 {}: {}{}", file.string(), msg, advice(code)));
  }
  sqlite3_busy_timeout(db_, 30000);
  exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
}

Database::~Database() { sqlite3_close(db_); }

void Database::exec(std::string_view sql) {
  char* err = nullptr;
  if (const int rc = sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &err); rc != SQLITE_OK) {
    const std::string msg = err ? err : sqlite3_errmsg(db_);
    sqlite3_free(err);
    throw quorvel::RuntimeError(fmt::format("行情库操作失败 ({}): {}{}", file_.string(), msg, advice(rc)));
  }
}

Transaction::Transaction(Database& db) : db_(db) { db_.exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
  if (!done_) {
    try {
      db_.exec("ROLLBACK");
    } catch (...) {
      // The connection already rolled back (for example after a failed step).
    }
  }
}

void Transaction::commit() {
  db_.exec("COMMIT");
  done_ = true;
}

}  // namespace tarnel
