#pragma once
// The one RAII layer over the SQLite C API, shared by the bar store, the screen ranking and the report
// store: one connection, prepared statements with bound parameters only, transactions, extended
// result codes, and NaN stored as NULL. Every failure becomes a RuntimeError that names the database,
// its file and SQLite's reason, followed by what the operator can do about it; a lock held beyond the
// busy timeout is a DatabaseBusy so callers can retry it.
//
// Thread-safety: none. A Database and its statements belong to one thread at a time; callers that
// share one guard it themselves.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "contracts/errors.h"

struct sqlite3;
struct sqlite3_stmt;

namespace quorvel::sqlite {

class Database;

// The database stayed locked by another connection beyond the busy timeout, or a lock could not be
// waited for at all (as when two processes create the database at the same moment).
class DatabaseBusy : public RuntimeError {
 public:
  using RuntimeError::RuntimeError;
};

struct OpenOptions {
  std::string label = "数据库";  // how messages name the database ("行情库", "报告数据库")
  bool create = true;             // create the file when it is missing
  int busy_timeout_ms = 30000;    // how long a statement waits for another connection's lock
  bool wal = false;               // write-ahead log with synchronous=NORMAL
  std::string permission_advice;  // what to do when the file or its folder cannot be opened or written
  std::string corrupt_advice;     // what to do with a damaged file or one that is not a database
  // Open for reading only. In a folder this process may not write (where SQLite cannot make the
  // shared-memory index of a WAL database) the file is read as it stands on disk.
  bool read_only = false;
};

// A prepared statement. Parameters are 1-based, columns 0-based, as in SQLite.
class Statement {
 public:
  Statement(Database& db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&&) = delete;

  Statement& bind(int index, std::string_view text);
  Statement& bind(int index, std::int64_t value);
  Statement& bind(int index, double value);  // NaN is stored as NULL
  Statement& bind_null(int index);
  Statement& bind_optional(int index, const std::optional<std::string>& text);
  Statement& bind_blob(int index, std::span<const std::byte> bytes);  // copied by SQLite

  // Advances to the next row; false when the statement is done.
  bool step();
  // Runs a statement that yields no rows.
  void run();
  // Makes the statement ready to run again with new parameters.
  void reset();
  // Rows the statement's last run changed (INSERT, UPDATE, DELETE).
  std::int64_t changes() const;

  bool is_null(int column) const;
  std::string text(int column) const;  // NULL reads as ""
  std::optional<std::string> optional_text(int column) const;
  std::int64_t integer(int column) const;
  double real(int column) const;  // NULL reads as NaN
  // The column's bytes (NULL reads as empty), valid until the next step() or reset().
  std::span<const std::byte> blob(int column) const;

 private:
  Database* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class Database {
 public:
  Database(const std::filesystem::path& file, OpenOptions options);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void exec(std::string_view sql);
  Statement prepare(std::string_view sql) { return Statement(*this, sql); }
  std::int64_t last_insert_id() const;
  int changes() const;
  const std::filesystem::path& file() const { return file_; }
  sqlite3* handle() { return db_; }

  // Throws for SQLite result `rc` met while doing `context`: DatabaseBusy for a lock, else RuntimeError.
  [[noreturn]] void fail(int rc, std::string_view context) const;

  // BEGIN (deferred) and its COMMIT, prepared once per connection: a reader that takes a snapshot per
  // instrument would otherwise parse both thousands of times. end_read() never throws.
  void begin_read();
  void end_read() noexcept;

 private:
  void open(const std::string& name, int flags);
  void open_read_only();

  std::filesystem::path file_;
  OpenOptions options_;
  sqlite3* db_ = nullptr;
  std::optional<Statement> begin_read_, end_read_;
};

// BEGIN IMMEDIATE ... COMMIT; rolled back when destroyed before commit(). IMMEDIATE takes the write
// lock up front, so two writers queue on the busy timeout instead of deadlocking on an upgrade.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit();

 private:
  Database& db_;
  bool done_ = false;
};

// Several reads from one snapshot of the database: BEGIN (deferred) ... COMMIT, ended when
// destroyed. Cheaper than a transaction per statement when connections of one process read at once
// (each transaction takes and drops the file's locks), and the reads agree with each other.
class ReadSnapshot {
 public:
  explicit ReadSnapshot(Database& db);
  ~ReadSnapshot();
  ReadSnapshot(const ReadSnapshot&) = delete;
  ReadSnapshot& operator=(const ReadSnapshot&) = delete;

 private:
  Database& db_;
};

// Commits made while this lives are durable against a crash of the process but may be lost with
// the last moments before a power cut (synchronous=NORMAL instead of FULL). For bookkeeping whose
// loss is harmless and can be redone.
class RelaxedSync {
 public:
  explicit RelaxedSync(Database& db);
  ~RelaxedSync();
  RelaxedSync(const RelaxedSync&) = delete;
  RelaxedSync& operator=(const RelaxedSync&) = delete;

 private:
  Database& db_;
};

// Runs `work` again while it fails with DatabaseBusy, for up to `budget`, with short growing pauses.
// For what SQLite does not wait for by itself: switching a database to WAL and creating its tables
// when several processes open a new database at the same moment.
void retry_while_busy(std::chrono::milliseconds budget, const std::function<void()>& work);

// A column added to a table after its first layout; ALTER TABLE ... ADD COLUMN keeps every row.
struct AddedColumn {
  const char* table;
  const char* name;
  const char* type;
};

// The columns of `columns` the database's tables lack.
std::vector<AddedColumn> missing_columns(Database& db, std::span<const AddedColumn> columns);

// Adds the missing ones and returns them; call it inside a Transaction, so that a second process
// opening the same file at once finds them added (or adds them itself) and never both.
std::vector<AddedColumn> add_missing_columns(Database& db, std::span<const AddedColumn> columns);

}  // namespace quorvel::sqlite
