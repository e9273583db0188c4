// libFuzzer entry: a K-line reply body, read by both providers' parsers. The Eastmoney identifier
// alternates between one quoted in lots and one quoted in shares; the Tencent symbol is the first
// member of the reply's "data" (so that a reply's own rows are reached), with the market, kind and
// adjustment it implies. Nothing is thrown (the fetch loop catches nothing); a reply has rows only
// when it says "bars"; its name and failure detail are filtered outside text; the rows that
// clean_rows accepts, as the store gets them, have ascending dates and are valid bars.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "contracts/dates.h"
#include "fuzz_support.h"
#include "tarnel/online/eastmoney_provider.h"
#include "tarnel/online/reply_text.h"
#include "tarnel/online/tencent_provider.h"

using namespace tarnel;
using namespace tarnel::online;

namespace {

void check_reply(SeriesReply reply, InstrumentKind kind) {
  const bool bars = reply.outcome == SeriesReply::Outcome::bars;
  fuzz::check(bars != reply.rows.empty(), "rows come exactly with a \"bars\" reply");
  fuzz::check(fuzz::clean_text(reply.name), "the instrument name is filtered");
  fuzz::check(fuzz::clean_text(reply.detail), "the failure detail is filtered");
  fuzz::check(reply.outcome != SeriesReply::Outcome::failed || !reply.detail.empty(), "a failure says why");
  if (!bars) return;
  const Date first = parse_date("1800-01-01"), last = parse_date("2100-12-31");
  if (!clean_rows(reply.rows, first, last).empty()) return;
  for (std::size_t i = 0; i < reply.rows.size(); ++i) {
    const BarRow& r = reply.rows[i];
    fuzz::check(i == 0 || reply.rows[i - 1].date < r.date, "dates ascend, each once");
    fuzz::check(bar_values_problem(r).empty(), "an accepted row is a valid bar");
    fuzz::check(std::isfinite(r.open) && std::isfinite(r.high) && std::isfinite(r.low) && std::isfinite(r.close) &&
                    std::isfinite(r.volume) && r.high >= r.low,
                "finite prices, high >= low");
    fuzz::check(std::isnan(r.amount) || (std::isfinite(r.amount) && r.amount >= 0), "an amount is absent or finite");
  }
  const VolumeUnitCheck unit = check_volume_unit(reply.rows, kind, true);
  fuzz::check(unit.scale == 1.0 || unit.scale == 100.0 || unit.scale == 0.01, "a volume scale is 1, 100 or 1/100");
}

// The request a Tencent symbol answers: its market from the prefix, an index for the index ranges.
SeriesRequest tencent_request(const std::string& symbol, std::size_t variant) {
  SeriesRequest r;
  const std::string prefix = symbol.substr(0, 2), rest = symbol.size() > 2 ? symbol.substr(2) : "";
  r.code.market = prefix == "hk" ? Market::HK : prefix == "us" ? Market::US : Market::A;
  if (r.code.market == Market::A && !rest.empty() && (rest[0] == '5' || rest[0] == '1')) r.code.market = Market::ETF;
  r.code.code = r.code.market == Market::ETF ? rest : prefix + "." + rest;
  r.kind = rest.starts_with("000") && prefix == "sh"   ? InstrumentKind::index
           : rest.starts_with("399") && prefix == "sz" ? InstrumentKind::index
           : r.code.market == Market::ETF              ? InstrumentKind::etf
                                                       : InstrumentKind::stock;
  r.adjustment = variant % 3 == 0 ? Adjustment::forward : variant % 3 == 1 ? Adjustment::backward : Adjustment::none;
  r.first = parse_date("1990-01-01");
  r.last = parse_date("2100-12-31");
  r.symbol = symbol;
  return r;
}

std::string first_data_member(const std::string& body) {
  const auto json = nlohmann::json::parse(json_payload(body), nullptr, false);
  if (!json.is_object()) return "sh600000";
  const auto data = json.find("data");
  if (data == json.end() || !data->is_object() || data->empty()) return "sh600000";
  return data->begin().key();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  const bool lots = size % 2 == 0;
  check_reply(parse_eastmoney_reply(body, lots ? "1.600000" : "116.00700"), InstrumentKind::stock);

  const std::string symbol = first_data_member(body);
  const SeriesRequest request = tencent_request(symbol, size);
  check_reply(parse_tencent_reply(body, symbol, request), request.kind);
  return 0;
}
