#include "quorvel/agent/offline/offline_stock_prompt.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "quorvel/utils/text.h"
#include "contracts/dates.h"

namespace quorvel::agent::offline {

namespace {

using Json = nlohmann::ordered_json;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

const std::vector<StepHeading>& a_share_headings() {
  static const std::vector<StepHeading> headings{{"0", "### 0. 标的信息"},
                                                 {"1", "### 1. 市场状态诊断"},
                                                 {"2", "### 2. 关键证据分析"},
                                                 {"2.0", "#### 2.0 市场环境分析（基于第 4 节预分析结论做 Beta 匹配）"},
                                                 {"2.1", "#### 2.1 趋势结构（多周期共振）"},
                                                 {"2.2", "#### 2.2 量价验证"},
                                                 {"2.3", "#### 2.3 动能与超买超卖"},
                                                 {"2.4", "#### 2.4 信号冲突仲裁"},
                                                 {"3", "### 3. 关键点位与风险"},
                                                 {"4", "### 4. 目标价确定与盈亏比"},
                                                 {"5", "### 5. 交易决策"},
                                                 {"5.1", "#### 5.1 持仓者操作计划（持有该标的）"},
                                                 {"5.2", "#### 5.2 持币者操作计划（尚未入场）"},
                                                 {"5.3", "### 5.3 输出前逻辑自洽检查"},
                                                 {"6", "### 6. 结构化决策摘要"}};
  return headings;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool starts_with(const std::string& s, std::string_view prefix) { return s.rfind(prefix, 0) == 0; }

// The text between "<tag>\n" and the next "\n</tag>"; nothing when either is missing.
std::optional<std::string> tagged(const std::string& text, const std::string& tag) {
  const std::string open = "<" + tag + ">\n", close = "\n</" + tag + ">";
  const auto b = text.find(open);
  if (b == std::string::npos) return std::nullopt;
  const auto e = text.find(close, b + open.size());
  if (e == std::string::npos) return std::nullopt;
  return text.substr(b + open.size(), e - b - open.size());
}

double number_or_nan(const std::string& text) {
  const std::string t = trim_text(text);
  char* end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  return !t.empty() && end == t.c_str() + t.size() ? v : NaN;
}

double cell_value(const Json& v) { return v.is_number() ? v.get<double>() : NaN; }

std::string market_of(const std::string& system_message, const StockPromptFacts& f, bool etf_labels) {
  const std::string role = system_message.substr(0, system_message.find('\n'));
  if (starts_with(role, "# Role:")) {
    if (role.find("港股") != std::string::npos) return "HK";
    if (role.find("美股") != std::string::npos) return "US";
    if (role.find("ETF") != std::string::npos) return "ETF";
    return "A";
  }
  if (etf_labels) return "ETF";
  if (starts_with(f.stock_code, "hk.")) return "HK";
  if (starts_with(f.stock_code, "us.")) return "US";
  return "A";
}

void read_instrument_block(const std::string& block, StockPromptFacts& f, bool& etf_labels) {
  const auto value = [](const std::string& line, std::string_view label) -> std::optional<std::string> {
    const std::string prefix = "- " + std::string(label) + "：";
    if (!starts_with(line, prefix)) return std::nullopt;
    return trim_text(line.substr(prefix.size()));
  };
  for (const auto& line : lines_of(block)) {
    for (const char* label : {"股票代码", "ETF代码"})
      if (auto v = value(line, label)) {
        f.stock_code = *v;
        etf_labels = std::string(label) == "ETF代码";
      }
    for (const char* label : {"股票名称", "ETF名称"})
      if (auto v = value(line, label)) f.stock_name = *v;
    if (auto v = value(line, "分析时间")) f.analysis_time = *v;
    if (auto v = value(line, "当前价格")) f.current_price_text = *v;
    if (auto v = value(line, "今日涨幅")) f.pct_change = v->substr(0, v->rfind('%'));
  }
  f.current_price = number_or_nan(f.current_price_text);
}

std::string step0_label_of(const std::string& system_message) {
  static const std::string prefix = "在报告开头输出";
  for (const auto& line : lines_of(system_message))
    if (starts_with(line, prefix)) {
      const std::string rest = line.substr(prefix.size());
      const auto end = rest.find("、分析时间");
      if (end != std::string::npos && end > 0) return rest.substr(0, end);
    }
  return "代码、名称";
}

}  // namespace

bool is_stock_prompt(const std::string& user_message) {
  return user_message.find("## 输入数据") != std::string::npos &&
         user_message.find("<daily_data>") != std::string::npos &&
         user_message.find("<pattern_info>") != std::string::npos;
}

tarnel::BarTable parse_bar_json(const std::string& text) {
  const Json doc = Json::parse(text, nullptr, false);
  std::vector<std::string> names;
  std::vector<std::vector<Json>> rows;  // first cell the date
  if (doc.is_object() && doc.contains("columns") && doc["columns"].is_array() && doc.contains("rows") &&
      doc["rows"].is_array()) {
    for (const auto& c : doc["columns"]) names.push_back(c.is_string() ? c.get<std::string>() : "");
    for (const auto& r : doc["rows"])
      if (r.is_array() && r.size() == names.size()) rows.emplace_back(r.begin(), r.end());
  } else if (doc.is_array() && !doc.empty() && doc.front().is_object()) {
    names.push_back("Date");
    for (const auto& [key, v] : doc.front().items())
      if (key != "Date") names.push_back(key);
    for (const auto& r : doc) {
      if (!r.is_object()) continue;
      std::vector<Json> cells;
      for (const auto& name : names) cells.push_back(r.contains(name) ? r[name] : Json());
      rows.push_back(std::move(cells));
    }
  }
  tarnel::BarTable table;
  if (names.empty() || names.front() != "Date") return table;
  std::vector<std::vector<double>> columns(names.size());
  for (const auto& r : rows) {
    const auto date = r[0].is_string() ? tarnel::try_parse_date(r[0].get<std::string>()) : std::nullopt;
    if (!date) continue;
    table.append_row(*date, {});
    for (std::size_t c = 1; c < names.size(); ++c) columns[c].push_back(cell_value(r[c]));
  }
  for (std::size_t c = 1; c < names.size(); ++c)
    if (!names[c].empty()) table.set_column(names[c], std::move(columns[c]));
  return table;
}

std::optional<std::string> brief_bias(const std::string& brief) {
  static const std::string label = "市场研判", dot = "\xC2\xB7";
  for (auto pos = brief.find(label); pos != std::string::npos; pos = brief.find(label, pos + 1)) {
    std::size_t i = pos + label.size();
    const auto skip_blanks = [&] {
      while (i < brief.size() && (brief[i] == ' ' || brief[i] == '\t')) ++i;
    };
    skip_blanks();
    if (brief.compare(i, dot.size(), dot) != 0) continue;
    i += dot.size();
    skip_blanks();
    if (i < brief.size() && brief[i] == '[') ++i;
    skip_blanks();
    for (const char* word : {"偏多", "震荡", "偏空", "避险"})
      if (brief.compare(i, std::string(word).size(), word) == 0) return std::string(word);
  }
  return std::nullopt;
}

std::vector<StepHeading> step_headings(const std::string& system_message) {
  std::vector<StepHeading> out;
  bool in_framework = false;
  for (const auto& line : lines_of(system_message)) {
    if (starts_with(line, "## ")) in_framework = line == "## 分析框架";
    if (!in_framework || !(starts_with(line, "### ") || starts_with(line, "#### "))) continue;
    const auto start = line.find(' ') + 1;
    std::string number = line.substr(start, line.find(' ', start) - start);
    if (!number.empty() && number.back() == '.') number.pop_back();
    if (number.empty() || !std::isdigit(static_cast<unsigned char>(number.front()))) continue;
    if (starts_with(number, "6.")) continue;  // the schema's own subsections
    out.push_back({number, line});
  }
  return out.empty() ? a_share_headings() : out;
}

std::optional<StockPromptFacts> parse_stock_prompt(const std::string& system_message, const std::string& user_message) {
  if (!is_stock_prompt(user_message)) return std::nullopt;
  StockPromptFacts f;
  bool etf_labels = false;
  read_instrument_block(user_message.substr(0, user_message.find("<daily_data>")), f, etf_labels);
  f.daily = parse_bar_json(tagged(user_message, "daily_data").value_or("[]"));
  f.weekly = parse_bar_json(tagged(user_message, "weekly_data").value_or("[]"));
  const Json pattern = Json::parse(tagged(user_message, "pattern_info").value_or(""), nullptr, false);
  f.pattern_readable = pattern.is_object();
  if (f.pattern_readable) f.pattern = pattern;
  if (auto bias = brief_bias(tagged(user_message, "market_ai_brief").value_or(""))) {
    f.bias = *bias;
    f.bias_found = true;
  }
  f.market = market_of(system_message, f, etf_labels);
  f.step0_label = step0_label_of(system_message);
  f.headings = step_headings(system_message);
  return f;
}

}  // namespace quorvel::agent::offline
