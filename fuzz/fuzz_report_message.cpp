// libFuzzer entry: report-store messages as the notifier reads them off a stream. The input is
// (1) an entry's payload, parsed and turned into a push as quorvel-notify does (it catches any
// std::exception and skips the entry), and (2) the texts of a market brief and a buy analysis that
// the store publishes (message_text) and the notifier reads back. A push is made exactly for a brief
// and for a buy, carries the message id as its id and edition, and its title and text are fit to
// print and to send (outside text, valid UTF-8).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "quorvel/agent/schemas/decision.h"
#include "quorvel/commands/quorvel-notify/notification.h"
#include "quorvel/report/message.h"
#include "quorvel/utils/json_display.h"

namespace report = quorvel::report;
using Json = nlohmann::ordered_json;

namespace {

void check_push(const Json& message, const std::optional<quorvel::delivery::Digest>& push) {
  if (!push) return;
  const std::string id = quorvel::string_member(message, "id");
  fuzz::check(!id.empty() && push->id == id && push->edition == id, "a push is keyed by the message id");
  fuzz::check(fuzz::clean_text(push->title), "the push title is filtered");
  fuzz::check(fuzz::clean_text(push->markdown), "the push text is filtered");
  fuzz::check(fuzz::clean_text(push->day), "the push day is filtered");
  fuzz::check(quorvel::is_valid_utf8(push->html), "the push page is UTF-8");
}

// The input cut at line feeds into the fields of a published message; missing ones are empty.
std::vector<std::string> fields(std::string_view text, std::size_t n) {
  std::vector<std::string> out;
  while (out.size() + 1 < n) {
    const auto nl = text.find('\n');
    if (nl == std::string_view::npos) break;
    out.emplace_back(text.substr(0, nl));
    text.remove_prefix(nl + 1);
  }
  out.emplace_back(text);
  out.resize(n);
  return out;
}

Json read_back(const Json& message) {
  const std::string text = report::message_text(message);
  const Json parsed = Json::parse(text, nullptr, false);
  fuzz::check(!parsed.is_discarded() && parsed.is_object(), "a published message is a JSON object");
  fuzz::check(quorvel::is_valid_utf8(text), "a published message is UTF-8");
  return parsed;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  try {
    const Json message = Json::parse(input);
    check_push(message, quorvel::notify::notification_of(message));
  } catch (const std::exception&) {
  }

  const auto f = fields(input, 7);
  const report::MessageHeader header{f[0], "2025-06-30T06:58:12.310Z", 40};

  const Json brief = read_back(report::solvara_message(header, {f[1], f[6], f[2], f[3], f[4]}));
  const auto brief_push = quorvel::notify::notification_of(brief);
  fuzz::check(brief_push.has_value() == !quorvel::string_member(brief, "id").empty(), "a brief with an id is pushed");
  check_push(brief, brief_push);

  const std::string_view action = quorvel::agent::schemas::ACTION_ENUM[size % 3];  // one of the buys
  Json decision = {{"action", action}, {"direction", f[5]}, {"entry_price_low", 10.1}, {"key_watch", f[6]}};
  report::AnalysisReport analysis;
  analysis.stock_code = f[1];
  analysis.stock_name = f[5];
  analysis.analysis_time = f[2];
  analysis.content = f[6];
  analysis.llm_model = f[4];
  analysis.current_price = double(size);
  analysis.review_required = (size & 8) != 0;
  analysis.plan_checks = Json::array({{{"level", "hard"}, {"passed", false}, {"label", f[3]}}});
  const Json buy = read_back(report::analysis_message(header, analysis, decision));
  const auto buy_push = quorvel::notify::notification_of(buy);
  fuzz::check(buy_push.has_value() == !quorvel::string_member(buy, "id").empty(), "a buy with an id is pushed");
  check_push(buy, buy_push);
  return 0;
}
