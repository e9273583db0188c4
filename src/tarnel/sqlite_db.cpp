#include "tarnel/sqlite_db.h"

#include <cmath>

#include <fmt/format.h>
#include <sqlite3.h>

#include "contracts/errors.h"

namespace tarnel {

namespace {

[[noreturn]] void fail(sqlite3* db, std::string_view what) {
  throw quorvel::RuntimeError(fmt::format("行情库操作失败 ({}): {}", what, db ? sqlite3_errmsg(db) : "no connection"));
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
    sqlite3_close(db_);
    db_ = nullptr;
    throw quorvel::RuntimeError(fmt::format("无法打开行情库 {}: {}", file.string(), msg));
  }
  sqlite3_busy_timeout(db_, 30000);
  exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
}

Database::~Database() { sqlite3_close(db_); }

void Database::exec(std::string_view sql) {
  char* err = nullptr;
  if (sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    const std::string msg = err ? err : sqlite3_errmsg(db_);
    sqlite3_free(err);
    throw quorvel::RuntimeError(fmt::format("行情库操作失败 ({}): {}", file_.filename().string(), msg));
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
