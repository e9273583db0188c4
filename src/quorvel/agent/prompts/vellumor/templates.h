#pragma once
// Prompt templates of the single-stock analysis (one family per market) and of the trading summary.
//
// The templates are assembled together on first use (any accessor below) and never change
// afterwards; a text that cannot be assembled fails that call with a ValueError or RuntimeError
// naming the missing part, not every program at start-up. Thread-safe. Each market family exists in three forms:
//   - the full prompt (everything in one text, with placeholders);
//   - the system template: the full prompt without the per-stock parts. It holds no placeholder and
//     no brace, so it is byte-identical for every instrument of a market (a cacheable prefix);
//   - the user template: only the per-stock parts, with placeholders.
//
// Placeholders are names in single braces ("{stock_code}"); a literal brace is doubled. Stock
// templates (full and user) take, in order of first appearance: stock_code, stock_name,
// analysis_time, current_price, pct_change, stock_data, stock_week_data, pattern_info,
// market_ai_brief. The summary templates (full and user) take analysis_report. Fill them with
// render() from render.h; system templates are used as they are.
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::agent::prompts::vellumor {

const std::string& A_STOCK_PROMPT();
const std::string& US_STOCK_PROMPT();
const std::string& HK_STOCK_PROMPT();
const std::string& ETF_STOCK_PROMPT();
const std::string& SUMMARY_PROMPT();
const std::string& A_STOCK_SYSTEM_TEMPLATE();
const std::string& A_STOCK_USER_TEMPLATE();
const std::string& US_STOCK_SYSTEM_TEMPLATE();
const std::string& US_STOCK_USER_TEMPLATE();
const std::string& HK_STOCK_SYSTEM_TEMPLATE();
const std::string& HK_STOCK_USER_TEMPLATE();
const std::string& ETF_STOCK_SYSTEM_TEMPLATE();
const std::string& ETF_STOCK_USER_TEMPLATE();
const std::string& SUMMARY_SYSTEM_TEMPLATE();
const std::string& SUMMARY_USER_TEMPLATE();

enum class Market { A, US, HK, ETF };
enum class Form { Full, System, User };

// "A", "US", "HK", "ETF" (letter case ignored); nullopt for anything else.
std::optional<Market> parse_market(std::string_view text);
// "full", "system", "user" (letter case ignored); nullopt for anything else.
std::optional<Form> parse_form(std::string_view text);
std::string_view market_name(Market market);  // "A", "US", "HK", "ETF"
std::string_view form_name(Form form);        // "full", "system", "user"

// The template of one market family in one form.
const std::string& stock_template(Market market, Form form);
// Same, selected by the market-type text of an instrument ("A", "US", "HK", "ETF"). Throws
// quorvel::ValueError naming the text when it is no known market type.
const std::string& stock_template(std::string_view market_type, Form form);
// The summary prompt in one form.
const std::string& summary_template(Form form);

}  // namespace quorvel::agent::prompts::vellumor
