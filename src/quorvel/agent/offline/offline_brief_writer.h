#pragma once
// The offline analyst's market brief: a deterministic, rule-based answer to the brief prompt, written
// only from the prompt's own authoritative blocks (verdict, index table, facts, sentiment block), in
// the brief's four-section layout. Lets every command run end to end without a network.
#include <optional>
#include <string>
#include <vector>

namespace quorvel::agent::offline {

// What the writer reads out of a brief user message.
struct BriefPromptFacts {
  std::string market_label;  // e.g. "A 股大盘（上证、…）"
  std::string bias, strength, strategy, rationale;
  std::vector<std::string> table_lines;  // the core index table, verbatim
  struct IndexFact {
    std::string name, pct, ratio, ma_fact;
  };
  std::vector<IndexFact> facts;
  std::vector<std::string> sentiment_lines;  // the "- D线：…" / "- W线：…" lists, verbatim
};

// True when the text is a market-brief user message.
bool is_brief_prompt(const std::string& user_message);
// Reads the blocks; nothing when the verdict block is missing.
std::optional<BriefPromptFacts> parse_brief_prompt(const std::string& user_message);
// The brief. The market-judgement, index and risk sections hold 200-280 characters of prose (the
// verbatim table not counted); the sentiment section appears only when the prompt carries one.
std::string write_offline_brief(const BriefPromptFacts& facts);
// Characters of prose in the counted sections of a brief written by write_offline_brief.
std::size_t counted_characters(const std::string& brief);

}  // namespace quorvel::agent::offline
