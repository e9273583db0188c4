// Load-time assembly of the prompt templates from the section texts, and their lookup.
#include "quorvel/agent/prompts/vellumor/templates.h"

#include <array>
#include <cctype>

#include "contracts/errors.h"
#include "quorvel/agent/prompts/vellumor/sections.h"
#include "quorvel/utils/text.h"

namespace quorvel::agent::prompts::vellumor {

namespace detail {

const MarketPieces A_PIECES{"股票代码", "股票名称", "日线数据", "周线数据", "个股", "股票代码、名称",
                            "25.80, 26.15, 25.60, 25.95", ROLE_A, STEP1_OPEN_A, STEP2_OPEN_A,
                            STEP22_OPEN_A, "\n", STEP3_OPEN_A, "", PLANS_A, WAIT_PLAN_KEY_PRICES,
                            NOTES_MID_A, "A股", MARKET_RULES_EXTRA_A};
const MarketPieces US_PIECES{"股票代码", "股票名称", "日线数据", "周线数据", "个股", "股票代码、名称",
                             "185.20, 188.50, 184.80, 187.90", ROLE_US, STEP1_OPEN_US, STEP2_OPEN_US,
                             STEP22_OPEN_US, "\n", STEP3_OPEN_US, RISK_US, PLANS_US,
                             WAIT_PLAN_KEY_PRICES, NOTES_MID_US, "美股", ""};
const MarketPieces HK_PIECES{"股票代码", "股票名称", "日线数据", "周线数据", "个股", "股票代码、名称",
                             "0.792, 0.799, 0.788, 0.796", ROLE_HK, STEP1_OPEN_HK, STEP2_OPEN_HK,
                             STEP22_OPEN_HK, "\n", STEP3_OPEN_HK, RISK_HK, PLANS_HK,
                             WAIT_PLAN_KEY_LEVELS, NOTES_MID_HK, "港股", ""};
const MarketPieces ETF_PIECES{"ETF代码", "ETF名称", "日交易数据", "周交易数据", "ETF", "ETF代码、名称",
                              "1.125, 1.138, 1.120, 1.132", ROLE_ETF, STEP1_OPEN_ETF, STEP2_OPEN_ETF,
                              STEP22_OPEN_ETF, ETF_LIQUIDITY_PREMIUM, STEP3_OPEN_ETF, RISK_ETF,
                              PLANS_ETF, WAIT_PLAN_ENTRY_TRIGGER, NOTES_MID_ETF, "ETF",
                              MARKET_RULES_EXTRA_ETF};

namespace {

constexpr std::string_view OUTPUT_RULES_HEADING = "#### 6.3 输出要求";

std::string_view without_leading_line_feeds(std::string_view text) {
  while (!text.empty() && text.front() == '\n') text.remove_prefix(1);
  return text;
}

// Removes the first occurrence of `part` from `text`; false when it does not occur.
bool remove_first(std::string& text, std::string_view part) {
  const std::size_t pos = text.find(part);
  if (pos == std::string::npos) return false;
  text.erase(pos, part.size());
  return true;
}

}  // namespace

std::string build_json_section() {
  const std::string_view schema = STEP6_SCHEMA_SYSTEM;
  const std::size_t split = schema.find(OUTPUT_RULES_HEADING);
  if (split == std::string_view::npos) {
    throw ValueError("[_STEP6_JSON_SECTION] _STEP6_SCHEMA_SYSTEM 中缺少 \"#### 6.3 输出要求\" 标题");
  }
  std::string out(schema.substr(0, split));
  out += without_leading_line_feeds(STEP6_EXAMPLE_USER);
  out += OUTPUT_RULES_HEADING;
  out += schema.substr(split + OUTPUT_RULES_HEADING.size());
  return out;
}

const std::string& step6_json_section() {
  static const std::string section = build_json_section();
  return section;
}

std::string build_full_prompt(const MarketPieces& m) {
  std::string out;
  out += m.role;
  out += _build_input_header(m.code_label, m.name_label, m.daily_label, m.weekly_label);
  out += _build_data_fields(m.ohlc_example);
  out += _build_env_and_framework_header(m.entity, m.step0_label);
  out += m.step1_open;
  out += STEP1_FRAME_DERIVE;
  out += m.step2_open;
  out += KLINE_COMBOS;
  out += TREND_STRENGTH;
  out += WHIPSAW_PROTECTION;
  out += m.step22_open;
  out += VOLUME_EXTREMES;
  out += OBV_RISKFLAGS;
  out += m.after_obv;
  out += STEP23_MOMENTUM;
  out += SECTION_24_CONFLICT;
  out += m.step3_open;
  out += STOPLOSS_PRICING;
  out += m.risk_block;
  out += STEP4_TARGETS_RRR;
  out += "\n";
  out += STEP5_HEADER;
  out += m.plans;
  out += TIME_STOP_TRAILING;
  out += m.wait_plan;
  out += STEP53_SELF_CHECK;
  out += step6_json_section();
  out += _build_notes(_build_market_rules(m.market_label, m.notes_mid, m.rules_extra));
  return out;
}

}  // namespace detail

std::string _build_user_template(std::string_view code_label, std::string_view name_label,
                                 std::string_view daily_label, std::string_view weekly_label,
                                 std::string_view env_entity) {
  return _build_input_header(code_label, name_label, daily_label, weekly_label) +
         _build_input_env_section(env_entity) + std::string(detail::STEP6_EXAMPLE_USER) +
         std::string(detail::USER_KICKOFF);
}

std::string _derive_system_template(std::string_view full_prompt, std::string_view code_label,
                                    std::string_view name_label, std::string_view daily_label,
                                    std::string_view weekly_label, std::string_view env_entity) {
  std::string text(full_prompt);
  if (!detail::remove_first(text, _build_input_header(code_label, name_label, daily_label, weekly_label))) {
    throw ValueError("[_derive_system_template] 未在 full_prompt 中找到 input_header 段");
  }
  if (!detail::remove_first(text, _build_input_env_section(env_entity))) {
    throw ValueError("[_derive_system_template] 未在 full_prompt 中找到 input_env 段");
  }
  if (!detail::remove_first(text, detail::without_leading_line_feeds(detail::STEP6_EXAMPLE_USER))) {
    throw ValueError("[_derive_system_template] 未在 full_prompt 中找到 6.2 示例块");
  }
  if (!detail::remove_first(text, detail::USER_KICKOFF)) {
    throw ValueError("[_derive_system_template] 未在 full_prompt 中找到 _USER_KICKOFF");
  }
  return text;
}

std::string _split_summary_system(std::string_view summary_prompt) {
  std::string text(summary_prompt);
  if (!detail::remove_first(text, detail::SUMMARY_USER_BLOCK)) {
    throw RuntimeError("SUMMARY_PROMPT 的 user 块锚定失败，请检查 _SUMMARY_USER_BLOCK 文本");
  }
  return text;
}

namespace {

std::string user_of(const detail::MarketPieces& m) {
  return _build_user_template(m.code_label, m.name_label, m.daily_label, m.weekly_label, m.entity);
}

std::string system_of(const std::string& full, const detail::MarketPieces& m) {
  return _derive_system_template(full, m.code_label, m.name_label, m.daily_label, m.weekly_label,
                                 m.entity);
}

// Every template, built in this order on first use: per market full prompt, user template, system
// template; then the summary prompt.
struct AllTemplates {
  std::array<std::array<std::string, 3>, 4> stock;  // [market][form]
  std::array<std::string, 3> summary;                // [form]
};

AllTemplates build_all() {
  AllTemplates t;
  const detail::MarketPieces* pieces[] = {&detail::A_PIECES, &detail::US_PIECES, &detail::HK_PIECES,
                                          &detail::ETF_PIECES};
  for (std::size_t m = 0; m < 4; ++m) {
    auto& family = t.stock[m];
    family[std::size_t(Form::Full)] = detail::build_full_prompt(*pieces[m]);
    family[std::size_t(Form::User)] = user_of(*pieces[m]);
    family[std::size_t(Form::System)] = system_of(family[std::size_t(Form::Full)], *pieces[m]);
  }
  t.summary[std::size_t(Form::Full)] = std::string(detail::SUMMARY_PROMPT_TEXT);
  t.summary[std::size_t(Form::User)] = std::string(detail::SUMMARY_USER_BLOCK) + "请开始你的总结：\n";
  t.summary[std::size_t(Form::System)] = _split_summary_system(t.summary[std::size_t(Form::Full)]);
  return t;
}

const AllTemplates& all_templates() {
  static const AllTemplates templates = build_all();
  return templates;
}

const std::string& stock_of(Market m, Form f) { return all_templates().stock[std::size_t(m)][std::size_t(f)]; }
const std::string& summary_of(Form f) { return all_templates().summary[std::size_t(f)]; }

}  // namespace

const std::string& A_STOCK_PROMPT() { return stock_of(Market::A, Form::Full); }
const std::string& A_STOCK_SYSTEM_TEMPLATE() { return stock_of(Market::A, Form::System); }
const std::string& A_STOCK_USER_TEMPLATE() { return stock_of(Market::A, Form::User); }
const std::string& US_STOCK_PROMPT() { return stock_of(Market::US, Form::Full); }
const std::string& US_STOCK_SYSTEM_TEMPLATE() { return stock_of(Market::US, Form::System); }
const std::string& US_STOCK_USER_TEMPLATE() { return stock_of(Market::US, Form::User); }
const std::string& HK_STOCK_PROMPT() { return stock_of(Market::HK, Form::Full); }
const std::string& HK_STOCK_SYSTEM_TEMPLATE() { return stock_of(Market::HK, Form::System); }
const std::string& HK_STOCK_USER_TEMPLATE() { return stock_of(Market::HK, Form::User); }
const std::string& ETF_STOCK_PROMPT() { return stock_of(Market::ETF, Form::Full); }
const std::string& ETF_STOCK_SYSTEM_TEMPLATE() { return stock_of(Market::ETF, Form::System); }
const std::string& ETF_STOCK_USER_TEMPLATE() { return stock_of(Market::ETF, Form::User); }
const std::string& SUMMARY_PROMPT() { return summary_of(Form::Full); }
const std::string& SUMMARY_SYSTEM_TEMPLATE() { return summary_of(Form::System); }
const std::string& SUMMARY_USER_TEMPLATE() { return summary_of(Form::User); }

std::optional<Market> parse_market(std::string_view text) {
  const std::string u = upper_ascii(std::string(text));
  if (u == "A") return Market::A;
  if (u == "US") return Market::US;
  if (u == "HK") return Market::HK;
  if (u == "ETF") return Market::ETF;
  return std::nullopt;
}

std::optional<Form> parse_form(std::string_view text) {
  const std::string u = upper_ascii(std::string(text));
  if (u == "FULL") return Form::Full;
  if (u == "SYSTEM") return Form::System;
  if (u == "USER") return Form::User;
  return std::nullopt;
}

std::string_view market_name(Market market) {
  switch (market) {
    case Market::A: return "A";
    case Market::US: return "US";
    case Market::HK: return "HK";
    case Market::ETF: return "ETF";
  }
  return "";
}

std::string_view form_name(Form form) {
  switch (form) {
    case Form::Full: return "full";
    case Form::System: return "system";
    case Form::User: return "user";
  }
  return "";
}

const std::string& stock_template(Market market, Form form) { return stock_of(market, form); }

const std::string& stock_template(std::string_view market_type, Form form) {
  // Instrument market types are exact texts; the case-insensitive parse is for people typing.
  const auto market = parse_market(market_type);
  if (!market || market_name(*market) != market_type) {
    throw ValueError("未知的市场类型 '" + std::string(market_type) +
                     "'：股票分析模板只支持 A、US、HK、ETF");
  }
  return stock_template(*market, form);
}

const std::string& summary_template(Form form) { return summary_of(form); }

}  // namespace quorvel::agent::prompts::vellumor
