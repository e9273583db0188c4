#include "quorvel/agent/offline/offline_brief_writer.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "quorvel/utils/utf8_text.h"

namespace quorvel::agent::offline {

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool starts_with(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

// The text after `prefix` when the line starts with it.
std::optional<std::string> after(const std::string& line, const std::string& prefix) {
  if (!starts_with(line, prefix)) return std::nullopt;
  return line.substr(prefix.size());
}

std::string until(const std::string& s, const std::string& stop) { return s.substr(0, s.find(stop)); }

double percent_value(const std::string& pct) { return std::atof(pct.c_str()); }

std::string mood(const std::string& bias) {
  if (bias == "偏多") return "核心指数站稳 EMA20 上方且短期均线上行，做多氛围占优，资金承接积极。";
  if (bias == "偏空") return "核心指数受制于 EMA20 下方且短期均线走弱，资金观望浓厚，反弹力度有限。";
  if (bias == "避险") return "核心指数大幅下挫且跌幅超出近期常态振幅，恐慌情绪蔓延，资金以避险为先。";
  return "核心指数围绕 EMA20 反复拉锯，多空分歧明显，方向尚待选择。";
}

std::string risk(const std::string& bias, const std::string& first_index) {
  if (bias == "偏多") return "若" + first_index + "放量跌回 EMA20 下方，需警惕上涨趋势转入高位震荡甚至回撤。";
  if (bias == "偏空") return "若" + first_index + "继续失守 EMA20 且量能萎缩，存在阴跌延续、支撑被击穿的下行风险。";
  if (bias == "避险") return "恐慌性抛压尚未释放完毕，" + first_index + "若继续放量下破，存在流动性收缩下的加速下跌风险。";
  return "震荡格局下指数易随消息面反复，" + first_index + "若放量跌破区间下沿，需防范转入下行趋势的风险。";
}

std::string index_line(const BriefPromptFacts::IndexFact& f) {
  return "> - " + f.name + "：涨跌幅 " + f.pct + "，量比 " + f.ratio + "，" + until(f.ma_fact, "。") + "。";
}

std::string without_bold(std::string s) {
  for (std::size_t p; (p = s.find("**")) != std::string::npos;) s.erase(p, 2);
  return s;
}

// "周线温度 38.2（中性(35-65)，升温），战术总方针：…，趋势解读：…": the weekly (medium-term) reading
// first, then the daily one.
std::string sentiment_sentence(const std::vector<std::string>& lines) {
  std::string daily, weekly, *current = nullptr;
  for (const auto& line : lines) {
    if (auto d = after(line, "- D线：")) {
      current = &daily;
      *current = "日线" + without_bold(until(*d, " · 置信度"));
    } else if (auto w = after(line, "- W线：")) {
      current = &weekly;
      *current = "周线" + without_bold(until(*w, " · 置信度"));
    } else if (!current) {
      continue;
    } else if (auto zone = after(line, "  - 温区：")) {
      const auto tactic = zone->find("战术总方针：");
      if (tactic != std::string::npos) *current += "，战术总方针：" + zone->substr(tactic + std::string("战术总方针：").size());
    } else if (auto meaning = after(line, "  - 趋势解读：")) {
      *current += "；" + *meaning;
    }
  }
  std::string out = weekly;
  if (!daily.empty()) out += (out.empty() ? "" : "\n") + daily;
  return out;
}

}  // namespace

bool is_brief_prompt(const std::string& user_message) {
  return user_message.find("<authoritative_verdict>") != std::string::npos &&
         user_message.find("<core_index_table>") != std::string::npos;
}

std::optional<BriefPromptFacts> parse_brief_prompt(const std::string& user_message) {
  if (!is_brief_prompt(user_message)) return std::nullopt;
  BriefPromptFacts f;
  std::string section;
  for (const auto& line : lines_of(user_message)) {
    if (starts_with(line, "<") && line.back() == '>') {
      section = starts_with(line, "</") ? "" : line.substr(1, line.size() - 2);
      continue;
    }
    if (auto v = after(line, "- **市场范围**：")) f.market_label = *v;
    if (auto v = after(line, "- **bias（研判方向）**：")) f.bias = *v;
    if (auto v = after(line, "- **强度**：")) f.strength = *v;
    if (auto v = after(line, "- **策略指引**：")) f.strategy = *v;
    if (auto v = after(line, "- **判定依据**：")) f.rationale = *v;
    if (section == "core_index_table" && starts_with(line, "|")) f.table_lines.push_back(line);
    if (section == "authoritative_facts" && starts_with(line, "- **")) {
      const std::string rest = line.substr(4);
      BriefPromptFacts::IndexFact fact;
      fact.name = until(rest, "**");
      const auto body = rest.find("**：");
      const std::string text = body == std::string::npos ? "" : rest.substr(body + std::string("**：").size());
      if (auto pct = after(text, "涨跌幅 ")) {
        fact.pct = until(*pct, "，");
        const auto r = text.find("量比 ");
        fact.ratio = r == std::string::npos ? "—" : until(text.substr(r + std::string("量比 ").size()), "；");
        const auto semi = text.find("；");
        fact.ma_fact = semi == std::string::npos ? "" : text.substr(semi + std::string("；").size());
      } else {
        fact.pct = fact.ratio = "—";
        fact.ma_fact = text;
      }
      f.facts.push_back(fact);
    }
    if (section == "market_raw_data" && (starts_with(line, "- D线：") || starts_with(line, "- W线：") ||
                                         starts_with(line, "  - 温区：") || starts_with(line, "  - 趋势解读：")))
      f.sentiment_lines.push_back(line);
  }
  if (f.bias.empty() || f.strategy.empty()) return std::nullopt;
  return f;
}

std::string write_offline_brief(const BriefPromptFacts& f) {
  const std::string market_name = until(f.market_label, "（");
  const std::string first = f.facts.empty() ? "第一指数" : f.facts[0].name;
  std::vector<std::string> readings;
  for (std::size_t i = 0; i < f.facts.size() && i < 2; ++i) readings.push_back(index_line(f.facts[i]));
  // Third and fourth indices only when they diverge from the first or move abnormally.
  const double lead = f.facts.empty() ? 0 : percent_value(f.facts[0].pct);
  for (std::size_t i = 2; i < f.facts.size() && i < 4; ++i) {
    const double p = percent_value(f.facts[i].pct);
    if ((p >= 0) != (lead >= 0) || std::fabs(p) > 2.0) readings.push_back(index_line(f.facts[i]));
  }
  std::string mood_text = mood(f.bias);
  std::string risk_text = risk(f.bias, first);

  const auto assemble = [&] {
    std::string out = "**▋ " + market_name + "市场研判 · " + f.bias + " / " + f.strength + "**\n";
    out += "- **市场氛围**：" + mood_text + "\n";
    out += "- **策略指引**：**" + f.strategy + "**\n\n---\n**▋ 核心指数动态**\n";
    for (const auto& l : f.table_lines) out += l + "\n";
    out += "\n> **关键解读**：\n";
    for (const auto& r : readings) out += r + "\n";
    if (!f.sentiment_lines.empty())
      out += "\n---\n**▋ 情绪温度计**\n" + sentiment_sentence(f.sentiment_lines) + "\n";
    out += "\n---\n**▋ 风险提示**\n⚠️ **风险**：" + risk_text;
    return out;
  };
  std::string brief = assemble();
  // Keep the counted prose within its budget: drop extra index lines when long, add the rationale when short.
  while (counted_characters(brief) > 280 && readings.size() > 2) {
    readings.pop_back();
    brief = assemble();
  }
  if (counted_characters(brief) < 200 && !f.rationale.empty()) {
    mood_text += "判定依据：" + f.rationale + "。";
    brief = assemble();
  }
  if (counted_characters(brief) < 200) {
    risk_text += "请严格按策略指引控制仓位，等待指数给出明确方向后再行动。";
    brief = assemble();
  }
  return brief;
}

std::size_t counted_characters(const std::string& brief) {
  std::size_t n = 0;
  bool in_sentiment = false;
  for (const auto& line : lines_of(brief)) {
    if (starts_with(line, "**▋ ")) in_sentiment = line.find("情绪温度计") != std::string::npos;
    if (in_sentiment || starts_with(line, "|") || line == "---") continue;
    for (std::size_t i = 0; i < line.size();) {
      const unsigned char c = static_cast<unsigned char>(line[i]);
      const std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      const std::string ch = line.substr(i, len);
      i += len;
      if (ch == " " || ch == "*" || ch == ">" || ch == "-" || ch == "▋" || ch == "⚠" || ch == "\xEF\xB8\x8F") continue;
      ++n;
    }
  }
  return n;
}

}  // namespace quorvel::agent::offline
