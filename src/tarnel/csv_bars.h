#pragma once
// Reading daily bars and instrument lists from CSV files.
//
// Bars: header "date,open,high,low,close,volume,amount" (a UTF-8 byte-order mark and CRLF line ends
// are accepted); amount may be empty. A row is rejected, with its file and line, when a field is
// missing or not a finite number, the date is malformed or repeated, a price is not positive,
// high < low, or volume/amount is negative. Accepted rows come back sorted by date.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "contracts/bar_table.h"

namespace tarnel {

struct BarRow {
  Date date;
  double open, high, low, close, volume, amount;  // amount NaN when the source has none
};

// Why the values cannot be a daily bar (non-finite or non-positive price, high < low, open or close
// outside [low, high], negative volume or amount, infinite amount), or empty when they can.
std::string bar_values_problem(const BarRow& row);

struct CsvBars {
  std::vector<BarRow> rows;
  std::vector<std::string> rejected;  // "file:line: reason"
};

// A quorvel::RuntimeError when the file cannot be read or its header is wrong.
CsvBars read_bar_csv(const std::filesystem::path& file);
CsvBars parse_bar_csv(const std::string& text, const std::string& source_name);

// One instrument of an instruments file. The header names the columns: code, name, market and kind
// are required, file and lot optional, in any order; a row may leave out trailing columns. `file` is
// relative to the instruments file's folder and may be empty.
struct InstrumentEntry {
  std::string code;  // canonical
  std::string name;
  std::string market;  // A, HK, US, ETF
  std::string kind;    // stock, index, etf
  std::string file;
  std::optional<int> lot = std::nullopt;  // shares per board lot; unknown when absent
};

struct InstrumentList {
  std::vector<InstrumentEntry> entries;
  std::vector<std::string> rejected;
};

// A quorvel::RuntimeError when the file cannot be read or its header lacks a required column or
// names an unknown one; a bad row is rejected with its file and line.
InstrumentList read_instrument_csv(const std::filesystem::path& file);
// The same from the file's text; `source_name` stands for the file in the messages.
InstrumentList parse_instrument_csv(const std::string& text, const std::string& source_name);

// Splits one CSV line on commas; fields in double quotes may hold commas and doubled quotes.
std::vector<std::string> split_csv_line(const std::string& line);

}  // namespace tarnel
