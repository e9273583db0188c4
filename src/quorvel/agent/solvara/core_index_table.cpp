#include "quorvel/agent/solvara/core_index_table.h"

#include <algorithm>
#include <cctype>
#include <map>

#include <fmt/format.h>

#include "contracts/market_data.h"
#include "contracts/sentiment.h"
#include "quorvel/agent/solvara/brief_cache.h"
#include "quorvel/utils/blocking.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/text.h"
#include "quorvel/utils/market_indices.h"
#include "quorvel/utils/number_text.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel::agent::solvara {

namespace {

const std::string& label_of(const std::map<std::string, std::string>& labels, const std::string& code) {
  const auto it = labels.find(code);
  return it == labels.end() ? code : it->second;
}

// Positions of the core indices in the market's index list.
std::vector<std::size_t> core_positions(const std::string& market, std::size_t available) {
  if (market == "A" || market == "ETF") return {0, 2, 3, 4};
  std::size_t n = market == "HK" ? 2 : market == "US" ? 3 : 1;
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < std::min(n, available); ++i) out.push_back(i);
  return out;
}

// Integers in decimal, reals as their shortest text with a fractional part, texts as themselves.
std::string plain_text(const nlohmann::ordered_json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_number_integer() || v.is_number_unsigned()) return v.dump();
  if (v.is_number_float()) return number_text(v.get<double>());
  return v.dump();
}

double number_member(const nlohmann::ordered_json& s, const char* key, bool required) {
  if (!s.contains(key) || s[key].is_null()) {
    if (required) throw RuntimeError(fmt::format("情绪快照缺少字段 {}", key));
    return 0.0;
  }
  return s[key].get<double>();
}

std::string text_member(const nlohmann::ordered_json& s, const char* key) {
  if (!s.contains(key) || !s[key].is_string()) throw RuntimeError(fmt::format("情绪快照缺少字段 {}", key));
  return s[key].get<std::string>();
}

std::vector<std::string> snapshot_lines(const std::string& freq, const nlohmann::ordered_json& s) {
  const double temperature = number_member(s, "temperature", true);
  const std::string state = text_member(s, "state");
  const std::string direction = text_member(s, "direction");
  const double confidence = number_member(s, "confidence", false);
  const std::string n_etf = s.contains("n_etf") && !s["n_etf"].is_null() ? plain_text(s["n_etf"]) : "0";
  const zerith::SentimentZoneDesc zone = zerith::get_sentiment_zone_desc(temperature);
  std::vector<std::string> lines{
      fmt::format("- {}线：温度 **{:.1f}** · {} · {} · 置信度 {:.2f} · 样本 {} 只 ETF", freq, temperature,
                  detail::SENTIMENT_STATE_LABEL(state), detail::SENTIMENT_DIRECTION_LABEL(direction), confidence, n_etf),
      "  - 温区：" + zone.title + "；战术总方针：" + zone.action};
  const std::string meaning = _sentiment_direction_meaning(temperature, direction);
  if (!meaning.empty()) lines.push_back("  - 趋势解读：" + meaning);
  std::string factors = "  - 子因子分位：";
  bool first = true;
  if (s.contains("factors") && s["factors"].is_object()) {
    for (auto it = s["factors"].begin(); it != s["factors"].end(); ++it) {
      factors += (first ? "" : " · ") + detail::SENTIMENT_FACTOR_LABEL(it.key()) + " " + plain_text(it.value());
      first = false;
    }
  }
  lines.push_back(factors);
  return lines;
}

}  // namespace

namespace detail {
const std::string& SENTIMENT_STATE_LABEL(const std::string& code) {
  static const std::map<std::string, std::string> labels{{"ICE_COLD", "冰点(≤15)"},
                                                         {"COLD", "偏冷(15-35)"},
                                                         {"NEUTRAL", "中性(35-65)"},
                                                         {"HOT", "偏热(65-85)"},
                                                         {"OVERHEAT", "过热(≥85)"}};
  return label_of(labels, code);
}
const std::string& SENTIMENT_DIRECTION_LABEL(const std::string& code) {
  static const std::map<std::string, std::string> labels{{"warming", "升温"}, {"cooling", "降温"}, {"flat", "平稳"}};
  return label_of(labels, code);
}
const std::string& SENTIMENT_FACTOR_LABEL(const std::string& code) {
  static const std::map<std::string, std::string> labels{{"breadth", "广度"},
                                                         {"momentum", "动量"},
                                                         {"turnover", "量能"},
                                                         {"volatility", "波动率"},
                                                         {"positioning", "位置"}};
  return label_of(labels, code);
}
}  // namespace detail

std::string _sentiment_direction_meaning(double temperature, const std::string& direction) {
  if (direction == "warming") {
    if (temperature <= 35) return "良性企稳/冰点回暖：恐慌出清后的右侧高胜率进场信号。";
    if (temperature < 65) return "动量升温/趋势延续：资金情绪边际改善。";
    return "加速发烧/冲顶透支：属于危险脉冲，严禁据此追高。";
  }
  if (direction == "cooling") return "资金情绪边际降温，需结合所在温区收紧仓位与止盈纪律。";
  return "情绪平稳，重点遵循当前温区的战术总方针。";
}

asio::awaitable<CoreIndexTable> _generate_core_index_table(std::string market_type, std::string analysis_date) {
  const auto indices = _get_indices_for_market(market_type);
  if (indices.empty()) co_return CoreIndexTable{"（暂无核心指数数据）", "（暂无核心指数数据）", _compute_market_verdict({})};
  const std::string market = upper_ascii(market_type);
  const auto positions = core_positions(market, indices.size());
  if (positions.back() >= indices.size())
    throw RuntimeError(fmt::format("[大盘 AI 简报] {} 的核心指数列表不足 {} 个", market, positions.back() + 1));

  const std::string end_date = _normalize_date(analysis_date);
  std::vector<std::string> rows{"| 指数名称 | 涨跌幅 | 量比 | 趋势状态 |", "| :--- | :--- | :--- | :--- |"};
  std::vector<std::string> facts;
  std::vector<IndexPerformance> perfs;
  for (std::size_t pos : positions) {
    const tarnel::MarketIndex index = indices[pos];
    const std::string name(index.value);
    IndexPerformance perf;
    try {
      auto fetch = run_blocking([index, end_date] { return tarnel::markets::get_any_ohlc(index, end_date); });
      const tarnel::BarTable bars = co_await std::move(fetch);
      // An index whose bars stop before the day has no move on that day: an older bar shown as the
      // day's change would mislead the table and the verdict alike.
      const std::string last = bars.empty() ? std::string() : date_key(bars.last_date());
      if (!last.empty() && last != end_date) {
        logger.warning("[大盘 AI 简报] %s 没有 %s 的日线 (最新 %s)，按缺失处理", name, end_date, last);
        perf = IndexPerformance::failure();
        rows.push_back("| **" + name + "** | — | — | 数据缺失 (最新 " + last + ") |");
        facts.push_back("- **" + name + "**：" + end_date + " 无日线，数据缺失");
        perfs.push_back(perf);
        continue;
      }
      perf = _calculate_index_performance(bars);
      rows.push_back("| **" + name + "** | " + perf.pct + " | " + perf.ratio + " | " + perf.trend + " |");
      facts.push_back("- **" + name + "**：涨跌幅 " + perf.pct + "，量比 " + perf.ratio + "；" + perf.ma_fact);
    } catch (const std::exception& e) {
      logger.warning("[大盘 AI 简报] 计算 %s 性能失败: %s", name, e.what());
      perf = IndexPerformance::failure();
      rows.push_back("| **" + name + "** | — | — | 数据错误 |");
      facts.push_back("- **" + name + "**：数据错误");
    }
    perfs.push_back(perf);
  }
  co_return CoreIndexTable{fmt::format("{}", fmt::join(rows, "\n")), fmt::format("{}", fmt::join(facts, "\n")),
                           _compute_market_verdict(perfs)};
}

std::pair<std::string, nlohmann::ordered_json> _format_sentiment_block(const std::string& market_type,
                                                                       const std::string& analysis_date) {
  std::string market = upper_ascii(market_type);
  if (market == "ETF") market = "A";
  if (market != "A") return {"", {{"injected", false}, {"skip_reason", "unsupported_market_type"}}};
  try {
    const std::string normalized = _normalize_date(analysis_date);
    const std::optional<std::string> date = normalized.empty() ? std::nullopt : std::optional(normalized);
    const std::string universe = (get_project_root() / "data" / "etf" / "etf.yaml").string();
    std::map<std::string, nlohmann::ordered_json> snapshots;
    for (const char* freq : {"D", "W"})
      snapshots[freq] = zerith::compute_sentiment_snapshot(date, zerith::SentimentConfig{freq, universe}, true);
    std::vector<std::string> lines{"### 4. A 股情绪温度计（sentiment_thermometer 权威计算）"};
    for (const char* freq : {"D", "W"}) {
      const auto part = snapshot_lines(freq, snapshots[freq]);
      lines.insert(lines.end(), part.begin(), part.end());
    }
    return {fmt::format("{}\n", fmt::join(lines, "\n")), {{"injected", true}, {"freqs", {"D", "W"}}}};
  } catch (const std::exception& e) {
    logger.warning("[大盘 AI 简报] 情绪温度计计算失败（降级）: %s", e.what());
    return {"", {{"injected", false}, {"skip_reason", std::string(prefix_code_points(e.what(), 200))}}};
  }
}

}  // namespace quorvel::agent::solvara
