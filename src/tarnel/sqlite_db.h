#pragma once
// A thin RAII layer over SQLite: one connection, prepared statements with bound parameters only.
// A connection is used by one thread at a time.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

namespace tarnel {

class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& other) noexcept : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)) {}
  Statement& operator=(Statement&&) = delete;

  Statement& bind(int index, std::string_view text);
  Statement& bind(int index, int64_t value);
  Statement& bind(int index, double value);  // NaN is stored as NULL
  // Advances to the next row; false when done. A RuntimeError on failure.
  bool step();
  void reset();

  int64_t int_at(int col) const;
  double real_at(int col) const;    // NULL reads as NaN
  double double_at(int col) const;  // for NOT NULL columns
  std::string text_at(int col) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class Database {
 public:
  // Opens (creating when asked) the database in WAL mode with a busy timeout.
  Database(const std::filesystem::path& file, bool create);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void exec(std::string_view sql);
  Statement prepare(std::string_view sql) { return Statement(db_, sql); }
  const std::filesystem::path& file() const { return file_; }

 private:
  std::filesystem::path file_;
  sqlite3* db_ = nullptr;
};

// Runs a write transaction (BEGIN IMMEDIATE); rolls back unless commit() was called.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  void commit();

 private:
  Database& db_;
  bool done_ = false;
};

}  // namespace tarnel
