#include "tarnel/online/tencent_provider.h"

#include <algorithm>
#include <cmath>
#include <map>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "contracts/dates.h"
#include "quorvel/utils/outside_text.h"
#include "tarnel/online/fetcher.h"
#include "tarnel/online/reply_text.h"

namespace tarnel::online {

namespace {

const std::map<std::string, std::string>& us_index_symbols() {
  static const std::map<std::string, std::string> ids{{"us.GSPC", "usINX"}, {"us.IXIC", "usIXIC"}, {"us.DJI", "usDJI"}};
  return ids;
}

std::optional<double> number_of(const nlohmann::json& v) {
  if (v.is_number()) return std::isfinite(v.get<double>()) ? std::optional(v.get<double>()) : std::nullopt;
  if (v.is_string()) return number_text_value(v.get_ref<const std::string&>());
  return std::nullopt;
}

// Lots of 100 shares, except on the STAR market. Only the Shanghai and Shenzhen stock rows are known
// to count so; for funds, Beijing, Hong Kong, US and index rows this is the assumed unit, checked
// against the amounts where the rows carry them (check_volume_unit).
double volume_unit(const std::string& symbol) {
  if (symbol.rfind("sh68", 0) == 0) return 1.0;
  return (symbol.rfind("sh", 0) == 0 || symbol.rfind("sz", 0) == 0 || symbol.rfind("bj", 0) == 0) ? 100.0 : 1.0;
}

const char* block_name(const SeriesRequest& r) {
  if (r.kind == InstrumentKind::index) return "day";
  switch (r.adjustment) {
    case Adjustment::forward: return "qfqday";
    case Adjustment::backward: return "hfqday";
    case Adjustment::none: return "day";
  }
  return "day";
}

std::string path_of(Market m) {
  if (m == Market::HK) return "hkfqkline";
  if (m == Market::US) return "usfqkline";
  return "fqkline";
}

std::string name_of(const nlohmann::json& block, const std::string& symbol) {
  const auto qt = block.find("qt");
  if (qt == block.end() || !qt->is_object()) return "";
  const auto entry = qt->find(symbol);
  if (entry == qt->end() || !entry->is_array() || entry->size() < 2 || !(*entry)[1].is_string()) return "";
  return quorvel::outside_text((*entry)[1].get<std::string>());
}

}  // namespace

bool TencentProvider::supports(const SeriesRequest&) const { return true; }

std::vector<std::string> tencent_symbols(const SeriesRequest& request) {
  if (!request.symbol.empty()) return {request.symbol};
  const std::string& c = request.code.code;
  switch (request.code.market) {
    case Market::ETF: return {(c[0] == '5' ? "sh" : "sz") + c};
    case Market::A:
    case Market::HK: return {c.substr(0, 2) + c.substr(3)};
    case Market::US: {
      if (const auto it = us_index_symbols().find(c); it != us_index_symbols().end()) return {it->second};
      // Listing venue suffixes: Nasdaq, NYSE, NYSE American (AMEX).
      const std::string t = "us" + c.substr(3);
      return {t + ".OQ", t + ".N", t + ".AM"};
    }
  }
  return {};
}

std::string tencent_url(const std::string& base_url, const std::string& symbol, const SeriesRequest& request,
                        Date first, Date last) {
  const std::string adj = request.kind == InstrumentKind::index || request.adjustment == Adjustment::none ? ""
                          : request.adjustment == Adjustment::forward                                  ? "qfq"
                                                                                                       : "hfq";
  return fmt::format("{}/appstock/app/{}/get?param={},day,{},{},640,{}", base_url, path_of(request.code.market), symbol,
                     date_text(first), date_text(last), adj);
}

SeriesReply parse_tencent_reply(const std::string& body, const std::string& symbol, const SeriesRequest& request) {
  SeriesReply reply;
  reply.symbol = symbol;
  const auto json = nlohmann::json::parse(json_payload(body), nullptr, false);
  if (json.is_discarded() || !json.is_object()) return failed_reply(reply, "回复不是完整的 JSON");
  if (const auto code = json.find("code"); code != json.end() && !(code->is_number() && code->get<double>() == 0))
    return failed_reply(reply, "回复的 code 不为 0: " + code->dump());
  const auto data = json.find("data");
  const auto block = data != json.end() && data->is_object() ? data->find(symbol) : json.end();
  if (data == json.end() || !data->is_object() || block == data->end() || !block->is_object()) {
    reply.outcome = SeriesReply::Outcome::unknown;
    return reply;
  }
  reply.name = name_of(*block, symbol);
  const char* wanted = block_name(request);
  auto rows = block->find(wanted);
  if (rows == block->end() && std::string(wanted) != "day") {
    const auto raw = block->find("day");
    if (raw != block->end() && raw->is_array() && !raw->empty()) return failed_reply(reply, "只有未复权数据");
  }
  if (rows == block->end() || rows->is_null() || (rows->is_array() && rows->empty())) {
    reply.outcome = SeriesReply::Outcome::empty;
    return reply;
  }
  if (!rows->is_array()) return failed_reply(reply, std::string(wanted) + " 不是数组");
  const double unit = volume_unit(symbol);
  const bool a_share_amount = request.code.market == Market::A || request.code.market == Market::ETF;
  for (const auto& row : *rows) {
    if (!row.is_array() || row.size() < 6 || !row[0].is_string()) return failed_reply(reply, "K 线行格式错误: " + row.dump().substr(0, 80));
    const auto day = try_parse_date(row[0].get_ref<const std::string&>());
    const auto open = number_of(row[1]), close = number_of(row[2]), high = number_of(row[3]), low = number_of(row[4]),
               volume = number_of(row[5]);
    if (!day || !open || !close || !high || !low || !volume)
      return failed_reply(reply, "K 线行格式错误: " + row.dump().substr(0, 80));
    double amount = std::nan("");
    if (a_share_amount && row.size() >= 9 && row[6].is_object())
      if (const auto wan = number_of(row[8])) amount = *wan * 10000.0;  // 万元 → yuan
    reply.rows.push_back({*day, *open, *high, *low, *close, *volume * unit, amount});
  }
  reply.outcome = SeriesReply::Outcome::bars;
  return reply;
}

SeriesReply TencentProvider::fetch(const SeriesRequest& request, Fetcher& fetcher) {
  SeriesReply last;
  for (const auto& symbol : tencent_symbols(request)) {
    SeriesReply all;
    all.symbol = symbol;
    all.outcome = SeriesReply::Outcome::empty;
    for (Date from = request.first; from <= request.last; from += date::days{TENCENT_WINDOW_DAYS}) {
      const Date to = std::min(request.last, from + date::days{TENCENT_WINDOW_DAYS - 1});
      const FetchResult got = fetcher.get(tencent_url(base_url_, symbol, request, from, to));
      if (!got.ok) {
        all.unreachable = got.unreachable;
        return failed_reply(all, got.failure);
      }
      SeriesReply part = parse_tencent_reply(got.body, symbol, request);
      if (part.outcome == SeriesReply::Outcome::failed) return part;
      if (part.outcome == SeriesReply::Outcome::unknown) {
        all.outcome = SeriesReply::Outcome::unknown;
        break;
      }
      if (!part.name.empty()) all.name = part.name;
      // The host may answer the last rows before `to` whatever the start: keep the window's own.
      std::erase_if(part.rows, [&](const BarRow& r) { return r.date < from || r.date > to; });
      if (!part.rows.empty()) all.outcome = SeriesReply::Outcome::bars;
      all.rows.insert(all.rows.end(), part.rows.begin(), part.rows.end());
    }
    if (all.outcome != SeriesReply::Outcome::unknown) return all;
    last = all;
  }
  return last;
}

}  // namespace tarnel::online
