#pragma once
// The ETF universe file (YAML) of the sentiment thermometer, the radar and the fund rules:
//
//   name: A股ETF情绪样本
//   etfs:
//     - {code: "510050", name: 上证50ETF, category: 宽基}
//
// `code` is required; `name` and `category` are optional. Codes keep their text form (no canonical
// spelling is imposed); codes, names and categories are filtered as outside text
// (quorvel/utils/outside_text.h).
#include <string>
#include <vector>

namespace quorvel {

struct EtfEntry {
  std::string code;
  std::string name;
  std::string category;
};

struct EtfUniverse {
  std::string name;
  std::vector<EtfEntry> etfs;  // file order, duplicates removed (first kept)
};

// Reads the universe file; a quorvel::RuntimeError naming the file when it is missing, is not valid
// YAML, lacks the `etfs` list or lists no code.
EtfUniverse load_etf_universe(const std::string& path);
// The same from the file's text; `path` names it in the messages.
EtfUniverse parse_etf_universe(const std::string& text, const std::string& path);

}  // namespace quorvel
