#pragma once
// The digest of one day as it goes out to the delivery channels.
#include <string>

namespace quorvel::delivery {

struct Digest {
  std::string id;        // stable for one content ("daily-A-2023-02-10-<short hash>"): the same digest, the same id
  std::string day;       // "YYYY-MM-DD": a channel receives one digest per day and edition
  std::string edition;   // the markets it covers ("A ETF HK"), when a day has several digests; may be empty
  std::string title;     // UTF-8; the mail subject and the robots' title
  std::string markdown;  // the robots' text and the mail's plain-text part
  std::string html;      // the mail's HTML part and the JSON channel's "html"; may be empty
};

}  // namespace quorvel::delivery
