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

// An instruments file ("code,name,market,kind[,file]") and every bar file it names, relative to
// its folder.
ImportReport import_instrument_file(BarStore& store, const std::filesystem::path& instruments_csv);

// A data folder: <dir>/instruments.csv with its bar files and <dir>/calendars/*_trading_days.csv.
// Everything in one transaction. A RuntimeError when the folder or a listed file cannot be read.
ImportReport import_data_dir(BarStore& store, const std::filesystem::path& dir);

// Loads the bundled data folder when the store holds no instrument yet; true when it loaded.
// Safe against another process doing the same at the same moment.
bool load_bundled_if_empty(BarStore& store, const std::filesystem::path& data_dir);

}  // namespace tarnel
