#include "quorvel/commands/quorvel-radar/radar_output.h"

#include <fmt/format.h>

#include "quorvel/utils/table_text.h"
#include "quorvel/utils/outside_text.h"
#include "zerith/radar_item.h"
#include "zerith/radar_pool.h"

namespace quorvel {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* SECTIONS[] = {zerith::SECTION_VOLUME_ANOMALY, zerith::SECTION_OPPORTUNITY, zerith::SECTION_RISK};

const Json& section(const Json& result, const char* name) {
  static const Json none = Json::array();
  const auto it = result.find(name);
  return it != result.end() && it->is_array() ? *it : none;
}

std::string state_text(const Json& r) {
  const std::string prev = r.value("prev_state", ""), curr = r.value("state", "");
  return prev.empty() || prev == curr ? curr : prev + "→" + curr;
}

void print_tables(std::ostream& out, const Json& result) {
  const std::vector<std::string> head{"代码", "名称", "数据日期", "状态",   "策略",   "信号",
                                      "评分", "量比", "涨跌幅",   "成交额", "理由"};
  bool first = true;
  for (const char* name : SECTIONS) {
    const Json& rows = section(result, name);
    out << (first ? "" : "\n") << "【" << name << "】" << rows.size() << " 只\n";
    first = false;
    if (rows.empty()) continue;
    std::vector<std::vector<std::string>> cells;
    for (const Json& r : rows) {
      const std::string signal = r.value("signal", "");
      cells.push_back({r.value("code", ""), r.value("name", ""), r.value("as_of", ""), state_text(r),
                       r.value("strategy_type", ""),
                       signal.empty() ? "-" : signal, fmt::format("{:.1f}", r.value("score", 0.0)),
                       fmt::format("{:.2f}x", r.value("vol_ratio", 0.0)),
                       fmt::format("{:+.2f}%", r.value("change_pct", 0.0)), zerith::amount_text(r.value("amount", 0.0)),
                       r.value("reason", "")});
    }
    print_aligned_table(out, head, cells);
  }
}

void print_csv(std::ostream& out, const Json& result) {
  out << "section,code,name,as_of,state,prev_state,strategy_type,signal,score,vol_ratio,change_pct,amount,close,reason\n";
  for (const char* name : SECTIONS)
    for (const Json& r : section(result, name))
      out << name << ',' << csv_field(r.value("code", "")) << ',' << csv_field(r.value("name", "")) << ','
          << r.value("as_of", "") << ',' << csv_field(r.value("state", "")) << ',' << csv_field(r.value("prev_state", "")) << ','
          << csv_field(r.value("strategy_type", "")) << ',' << r.value("signal", "") << ','
          << fmt::format("{:.1f},{:.2f},{:.2f},{:.0f},{:.3f}", r.value("score", 0.0), r.value("vol_ratio", 0.0),
                         r.value("change_pct", 0.0), r.value("amount", 0.0), r.value("close", 0.0))
          << ',' << csv_field(r.value("reason", "")) << "\n";
}

}  // namespace

void print_radar(std::ostream& out, const Json& raw_result, const std::string& format, const std::string& date) {
  // Codes and names come from pool and universe files and from the providers, reasons and errors
  // quote them.
  const Json result = quorvel::outside_json(raw_result);
  if (format == "csv") return print_csv(out, result);
  if (format == "table") return print_tables(out, result);
  Json doc{{"date", date}, {"frequency", result.value("frequency", "")}};
  for (const char* name : SECTIONS) doc[name] = section(result, name);
  doc["summary"] = result.value("summary", Json::object());
  doc["errors"] = result.value("errors", Json::array());
  out << doc.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}

void add_as_of(Json& result, const std::map<std::string, std::string>& as_of) {
  for (const char* name : SECTIONS) {
    const auto rows = result.find(name);
    if (rows == result.end() || !rows->is_array()) continue;
    for (Json& r : *rows) {
      const auto it = as_of.find(r.value("code", ""));
      r["as_of"] = it == as_of.end() ? std::string() : it->second;
    }
  }
}

std::string radar_summary_line(const Json& result, const std::string& date, double seconds) {
  const Json summary = result.value("summary", Json::object());
  const auto count = [&](const char* key) { return summary.value(key, std::size_t{0}); };
  return fmt::format("雷达完成 {} ({}): 共 {} 只，已评估 {}，{} {}，{} {}，{} {}，数据不足 {}，数据滞后 {}，失败 {}，用时 {:.2f} 秒",
                     date, result.value("frequency", "") == "weekly" ? "周线" : "日线", count("total"),
                     count("evaluated"), zerith::SECTION_VOLUME_ANOMALY,
                     section(result, zerith::SECTION_VOLUME_ANOMALY).size(), zerith::SECTION_OPPORTUNITY,
                     section(result, zerith::SECTION_OPPORTUNITY).size(), zerith::SECTION_RISK,
                     section(result, zerith::SECTION_RISK).size(), count("insufficient"), count("stale"), count("failed"),
                     seconds);
}

}  // namespace quorvel
