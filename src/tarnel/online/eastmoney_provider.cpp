#include "tarnel/online/eastmoney_provider.h"

#include <map>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "contracts/dates.h"
#include "quorvel/utils/outside_text.h"
#include "tarnel/online/fetcher.h"
#include "tarnel/online/reply_text.h"

namespace tarnel::online {

namespace {

// Index identifiers of the host that differ from the code's own letters.
const std::map<std::string, std::vector<std::string>>& index_secids() {
  static const std::map<std::string, std::vector<std::string>> ids{
      {"hk.HSI", {"100.HSI"}},         {"hk.HSCEI", {"100.HSCEI"}}, {"hk.HSTECH", {"124.HSTECH", "100.HSTECH"}},
      {"us.GSPC", {"100.SPX"}},        {"us.DJI", {"100.DJIA"}},
      {"us.IXIC", {"100.NDX"}},  // the host's "NDX" is the Nasdaq Composite; the Nasdaq-100 is NDX100
  };
  return ids;
}

std::string yyyymmdd(Date d) {
  std::string t = date_text(d);
  t.erase(std::remove(t.begin(), t.end(), '-'), t.end());
  return t;
}

// Shanghai (1), Shenzhen and Beijing (0) quote volume in lots; other markets are assumed to count
// shares, which the amounts confirm except for index rows ("100.": unverified, check_volume_unit).
bool volume_in_lots(const std::string& secid) { return secid.rfind("0.", 0) == 0 || secid.rfind("1.", 0) == 0; }

}  // namespace

std::vector<std::string> eastmoney_secids(const SeriesRequest& request) {
  const std::string& c = request.code.code;
  if (!request.symbol.empty()) return {request.symbol};
  if (const auto it = index_secids().find(c); it != index_secids().end()) return it->second;
  switch (request.code.market) {
    case Market::ETF: return {(c[0] == '5' ? "1." : "0.") + c};
    case Market::A: return {(c.rfind("sh.", 0) == 0 ? "1." : "0.") + c.substr(3)};
    case Market::HK: return {(request.kind == InstrumentKind::index ? "100." : "116.") + c.substr(3)};
    case Market::US: {
      if (request.kind == InstrumentKind::index) return {"100." + c.substr(3)};
      return {"105." + c.substr(3), "106." + c.substr(3), "107." + c.substr(3)};
    }
  }
  return {};
}

std::string eastmoney_url(const std::string& base_url, const std::string& secid, const SeriesRequest& request) {
  const Adjustment adj = request.kind == InstrumentKind::index ? Adjustment::none : request.adjustment;
  const int fqt = adj == Adjustment::forward ? 1 : adj == Adjustment::backward ? 2 : 0;
  return fmt::format(
      "{}/api/qt/stock/kline/get?secid={}&fields1=f1,f2,f3,f4,f5,f6&fields2=f51,f52,f53,f54,f55,f56,f57"
      "&klt=101&fqt={}&beg={}&end={}",
      base_url, secid, fqt, yyyymmdd(request.first), yyyymmdd(request.last));
}

SeriesReply parse_eastmoney_reply(const std::string& body, const std::string& secid) {
  SeriesReply reply;
  reply.symbol = secid;
  const auto json = nlohmann::json::parse(json_payload(body), nullptr, false);
  if (json.is_discarded() || !json.is_object()) return failed_reply(reply, "回复不是完整的 JSON");
  if (const auto rc = json.find("rc"); rc != json.end() && !(rc->is_number() && rc->get<double>() == 0))
    return failed_reply(reply, "回复的 rc 不为 0: " + rc->dump());
  const auto data = json.find("data");
  if (data == json.end() || data->is_null()) {
    reply.outcome = SeriesReply::Outcome::unknown;
    return reply;
  }
  if (!data->is_object()) return failed_reply(reply, "data 不是对象");
  if (const auto n = data->find("name"); n != data->end() && n->is_string()) reply.name = quorvel::outside_text(n->get<std::string>());
  const auto klines = data->find("klines");
  if (klines == data->end() || klines->is_null() || (klines->is_array() && klines->empty())) {
    reply.outcome = SeriesReply::Outcome::empty;
    return reply;
  }
  if (!klines->is_array()) return failed_reply(reply, "klines 不是数组");
  const double lot = volume_in_lots(secid) ? 100.0 : 1.0;
  for (const auto& line : *klines) {
    if (!line.is_string()) return failed_reply(reply, "K 线行不是文本");
    const std::string& text = line.get_ref<const std::string&>();
    const auto f = split_fields(text, ',');
    const auto day = f.size() >= 7 ? try_parse_date(f[0]) : std::nullopt;
    const auto open = field_number(f, 1), close = field_number(f, 2), high = field_number(f, 3),
               low = field_number(f, 4), volume = field_number(f, 5);
    if (!day || !open || !close || !high || !low || !volume)
      return failed_reply(reply, "K 线行格式错误: '" + text.substr(0, 80) + "'");
    const double amount = field_number(f, 6).value_or(std::nan(""));
    reply.rows.push_back({*day, *open, *high, *low, *close, *volume * lot, amount});
  }
  reply.outcome = SeriesReply::Outcome::bars;
  return reply;
}

SeriesReply EastmoneyProvider::fetch(const SeriesRequest& request, Fetcher& fetcher) {
  SeriesReply last;
  for (const auto& secid : eastmoney_secids(request)) {
    const FetchResult got = fetcher.get(eastmoney_url(base_url_, secid, request));
    if (!got.ok) {
      last.symbol = secid;
      last.unreachable = got.unreachable;
      return failed_reply(last, got.failure);
    }
    last = parse_eastmoney_reply(got.body, secid);
    if (last.outcome != SeriesReply::Outcome::unknown) return last;
  }
  return last;
}

bool EastmoneyProvider::supports(const SeriesRequest&) const { return true; }

}  // namespace tarnel::online
