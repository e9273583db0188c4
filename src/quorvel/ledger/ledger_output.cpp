#include "quorvel/ledger/ledger_output.h"

#include <algorithm>
#include <map>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "quorvel/utils/number_text.h"
#include "quorvel/utils/outside_text.h"
#include "quorvel/utils/table_text.h"

namespace quorvel::ledger {

namespace {

using Json = nlohmann::ordered_json;

enum class Unit { count, r, rate, percent, sessions };

// One figure of a row: its CSV/JSON key, its table heading and its value in the report's terms.
struct Field {
  const char* key;
  const char* head;
  Unit unit;
  std::optional<double> value;
};

int decimals(Unit u) { return u == Unit::count ? 0 : u == Unit::rate || u == Unit::sessions ? 1 : 2; }

// The value as shown: rates become percent; rounded half to even. Adding 0 turns -0 into 0.
std::optional<double> shown_value(const Field& f) {
  if (!f.value) return std::nullopt;
  return round_half_even(f.unit == Unit::rate ? *f.value * 100 : *f.value, decimals(f.unit)) + 0.0;
}

std::string plain_text(const Field& f) {
  const auto v = shown_value(f);
  return v ? fmt::format("{:.{}f}", *v, decimals(f.unit)) : "";
}

std::string table_text(const Field& f) {
  const std::string text = plain_text(f);
  if (text.empty()) return "-";
  return f.unit == Unit::rate || f.unit == Unit::percent ? text + "%" : text;
}

Json json_value(const Field& f) {
  const auto v = shown_value(f);
  if (!v) return nullptr;
  if (f.unit == Unit::count) return static_cast<long long>(*v);
  return *v;
}

std::optional<double> count(int n) { return double(n); }

std::vector<Field> group_fields(const GroupStats& g) {
  return {{"plans", "计划", Unit::count, count(g.plans)},
          {"filled", "成交", Unit::count, count(g.filled)},
          {"not_filled", "未成交", Unit::count, count(g.not_filled)},
          {"hit_rate_pct", "胜率", Unit::rate, g.hit_rate},
          {"mean_r", "平均R", Unit::r, g.mean_r},
          {"median_r", "中位R", Unit::r, g.median_r},
          {"expectancy_r", "期望R", Unit::r, g.expectancy_r},
          {"mean_sessions_held", "平均持有", Unit::sessions, g.mean_sessions_held},
          {"target_1_pct", "达目标1", Unit::rate, g.target_1_rate},
          {"waits", "观望", Unit::count, count(g.waits)},
          {"wait_return_pct", "观望后收益", Unit::percent, g.wait_return_pct},
          {"wait_right_pct", "观望正确", Unit::rate, g.wait_right_rate}};
}

std::vector<Field> trade_fields(const TradeSummary& t) {
  return {{"filled", "笔数", Unit::count, count(t.count)},
          {"hit_rate_pct", "胜率", Unit::rate, t.hit_rate},
          {"mean_r", "平均R", Unit::r, t.mean_r}};
}

std::vector<Field> calibration_fields(const CalibrationRow& c) {
  return {{"filled", "成交", Unit::count, count(c.filled)},
          {"winners", "盈利", Unit::count, count(c.winners)},
          {"hit_rate_pct", "胜率", Unit::rate, c.hit_rate},
          {"ci_low_pct", "区间下限", Unit::rate, c.interval ? std::optional(c.interval->low) : std::nullopt},
          {"ci_high_pct", "区间上限", Unit::rate, c.interval ? std::optional(c.interval->high) : std::nullopt}};
}

// ---- table

const std::map<std::string, std::string>& labels() {
  static const std::map<std::string, std::string> m{
      {"overall", "全部"},      {"market", "市场"}, {"action", "操作"},     {"confidence", "置信度"},
      {"strategy_mode", "策略模式"}, {"bias", "市场倾向"}, {"check", "计划核验"}, {"A", "A股"},
      {"HK", "港股"},           {"US", "美股"}};
  return m;
}

std::string label(const std::string& key) {
  const auto it = labels().find(key);
  return it != labels().end() ? it->second : key;
}

// A group value as shown: market codes in words, outside text on one line, "未知" when empty.
std::string value_label(const GroupStats& g) {
  if (g.dimension == "overall") return "-";
  if (g.value.empty()) return "未知";
  if (g.dimension == "market") return label(g.value);
  return cell_text(g.value);
}

// The first row is the head.
void aligned(std::ostream& out, std::vector<std::vector<std::string>> rows) {
  const std::vector<std::string> head = std::move(rows.front());
  rows.erase(rows.begin());
  print_aligned_table(out, head, rows);
}

std::vector<std::string> heads(std::vector<std::string> first, const std::vector<Field>& fields) {
  for (const Field& f : fields) first.push_back(f.head);
  return first;
}

std::vector<std::string> cells(std::vector<std::string> first, const std::vector<Field>& fields) {
  for (const Field& f : fields) first.push_back(table_text(f));
  return first;
}

void print_table(std::ostream& out, const LedgerReport& r) {
  std::vector<std::vector<std::string>> rows{heads({"维度", "分组"}, group_fields(GroupStats{}))};
  for (std::size_t i = 0; i < r.groups.size(); ++i) {
    const GroupStats& g = r.groups[i];
    const bool first = i == 0 || r.groups[i - 1].dimension != g.dimension;
    rows.push_back(cells({first ? label(g.dimension) : "", value_label(g)}, group_fields(g)));
  }
  out << "分组统计（R = 已成交买入的盈亏 / 入场至止损的距离；观望后收益 = 分析日收盘至期满收盘）\n";
  aligned(out, rows);

  out << "\n基准对比（同一批买入标的日：次日开盘入场，止损与目标按 ATR 距离，共 " << r.baseline.days << " 个）\n";
  aligned(out, {heads({"入场"}, trade_fields({})), cells({"计划"}, trade_fields(r.baseline.plan)),
                cells({"基准"}, trade_fields(r.baseline.naive))});

  out << "\n置信度校准（已成交买入的胜率，95% Wilson 区间）\n";
  std::vector<std::vector<std::string>> calib{{"置信度", "成交", "盈利", "胜率", "95%区间"}};
  for (const CalibrationRow& c : r.calibration) {
    const auto f = calibration_fields(c);
    const std::string interval = c.interval ? table_text(f[3]) + "~" + table_text(f[4]) : "-";
    calib.push_back({c.confidence, table_text(f[0]), table_text(f[1]), table_text(f[2]), interval});
  }
  aligned(out, calib);
}

// ---- csv

const std::vector<std::string>& csv_keys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> k{"dimension", "value"};
    for (const Field& f : group_fields(GroupStats{})) k.push_back(f.key);
    for (const char* extra : {"winners", "ci_low_pct", "ci_high_pct"}) k.push_back(extra);
    return k;
  }();
  return keys;
}

void csv_row(std::ostream& out, const std::string& dimension, const std::string& value, const std::vector<Field>& fields) {
  std::string line = csv_field(dimension) + "," + csv_field(value);
  for (std::size_t k = 2; k < csv_keys().size(); ++k) {
    const auto f = std::find_if(fields.begin(), fields.end(), [&](const Field& x) { return x.key == csv_keys()[k]; });
    line += "," + (f == fields.end() ? std::string() : plain_text(*f));
  }
  out << line << "\n";
}

void print_csv(std::ostream& out, const LedgerReport& r) {
  std::string head;
  for (const auto& k : csv_keys()) head += (head.empty() ? "" : ",") + k;
  out << head << "\n";
  for (const GroupStats& g : r.groups) csv_row(out, g.dimension, g.value, group_fields(g));
  auto baseline = [&](const char* side, const TradeSummary& t) {
    std::vector<Field> fields = trade_fields(t);
    fields.push_back({"plans", "", Unit::count, count(r.baseline.days)});
    csv_row(out, "baseline", side, fields);
  };
  baseline("plan", r.baseline.plan);
  baseline("naive", r.baseline.naive);
  for (const CalibrationRow& c : r.calibration) csv_row(out, "calibration", c.confidence, calibration_fields(c));
}

// ---- json

Json json_object(Json head, const std::vector<Field>& fields) {
  for (const Field& f : fields) head[f.key] = json_value(f);
  return head;
}

void print_json(std::ostream& out, const LedgerReport& r) {
  Json groups = Json::array(), calibration = Json::array();
  for (const GroupStats& g : r.groups)
    groups.push_back(json_object({{"dimension", g.dimension}, {"value", outside_text(g.value)}}, group_fields(g)));
  for (const CalibrationRow& c : r.calibration)
    calibration.push_back(json_object({{"confidence", c.confidence}}, calibration_fields(c)));
  const Json baseline{{"days", r.baseline.days},
                      {"plan", json_object(Json::object(), trade_fields(r.baseline.plan))},
                      {"naive", json_object(Json::object(), trade_fields(r.baseline.naive))}};
  const Json doc{{"groups", groups}, {"baseline", baseline}, {"calibration", calibration}};
  out << doc.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}

}  // namespace

void print_ledger_report(std::ostream& out, const LedgerReport& report, const std::string& format) {
  if (format == "csv") return print_csv(out, report);
  if (format == "json") return print_json(out, report);
  print_table(out, report);
}

}  // namespace quorvel::ledger
