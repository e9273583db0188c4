#pragma once
// The RAII layer over libpq for a report database on a PostgreSQL server, in the shape of the
// SQLite layer (quorvel/utils/sqlite_db.h) so that one store's statements read the same on both:
// statements are written with SQLite's numbered parameters (?1, ?2, ...), prepared once per
// connection, with bound parameters only; NaN is stored as NULL; every failure names the database
// (its URL without the password) and the server's reason, followed by what the operator can do. A
// lock or serialisation conflict is a DatabaseBusy, so callers can retry it; a lost connection is
// a ConnectionLost and the connection is made again by the next statement.
//
// Thread-safety: none. A Database and its statements belong to one thread at a time.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/utils/sqlite_db.h"

struct pg_conn;
struct pg_result;

namespace quorvel::pg {

using sqlite::DatabaseBusy;

// The connection to the server broke (the server stopped or restarted, the network failed) or could
// not be made again. What was under way outside a transaction may be done again once the server
// answers; a transaction's work is gone with its connection.
class ConnectionLost : public RuntimeError {
 public:
  using RuntimeError::RuntimeError;
};

// "postgresql://user@host:port/db" of a connection URL or key=value string: what a log line may
// show (never the password). Throws ValueError for text libpq cannot read.
std::string describe_url(const std::string& url);

struct OpenOptions {
  std::string label = "数据库";  // how messages name the database ("报告数据库")
  int connect_timeout_s = 10;    // per connection attempt
  int lock_timeout_ms = 15000;   // how long a statement waits for another connection's row lock
};

class Database;

// A prepared statement: bind, then step() through the rows. Parameters are 1-based, columns
// 0-based, as in SQLite.
class Statement {
 public:
  Statement(Database& db, std::string_view sql);
  Statement(Statement&& other) noexcept;
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, std::string_view text);  // a ValueError for text with a NUL character
  Statement& bind(int index, std::int64_t value);
  Statement& bind(int index, double value);  // NaN is stored as NULL
  Statement& bind_null(int index);
  Statement& bind_optional(int index, const std::optional<std::string>& text);
  Statement& bind_blob(int index, std::span<const std::byte> bytes);

  // Runs the statement on the first call after binding, then advances to its next row; false when
  // the statement has no (more) rows.
  bool step();
  void run();
  // Ready to run again with new parameters.
  void reset();
  // Rows the statement changed (INSERT, UPDATE, DELETE), after it ran.
  std::int64_t changes() const;

  bool is_null(int column) const;
  std::string text(int column) const;  // NULL reads as ""
  std::optional<std::string> optional_text(int column) const;
  std::int64_t integer(int column) const;
  double real(int column) const;  // NULL reads as NaN
  std::vector<std::byte> blob(int column) const;

 private:
  struct Param {
    std::optional<std::string> value;  // nullopt: NULL
    bool binary = false;
  };
  void execute();
  void set_param(int index, std::optional<std::string> value, bool binary);

  Database* db_;
  std::string sql_;               // with PostgreSQL's parameters
  std::vector<unsigned> types_;   // per parameter: 0 (the server infers it) or text for one unused
  std::vector<Param> params_;
  pg_result* result_ = nullptr;
  int row_ = -1;
  bool executed_ = false;
};

class Database {
 public:
  // Connects to `url` (a postgresql:// URL or libpq key=value text). Throws RuntimeError naming the
  // database and what to check when the server cannot be reached or refuses the login.
  Database(std::string url, OpenOptions options);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void exec(std::string_view sql);
  Statement prepare(std::string_view sql) { return Statement(*this, sql); }
  const std::string& shown_url() const { return shown_; }

  // Throws for the failed `result` (or the connection's error when null) met while doing `context`.
  [[noreturn]] void fail(const pg_result* result, std::string_view context);

 private:
  friend class Statement;
  friend class Transaction;
  // The open connection; a lost one is made again, except inside a transaction (whose work it
  // took with it: that is an error for the caller).
  pg_conn* connection();
  // The name of the statement prepared for `sql` on this connection (prepared on first use).
  std::string prepared(const std::string& sql, const std::vector<unsigned>& types);
  void connect();

  std::string url_, shown_;
  OpenOptions options_;
  pg_conn* conn_ = nullptr;
  bool in_transaction_ = false;
  std::map<std::string, std::string> prepared_;  // SQL text -> statement name, on this connection
};

// A session-level advisory lock named by `name`, on a connection of its own (made when
// constructed). Once taken it is held until destroyed; a holder that dies frees it with its
// connection: at once when its process ends, within about half a minute (TCP keepalives) when its
// machine vanishes from the network.
class AdvisoryLock {
 public:
  AdvisoryLock(const std::string& url, std::string name, OpenOptions options);
  AdvisoryLock(const AdvisoryLock&) = delete;
  AdvisoryLock& operator=(const AdvisoryLock&) = delete;
  // Takes the lock unless another session holds it, without waiting; true when held.
  bool try_take();

 private:
  Database db_;
  std::string name_;
  bool held_ = false;
};

// BEGIN ... COMMIT; rolled back when destroyed before commit(). Unlike SQLite's BEGIN IMMEDIATE
// it takes no write lock up front (READ COMMITTED): a read-then-write claim must lock its rows
// (SELECT ... FOR UPDATE, INSERT ... ON CONFLICT) itself. Transactions do not nest: a second one on
// the same connection is a RuntimeError, and commit() after a failed statement throws (the server
// rolled the transaction back).
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

// A statement written with SQLite's numbered parameters (?1 ...) in PostgreSQL's ($1 ...): rewritten
// outside quoted text, quoted identifiers, E'' strings, dollar-quoted text and comments. `used[i]`
// says whether parameter i + 1 appears (one that does not is declared as text, so that a statement
// may skip a number). A ValueError for a parameter number beyond 65535.
struct PostgresSql {
  std::string text;
  std::vector<bool> used;
};
PostgresSql postgres_parameters(std::string_view sql);

}  // namespace quorvel::pg
