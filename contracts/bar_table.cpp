#include "contracts/bar_table.h"

#include <algorithm>

#include <fmt/format.h>

#include "contracts/errors.h"

namespace tarnel {

std::string date_text(Date d) {
  const date::year_month_day ymd{d};
  return fmt::format("{:04d}-{:02d}-{:02d}", int(ymd.year()), unsigned(ymd.month()), unsigned(ymd.day()));
}

const std::vector<std::string>& BarTable::base_columns() {
  static const std::vector<std::string> names{"open", "high", "low", "close", "volume", "amount"};
  return names;
}

BarTable BarTable::with_base_columns() {
  BarTable t;
  for (const auto& name : base_columns()) t.columns_.push_back({name, {}});
  return t;
}

std::string BarTable::last_date() const {
  if (index_.empty()) throw quorvel::RuntimeError("行情表没有数据行，无法读取最后日期");
  return date_text(index_.back());
}

const BarTable::Column* BarTable::find(std::string_view name) const {
  for (const auto& c : columns_)
    if (c.name == name) return &c;
  return nullptr;
}

BarTable::Column* BarTable::find(std::string_view name) {
  return const_cast<Column*>(std::as_const(*this).find(name));
}

bool BarTable::has_column(std::string_view name) const { return find(name) != nullptr; }

std::vector<std::string> BarTable::column_names() const {
  std::vector<std::string> names;
  names.reserve(columns_.size());
  for (const auto& c : columns_) names.push_back(c.name);
  return names;
}

const std::vector<double>& BarTable::column(std::string_view name) const {
  if (const Column* c = find(name)) return c->values;
  throw quorvel::RuntimeError(fmt::format("行情表缺少列: {}", name));
}

std::vector<double>& BarTable::column(std::string_view name) {
  return const_cast<std::vector<double>&>(std::as_const(*this).column(name));
}

double BarTable::last(std::string_view name) const {
  const auto& values = column(name);
  if (values.empty()) throw quorvel::RuntimeError(fmt::format("行情表没有数据行，无法读取列 {} 的最后一个值", name));
  return values.back();
}

void BarTable::set_column(const std::string& name, std::vector<double> values) {
  if (values.size() != index_.size())
    throw quorvel::ValueError(fmt::format("列 {} 的长度 {} 与行数 {} 不一致", name, values.size(), index_.size()));
  if (Column* c = find(name)) {
    c->values = std::move(values);
  } else {
    columns_.push_back({name, std::move(values)});
  }
}

void BarTable::append_row(Date date, const std::vector<double>& values) {
  if (values.size() != columns_.size())
    throw quorvel::ValueError(fmt::format("行的取值个数 {} 与列数 {} 不一致", values.size(), columns_.size()));
  index_.push_back(date);
  for (std::size_t i = 0; i < columns_.size(); ++i) columns_[i].values.push_back(values[i]);
}

void BarTable::reserve(std::size_t rows) {
  index_.reserve(rows);
  for (auto& c : columns_) c.values.reserve(rows);
}

BarTable BarTable::rows_between(std::size_t begin, std::size_t end) const {
  BarTable t;
  t.index_.assign(index_.begin() + begin, index_.begin() + end);
  t.columns_.reserve(columns_.size());
  for (const auto& c : columns_)
    t.columns_.push_back({c.name, std::vector<double>(c.values.begin() + begin, c.values.begin() + end)});
  t.adjustments_ = adjustments_;
  return t;
}

BarTable BarTable::tail(std::size_t n) const {
  const std::size_t begin = rows() > n ? rows() - n : 0;
  return rows_between(begin, rows());
}

BarTable BarTable::slice(Date first, Date last) const {
  const auto lo = std::lower_bound(index_.begin(), index_.end(), first);
  const auto hi = std::upper_bound(index_.begin(), index_.end(), last);
  if (hi <= lo) return rows_between(0, 0);
  return rows_between(std::size_t(lo - index_.begin()), std::size_t(hi - index_.begin()));
}

}  // namespace tarnel
