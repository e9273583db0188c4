#pragma once
// Loading CSV data into the bar store. Each call writes in one transaction: a file's accepted rows
// land together or not at all; rejected rows are reported with file and line and skipped.
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "tarnel/bar_store.h"

namespace tarnel {

struct ImportReport {
  std::size_t files = 0;
  std::size_t instruments = 0;
  std::size_t rows_loaded = 0;
  std::size_t rows_rejected = 0;
  std::vector<std::string> messages;  // one line per rejected row or file
};

// Bars of one instrument from a CSV file. An instrument not yet in the store is added with an
// empty name and the market of its code.
ImportReport import_bar_file(BarStore& store, const std::string& code, const std::filesystem::path& file);

// An instruments file (columns code, name, market, kind and the optional file and lot; see
// read_instrument_csv) and every bar file it names, relative to its folder. A row without a lot
// keeps the lot the store already has for the instrument.
ImportReport import_instrument_file(BarStore& store, const std::filesystem::path& instruments_csv);

// A data folder: <dir>/instruments.csv with its bar files and <dir>/calendars/*_trading_days.csv.
// Everything in one transaction. A RuntimeError when the folder or a listed file cannot be read.
ImportReport import_data_dir(BarStore& store, const std::filesystem::path& dir);

// Adds the trading-day lists of <data_dir>/calendars whose file differs from the one the store last
// read (a newer checkout may extend a list); days are only ever added.
void refresh_bundled_calendars(BarStore& store, const std::filesystem::path& data_dir);

// Loads each instrument of the bundled data folder that the store has never received from it (an
// import of other files does not keep the bundled set out), with the trading calendars; an
// instrument the store once got from the bundle is not loaded again, even when removed since. An
// instrument already stored without a lot takes the bundle's lot.
// Returns the number of instruments loaded. Safe against another process doing the same at the
// same moment. The trading calendars are refreshed first (refresh_bundled_calendars).
std::size_t load_missing_bundled(BarStore& store, const std::filesystem::path& data_dir);

}  // namespace tarnel
