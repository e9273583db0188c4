#pragma once
// Internal to the vellumor library: the section texts and builders from which the templates of
// templates.h are assembled. Consumers use templates.h; tests use this header to check the
// assembly itself.
//
// Section texts are constant-initialised views of string literals, so they are valid before any
// dynamic initialisation runs. Builders take text and return text.
#include <string>
#include <string_view>

namespace quorvel::agent::prompts::vellumor {

namespace detail {

// Sections shared by all four markets.
extern const std::string_view STEP1_FRAME_DERIVE;
extern const std::string_view KLINE_COMBOS;
extern const std::string_view TREND_STRENGTH;  // ADX line of 2.1
extern const std::string_view WHIPSAW_PROTECTION;
extern const std::string_view VOLUME_EXTREMES;
extern const std::string_view OBV_RISKFLAGS;
extern const std::string_view STEP23_MOMENTUM;
extern const std::string_view SECTION_24_CONFLICT;
extern const std::string_view STOPLOSS_PRICING;
extern const std::string_view STEP4_TARGETS_RRR;
extern const std::string_view TIME_STOP_TRAILING;
extern const std::string_view STEP5_HEADER;
extern const std::string_view STEP53_SELF_CHECK;
extern const std::string_view STEP6_SCHEMA_SYSTEM;
extern const std::string_view STEP6_EXAMPLE_USER;
// The schema with the example before its output rules (build_json_section), built once on first use.
const std::string& step6_json_section();
extern const std::string_view USER_KICKOFF;
extern const std::string_view SUMMARY_USER_BLOCK;
extern const std::string_view SUMMARY_PROMPT_TEXT;
extern const std::string_view SYSTEM_USER_SEP;  // kept for consumers that join system and user text

// Market notes (items 5-8). Their rule and currency items reach the templates as the unnumbered
// market rules block after the shared notes; see _build_market_rules.
extern const std::string_view NOTES_MID_A;
extern const std::string_view NOTES_MID_US;
extern const std::string_view NOTES_MID_HK;
extern const std::string_view NOTES_MID_ETF;
extern const std::string_view MARKET_RULES_EXTRA_A;  // board limit bands, lot, T+1 buffer vs the cap
extern const std::string_view MARKET_RULES_EXTRA_ETF;  // settlement by fund type, band, lot, liquidity tier

// Market-specific pieces, in the order in which they appear in a full prompt.
extern const std::string_view ROLE_A, ROLE_US, ROLE_HK, ROLE_ETF;
extern const std::string_view STEP1_OPEN_A, STEP1_OPEN_US, STEP1_OPEN_HK, STEP1_OPEN_ETF;
// Market-verdict line, then Step 2 with 2.0 and the start of 2.1.
extern const std::string_view STEP2_OPEN_A, STEP2_OPEN_US, STEP2_OPEN_HK, STEP2_OPEN_ETF;
extern const std::string_view STEP22_OPEN_A, STEP22_OPEN_US, STEP22_OPEN_HK, STEP22_OPEN_ETF;
extern const std::string_view ETF_LIQUIDITY_PREMIUM;
extern const std::string_view STEP3_OPEN_A, STEP3_OPEN_US, STEP3_OPEN_HK, STEP3_OPEN_ETF;
extern const std::string_view RISK_US, RISK_HK, RISK_ETF;
// Holder plan (5.1) and the opening of the cash-holder plan (5.2).
extern const std::string_view PLANS_A, PLANS_US, PLANS_HK, PLANS_ETF;
extern const std::string_view WAIT_PLAN_ENTRY_TRIGGER;  // ETF
extern const std::string_view WAIT_PLAN_KEY_PRICES;     // A-share, US
extern const std::string_view WAIT_PLAN_KEY_LEVELS;     // Hong Kong

// The texts and labels that make up one market's full prompt.
struct MarketPieces {
  std::string_view code_label;
  std::string_view name_label;
  std::string_view daily_label;
  std::string_view weekly_label;
  std::string_view entity;
  std::string_view step0_label;
  std::string_view ohlc_example;
  std::string_view role;
  std::string_view step1_open;
  std::string_view step2_open;
  std::string_view step22_open;
  std::string_view after_obv;  // "\n", or the ETF liquidity and premium block
  std::string_view step3_open;
  std::string_view risk_block;  // empty for A-shares
  std::string_view plans;
  std::string_view wait_plan;
  std::string_view notes_mid;
  std::string_view market_label;  // heading of the market rules block: A股, 美股, 港股, ETF
  std::string_view rules_extra;   // further rule lines of that block (A-shares and funds)
};

extern const MarketPieces A_PIECES, US_PIECES, HK_PIECES, ETF_PIECES;

// The Step 6 schema with the example inserted before its output rules.
std::string build_json_section();
// The full analysis prompt of one market.
std::string build_full_prompt(const MarketPieces& m);

}  // namespace detail

std::string _build_input_header(std::string_view code_lbl, std::string_view name_lbl,
                                std::string_view daily_lbl, std::string_view weekly_lbl);
std::string _build_data_fields(std::string_view ohlc_example);
std::string _build_input_env_section(std::string_view env_entity);
std::string _build_framework_header(std::string_view step0_label);
std::string _build_env_and_framework_header(std::string_view env_entity, std::string_view step0_label);
// The shared notes, then `market_rules` (the market's rules block), then the start instruction.
std::string _build_notes(std::string_view market_rules);
// "## 市场规则（<market_label>）" with the items of the market notes `mid` other than the JSON and
// reward/risk items (stated once in 6.3 and note 1), unnumbered, then the lines of `extra`. The
// block is the same bytes for every stock of the market.
std::string _build_market_rules(std::string_view market_label, std::string_view mid, std::string_view extra);
std::string _build_user_template(std::string_view code_label, std::string_view name_label,
                                 std::string_view daily_label, std::string_view weekly_label,
                                 std::string_view env_entity);
// Removes the per-stock parts from `full_prompt`. Throws quorvel::ValueError naming the part that
// could not be found.
std::string _derive_system_template(std::string_view full_prompt, std::string_view code_label,
                                    std::string_view name_label, std::string_view daily_label,
                                    std::string_view weekly_label, std::string_view env_entity);
// SUMMARY_PROMPT without its user block. Throws quorvel::RuntimeError when the block is missing.
std::string _split_summary_system(std::string_view summary_prompt);

}  // namespace quorvel::agent::prompts::vellumor
