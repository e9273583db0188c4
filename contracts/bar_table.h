#pragma once
// The bar table: the bars of one instrument, oldest first, one row per bar, indexed by the bar's
// trading date. Columns are named vectors of doubles in insertion order ("open", "high", "low",
// "close", "volume", "amount", then indicator columns); a missing value is NaN.
//
// Prices are in the quote currency, volume in shares, amount in the quote currency.
// Value semantics: copying a table copies its data. Not thread-safe for concurrent mutation;
// concurrent reads of one table are fine.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <date/date.h>

namespace tarnel {

using Date = date::sys_days;

// "YYYY-MM-DD" of a date.
std::string date_text(Date d);

class BarTable {
 public:
  // A split or bonus issue the reader adjusted a raw series for: the bars before `date` had their
  // prices divided by `ratio` and their volume multiplied by it (amounts unchanged).
  struct Adjustment {
    Date date;
    double ratio = 1.0;
    bool operator==(const Adjustment&) const = default;
  };

  // The base columns every stored table carries, in this order.
  static const std::vector<std::string>& base_columns();

  BarTable() = default;
  // An empty table with the base columns.
  static BarTable with_base_columns();

  std::size_t rows() const { return index_.size(); }
  bool empty() const { return index_.empty(); }

  const std::vector<Date>& index() const { return index_; }
  std::string date_at(std::size_t row) const { return date_text(index_.at(row)); }
  std::string last_date() const;

  bool has_column(std::string_view name) const;
  std::vector<std::string> column_names() const;
  // The column's values; a RuntimeError naming the column when it does not exist.
  const std::vector<double>& column(std::string_view name) const;
  std::vector<double>& column(std::string_view name);
  // Value of the column in the last row; a RuntimeError when the table has no rows or no such column.
  double last(std::string_view name) const;
  double at(std::string_view name, std::size_t row) const { return column(name).at(row); }

  // Adds the column, or replaces it when it exists; the length must equal the row count.
  void set_column(const std::string& name, std::vector<double> values);

  // Appends one row; `values` follow column_names() order and must have one value per column.
  void append_row(Date date, const std::vector<double>& values);
  void reserve(std::size_t rows);

  // The last n rows (all rows when n is larger), as a new table.
  BarTable tail(std::size_t n) const;
  // Rows whose date lies in [first, last], as a new table.
  BarTable slice(Date first, Date last) const;

  // The adjustments made to the table's bars when it was read, oldest first (kept by tail and slice).
  const std::vector<Adjustment>& adjustments() const { return adjustments_; }
  void set_adjustments(std::vector<Adjustment> adjustments) { adjustments_ = std::move(adjustments); }

  bool operator==(const BarTable&) const = default;

 private:
  struct Column {
    std::string name;
    std::vector<double> values;
    bool operator==(const Column&) const = default;
  };
  const Column* find(std::string_view name) const;
  Column* find(std::string_view name);
  BarTable rows_between(std::size_t begin, std::size_t end) const;

  std::vector<Date> index_;
  std::vector<Column> columns_;
  std::vector<Adjustment> adjustments_;
};

}  // namespace tarnel
