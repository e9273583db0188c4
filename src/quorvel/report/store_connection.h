#pragma once
// The report store's database, whichever engine holds it: SQLite (reports.sqlite3 in the report
// directory, for one machine) or PostgreSQL (a server that several machines share, chosen by
// REPORT_DB_URL). The store writes each statement once, in SQL both engines read: numbered
// parameters (?1, ?2, ...), INSERT ... ON CONFLICT, RETURNING. What differs is asked of the
// connection: the schema and its upgrades (made when it opens), how a claim keeps other claimers
// out, reading a member of a JSON column, and how durable a bookkeeping commit must be.
//
// Thread-safety: none; the store guards its one connection.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::report {

struct StoreOptions;

namespace store {

// A prepared statement of either engine. Parameters are 1-based, columns 0-based.
class Statement {
 public:
  struct Engine {
    virtual ~Engine() = default;
    virtual void bind(int index, std::string_view text) = 0;
    virtual void bind(int index, std::int64_t value) = 0;
    virtual void bind(int index, double value) = 0;  // NaN is stored as NULL
    virtual void bind_null(int index) = 0;
    virtual bool step() = 0;
    virtual void reset() = 0;
    virtual std::int64_t changes() const = 0;
    virtual bool is_null(int column) const = 0;
    virtual std::string text(int column) const = 0;  // NULL reads as ""
    virtual std::int64_t integer(int column) const = 0;
    virtual double real(int column) const = 0;
  };
  explicit Statement(std::unique_ptr<Engine> engine) : engine_(std::move(engine)) {}

  Statement& bind(int index, std::string_view text) { return engine_->bind(index, text), *this; }
  Statement& bind(int index, const std::string& text) { return bind(index, std::string_view(text)); }
  Statement& bind(int index, const char* text) { return bind(index, std::string_view(text)); }
  Statement& bind(int index, std::int64_t value) { return engine_->bind(index, value), *this; }
  Statement& bind(int index, double value) { return engine_->bind(index, value), *this; }
  Statement& bind_null(int index) { return engine_->bind_null(index), *this; }
  Statement& bind_optional(int index, const std::optional<std::string>& text) {
    return text ? bind(index, std::string_view(*text)) : bind_null(index);
  }
  // Runs the statement on the first call after binding, then advances to its next row; false when
  // it has no (more) rows.
  bool step() { return engine_->step(); }
  void run() {
    while (step()) {
    }
  }
  void reset() { engine_->reset(); }
  // Rows the statement changed, after it ran.
  std::int64_t changes() const { return engine_->changes(); }

  bool is_null(int column) const { return engine_->is_null(column); }
  std::string text(int column) const { return engine_->text(column); }
  std::optional<std::string> optional_text(int column) const {
    return is_null(column) ? std::nullopt : std::optional<std::string>(text(column));
  }
  std::int64_t integer(int column) const { return engine_->integer(column); }
  double real(int column) const { return engine_->real(column); }

 private:
  std::unique_ptr<Engine> engine_;
};

class Connection {
 public:
  virtual ~Connection() = default;
  virtual Statement prepare(std::string_view sql) = 0;

  // A write transaction. SQLite takes the database's write lock at once, so every claim made in it
  // is exclusive; PostgreSQL locks rows as statements touch them.
  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() noexcept = 0;
  // Inside a transaction: no other claimer reads or writes `table` until it ends, for a claim that
  // reads a row before it writes it (a row that does not exist yet cannot be locked).
  virtual void lock_for_claims(std::string_view table) = 0;
  // What a SELECT appends so that concurrent claimers take different rows and never wait on each
  // other's (empty where the write transaction already excludes them).
  virtual std::string_view skip_locked() const = 0;
  // An expression for the text of member `key` of the JSON text in `column`; NULL when the column
  // is NULL, holds no such member or is not JSON at all.
  virtual std::string json_member(std::string_view column, std::string_view key) const = 0;
  // While on, commits are durable against a crash of the process but may lose their last moments
  // to a power cut: for bookkeeping whose loss is harmless and can be redone.
  virtual void relax_sync(bool on) = 0;
  // Runs `work` (a whole operation, with its own transaction if it needs one). When the connection
  // to a database server breaks, it waits for the server, for up to the store's wait, and runs
  // `work` again with `retried` set, so work must find out what its earlier run already did.
  virtual void run(const std::function<void(bool retried)>& work) = 0;
  // Now, in ms since 1970 UTC, for leases that other processes compare: the clock of the database
  // server when machines share it (their own clocks may disagree), else this process's clock.
  virtual std::int64_t now_ms() = 0;
  // The database for messages: its file, or its URL without the password.
  virtual const std::string& describe() const = 0;
  virtual bool shared() const = 0;  // a server other machines may use as well
};

// Open the store's database and create or upgrade its schema unless options.read_only: the SQLite
// file in options.directory, or the PostgreSQL database of options.database_url. Throw RuntimeError
// naming the database and what to check.
std::unique_ptr<Connection> open_sqlite_connection(const StoreOptions& options);
std::unique_ptr<Connection> open_postgres_connection(const StoreOptions& options);

// BEGIN ... COMMIT; rolled back when destroyed before commit().
class Transaction {
 public:
  explicit Transaction(Connection& db) : db_(db) { db_.begin(); }
  ~Transaction() {
    if (!done_) db_.rollback();
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit() {
    db_.commit();
    done_ = true;
  }

 private:
  Connection& db_;
  bool done_ = false;
};

// Connection::relax_sync for as long as it lives.
class RelaxedSync {
 public:
  explicit RelaxedSync(Connection& db) : db_(db) { db_.relax_sync(true); }
  ~RelaxedSync() { db_.relax_sync(false); }
  RelaxedSync(const RelaxedSync&) = delete;
  RelaxedSync& operator=(const RelaxedSync&) = delete;

 private:
  Connection& db_;
};

}  // namespace store
}  // namespace quorvel::report
