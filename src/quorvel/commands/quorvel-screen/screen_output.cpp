#include "quorvel/commands/quorvel-screen/screen_output.h"

#include <algorithm>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "quorvel/utils/number_text.h"
#include "quorvel/utils/outside_text.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel {

namespace {

using strategy::technical::ScreenOutcome;

// An outcome as it is shown: codes and names come from pool files and providers, so every text of
// it is filtered as outside text.
ScreenOutcome shown(const ScreenOutcome& o) {
  ScreenOutcome out = o;
  for (std::string* text : {&out.code, &out.name, &out.strategy_type, &out.strategy_hint, &out.urgency})
    *text = outside_text(*text);
  for (auto& flag : out.risk_flags) flag = outside_text(flag);
  return out;
}

// The eligible outcomes ready to show, best score first (ties by code).
std::vector<ScreenOutcome> eligible_sorted(const std::vector<ScreenOutcome>& outcomes) {
  std::vector<ScreenOutcome> rows;
  for (const auto& o : outcomes)
    if (o.eligible) rows.push_back(shown(o));
  std::stable_sort(rows.begin(), rows.end(), [](const ScreenOutcome& a, const ScreenOutcome& b) {
    return a.score != b.score ? a.score > b.score : a.code < b.code;
  });
  return rows;
}

std::string joined(const std::vector<std::string>& items, const std::string& sep) {
  std::string out;
  for (const auto& item : items) out += (out.empty() ? "" : sep) + item;
  return out;
}

void print_table(std::ostream& out, const std::vector<ScreenOutcome>& rows) {
  const std::vector<std::string> head{"代码", "名称", "数据日期", "策略类型", "评分", "紧迫度", "风险标记"};
  std::vector<std::vector<std::string>> cells;
  for (const auto& o : rows)
    cells.push_back({o.code, o.name, o.as_of, o.strategy_type, fmt::format("{:.2f}", o.score), o.urgency,
                     o.risk_flags.empty() ? "-" : joined(o.risk_flags, " ")});
  print_aligned_table(out, head, cells);
  if (cells.empty()) out << "(没有通过筛选的标的)\n";
}

}  // namespace

ScreenSummary summarize_screen(const std::vector<ScreenOutcome>& outcomes) {
  ScreenSummary s;
  s.total = outcomes.size();
  for (const auto& o : outcomes) {
    s.screened += o.screened;
    s.eligible += o.eligible;
    s.no_data += o.screened && o.no_data;
    s.stale += o.stale;
    s.failed += !o.screened;
  }
  return s;
}

void print_screen(std::ostream& out, const std::vector<ScreenOutcome>& outcomes, const std::string& format) {
  const auto rows = eligible_sorted(outcomes);
  if (format == "csv") {
    out << "code,name,as_of,price,strategy_type,score,urgency,risk_flags\n";
    for (const auto& o : rows)
      out << csv_field(o.code) << ',' << csv_field(o.name) << ',' << o.as_of << ',' << number_text(o.price) << ','
          << csv_field(o.strategy_type) << ',' << fmt::format("{:.2f}", o.score) << ',' << o.urgency << ','
          << csv_field(joined(o.risk_flags, ";")) << "\n";
  } else if (format == "json") {
    auto list = nlohmann::ordered_json::array();
    for (const auto& o : rows)
      list.push_back({{"code", o.code},
                      {"name", o.name},
                      {"as_of", o.as_of},
                      {"strategy_type", o.strategy_type},
                      {"strategy_hint", o.strategy_hint},
                      {"score", o.score},
                      {"urgency", o.urgency},
                      {"risk_flags", o.risk_flags},
                      {"price", o.price}});
    out << list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
  } else {
    print_table(out, rows);
  }
}

std::string summary_line(const ScreenSummary& s, const std::string& date, double seconds) {
  return fmt::format("筛选完成 {}: 共 {} 只，已筛选 {}，通过 {}，无数据 {}，数据滞后 {}，失败 {}，用时 {:.2f} 秒", date,
                     s.total, s.screened, s.eligible, s.no_data, s.stale, s.failed, seconds);
}

}  // namespace quorvel
