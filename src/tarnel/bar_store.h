#pragma once
// The local bar store: instruments, daily bars and trading calendars in one SQLite file.
// Volume in shares, amount and prices in the quote currency; dates are stored as day numbers.
// One BarStore is one connection: use it from one thread at a time (open one per thread).
//
// `bars` (one row per bar) is the record. Each instrument's series is also kept packed in one row
// of `series_columns` (bar_columns.h), so that a whole market loads at memory speed. Triggers on
// `bars` drop an instrument's packed copy in the very statement that changes its rows, whoever
// writes, and list it in `unpacked_series`; this store packs it again in the same transaction, and
// an open packs what other writers left (and, once, every instrument of a store made before).
// A read without a packed copy takes the rows, so a packed copy is never stale.
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "contracts/bar_table.h"
#include "tarnel/csv_bars.h"
#include "quorvel/utils/sqlite_db.h"

namespace tarnel {

using quorvel::sqlite::Database;
using quorvel::sqlite::Statement;
using quorvel::sqlite::Transaction;

// How the bar store and the files beside it (the screen ranking) are opened: WAL, a 30 s busy
// timeout, and advice that points at TARNEL_CENTER.
quorvel::sqlite::OpenOptions market_db_options(bool create);

// Where the bars of one instrument came from and what they are. All bars of an instrument carry one
// price adjustment: a provider's series replaces bars of another origin instead of mixing with them.
struct SeriesInfo {
  std::string code;
  std::string source;      // provider name ("eastmoney", "tencent"), "bundled" or "import"
  std::string adjustment;  // "none", "qfq" (forward), "hfq" (backward), "unknown" for imported files
  std::string symbol;      // the provider's own identifier of the instrument ("105.AAPL"); may be empty
  // Days the source was asked about and answered for: a day inside without a bar has none there
  // (suspension, not yet listed). Absent for imported series.
  std::optional<Date> checked_first, checked_last;
  // Whether the bars confirmed the volume unit (amount ≈ close × volume); false for index series,
  // series without amounts and imported ones, whose volumes are in the source's documented unit.
  bool volume_checked = false;
  // What the source's volumes (in its documented unit) were multiplied by to store shares: 100 when
  // its amounts showed it counted lots, 0.01 for the reverse, else 1. Every stored row of the series
  // carries the same factor, so an extension applies it too.
  double volume_scale = 1.0;
};

class BarStore {
 public:
  // Opens the store, creating the file and its tables when missing; a store written by an earlier
  // version gains the columns added since (its rows keep their values, the new columns stay NULL).
  explicit BarStore(const std::filesystem::path& file);
  ~BarStore();

  Database& db() { return db_; }

  // Writes go inside a Transaction(db()) held by the caller.
  // An entry without a lot keeps the lot already stored for the instrument.
  void upsert_instrument(const InstrumentEntry& entry);
  // Prices are rounded to the batch's price precision first (see price_precision.h). The packed
  // copy of the instrument is written anew in the same transaction (so is it after delete_bars).
  std::size_t upsert_bars(const std::string& code, const std::vector<BarRow>& rows);
  void add_calendar_days(const std::string& market, const std::vector<Date>& days);
  // Removes every bar of the instrument (before writing a series of another origin).
  void delete_bars(const std::string& code);
  void put_series(const SeriesInfo& info);
  // A small key/value table for one-time migrations and file fingerprints.
  void set_meta(const std::string& key, const std::string& value);
  // Whether the instrument once came from the bundled data set, and the mark that it did.
  bool bundled_received(const std::string& code);
  void mark_bundled_received(const std::string& code);

  std::size_t instrument_count();
  std::optional<InstrumentEntry> instrument(const std::string& code);
  std::vector<InstrumentEntry> instruments();
  // Bars of `code` with dates in [first, last], oldest first; empty when there are none.
  BarTable load(const std::string& code, Date first, Date last);
  // Dates of the instrument's bars in [first, last], oldest first.
  std::vector<Date> bar_days(const std::string& code, Date first, Date last);
  std::optional<SeriesInfo> series(const std::string& code);
  std::optional<std::string> meta(const std::string& key);
  std::vector<Date> calendar_days(const std::string& market);
  // Bar dates of every instrument of a market and kind (index dates extend the calendars).
  std::vector<Date> bar_dates(const std::string& market, const std::string& kind);

 private:
  // Rounds away float noise in prices stored before rounding on write existed; runs once per store.
  void clean_price_noise_once();
  // Packs the instruments listed in unpacked_series (every instrument when the store's packed copies
  // are missing or of another format), unless another process holds the store for writing.
  void pack_unpacked_series();
  // Writes the packed copy of the instrument's stored rows (removes it when there are none).
  void pack_series(const std::string& code);
  // Bars of `code` in [first, last] read from the row-per-bar table.
  BarTable load_rows(const std::string& code, Date first, Date last);

  Database db_;
  std::unique_ptr<Statement> load_stmt_;
  std::unique_ptr<Statement> packed_stmt_;
  std::unique_ptr<Statement> instrument_stmt_;
  std::unique_ptr<Statement> series_stmt_;
};

// The store file: tarnel.sqlite in the data root ($TARNEL_CENTER, else the project root).
std::filesystem::path default_store_path();

}  // namespace tarnel
