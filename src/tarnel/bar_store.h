#pragma once
// The local bar store: instruments, daily bars and trading calendars in one SQLite file.
// Volume in shares, amount and prices in the quote currency; dates are stored as day numbers.
// One BarStore is one connection: use it from one thread at a time (open one per thread).
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "contracts/bar_table.h"
#include "tarnel/csv_bars.h"
#include "tarnel/sqlite_db.h"

namespace tarnel {

class BarStore {
 public:
  // Opens the store, creating the file and its tables when missing.
  explicit BarStore(const std::filesystem::path& file);
  ~BarStore();

  Database& db() { return db_; }

  // Writes go inside a Transaction(db()) held by the caller.
  void upsert_instrument(const InstrumentEntry& entry);
  std::size_t upsert_bars(const std::string& code, const std::vector<BarRow>& rows);
  void add_calendar_days(const std::string& market, const std::vector<Date>& days);
  // Whether the instrument once came from the bundled data set, and the mark that it did.
  bool bundled_received(const std::string& code);
  void mark_bundled_received(const std::string& code);

  std::size_t instrument_count();
  std::optional<InstrumentEntry> instrument(const std::string& code);
  std::vector<InstrumentEntry> instruments();
  // Bars of `code` with dates in [first, last], oldest first; empty when there are none.
  BarTable load(const std::string& code, Date first, Date last);
  std::vector<Date> calendar_days(const std::string& market);
  // Bar dates of every instrument of a market and kind (index dates extend the calendars).
  std::vector<Date> bar_dates(const std::string& market, const std::string& kind);

 private:
  Database db_;
  std::unique_ptr<Statement> load_stmt_;
  std::unique_ptr<Statement> instrument_stmt_;
};

// The store file: $TARNEL_CENTER/tarnel.sqlite, else <project root>/tarnel.sqlite.
std::filesystem::path default_store_path();

}  // namespace tarnel
