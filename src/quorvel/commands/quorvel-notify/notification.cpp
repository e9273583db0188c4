#include "quorvel/commands/quorvel-notify/notification.h"

#include <algorithm>

#include <fmt/format.h>

#include "quorvel/agent/schemas/decision.h"
#include "quorvel/pages/markdown_html.h"
#include "quorvel/utils/json_display.h"
#include "quorvel/utils/outside_text.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel::notify {

namespace {

using Json = nlohmann::ordered_json;

std::string shown(const Json& j, const char* key) { return shown_member(j, key); }

std::string text(const Json& j, const char* key) { return string_member(j, key); }

// A member that must be a boolean; anything else (missing, null, a text) counts as `otherwise`.
bool flag(const Json& j, const char* key, bool otherwise) {
  const auto it = j.find(key);
  return it != j.end() && it->is_boolean() ? it->get<bool>() : otherwise;
}

// The day the message is about: its analysis day, else the day it was stored. It names the push in
// its title and keys it on the channels, so it is cut at a character (not inside one) and filtered
// as outside text like every other member shown.
std::string day_of(const Json& m) {
  std::string day = text(m, "analysis_time");
  if (day.empty()) day = text(m, "created_at");
  return outside_text(prefix_code_points(day, 10));
}

std::string footer(const Json& m) {
  return fmt::format("> 消息 {} · 报告 #{}（quorvel-reports show {}）", shown(m, "id"), shown(m, "report_id"),
                     shown(m, "report_id"));
}

bool is_buy(const Json& decision) {
  const std::string action = text(decision, "action");
  return action != "观望等待" && std::find(agent::schemas::ACTION_ENUM.begin(), agent::schemas::ACTION_ENUM.end(),
                                           action) != agent::schemas::ACTION_ENUM.end();
}

// Labels of the hard checks the plan failed ("仓位上限、盈亏比").
std::string failed_checks(const Json& m) {
  std::string out;
  const auto checks = m.find("plan_checks");
  if (checks == m.end() || !checks->is_array()) return out;
  for (const Json& c : *checks)
    if (c.is_object() && text(c, "level") == "hard" && !flag(c, "passed", true))
      out += (out.empty() ? "" : "、") + shown(c, "label");
  return out;
}

delivery::Digest brief(const Json& m) {
  const std::string market = shown(m, "market_type"), day = day_of(m);
  delivery::Digest d;
  d.title = fmt::format("大盘 AI 简报 · {} 市场 {}", market, day);
  d.markdown = fmt::format("## 大盘 AI 简报（{} 市场 {}）\n\n{}\n\n{}\n", market, day, shown(m, "content"), footer(m));
  return d;
}

delivery::Digest buy(const Json& m, const Json& decision) {
  const std::string who = shown(m, "stock_code") + (text(m, "stock_name").empty() ? "" : " " + shown(m, "stock_name"));
  const std::string day = day_of(m);
  const bool review = flag(m, "review_required", false);
  delivery::Digest d;
  d.title = fmt::format("{}买入计划 · {} {}", review ? "【需复核】" : "", who, day);
  const Json& p = decision;
  d.markdown = fmt::format("## {}买入计划：{}（{}）\n\n", review ? "【需复核】" : "", who, day);
  d.markdown += fmt::format("- 操作：{} / {}，策略 {}\n", shown(p, "action"), shown(p, "direction"),
                            shown(p, "strategy_mode"));
  d.markdown += fmt::format("- 买入 {}–{}，止损 {}，目标 {} / {}\n", shown(p, "entry_price_low"),
                            shown(p, "entry_price_high"), shown(p, "stop_loss"), shown(p, "target_1"),
                            shown(p, "target_2"));
  d.markdown += fmt::format("- 盈亏比 {}，仓位 {}，持有 {}，置信度 {}，风险 {}\n", shown(p, "rrr"),
                            shown(p, "position_pct"), shown(p, "holding_period"), shown(p, "confidence"),
                            shown(p, "risk_level"));
  d.markdown += fmt::format("- 关注：{}\n", shown(p, "key_watch"));
  if (review) {
    const std::string failed = failed_checks(m);
    d.markdown += fmt::format("\n**需复核**：未通过 {}，不可按原计划执行\n", failed.empty() ? "硬性检查" : failed);
  }
  d.markdown += fmt::format("\n> 现价 {} · 模型 {}\n{}\n", shown(m, "current_price"), shown(m, "llm_model"), footer(m));
  return d;
}

}  // namespace

std::optional<delivery::Digest> notification_of(const Json& message) {
  if (!message.is_object() || text(message, "id").empty()) return std::nullopt;
  const std::string type = text(message, "type");
  std::optional<delivery::Digest> d;
  if (type == "solvara") {
    d = brief(message);
  } else if (type == "analysis") {
    const auto decision = message.find("decision");
    if (decision != message.end() && decision->is_object() && is_buy(*decision)) d = buy(message, *decision);
  }
  if (!d) return std::nullopt;
  d->id = text(message, "id");
  d->day = day_of(message);
  // One push per message: the message id is the edition of its day.
  d->edition = d->id;
  d->html = pages::markdown_html(d->markdown);
  return d;
}

}  // namespace quorvel::notify
