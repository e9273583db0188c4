#pragma once
// Daily K-lines from Eastmoney's history host ("/api/qt/stock/kline/get"), for A-shares, funds,
// A-share, Hong Kong and US indices, Hong Kong and US stocks.
//
// Reply: {"rc":0,"data":{"name":..,"klines":["date,open,close,high,low,volume,amount",...]}};
// `data` is null for an identifier the host does not know. Units on arrival: Shanghai/Shenzhen/
// Beijing volume is in lots of 100 shares (converted to shares), amount in yuan; Hong Kong and US
// volume in shares, amount in the quote currency.
#include <string>
#include <vector>

#include "tarnel/online/provider.h"

namespace tarnel::online {

class EastmoneyProvider final : public Provider {
 public:
  explicit EastmoneyProvider(std::string base_url) : base_url_(std::move(base_url)) {}
  std::string_view name() const override { return "eastmoney"; }
  bool supports(const SeriesRequest& request) const override;
  SeriesReply fetch(const SeriesRequest& request, Fetcher& fetcher) override;

 private:
  std::string base_url_;
};

// The identifiers ("secid") to try for the instrument, in order: a US stock may trade on NASDAQ
// (105), NYSE (106) or AMEX (107).
std::vector<std::string> eastmoney_secids(const SeriesRequest& request);

// The K-line URL of one identifier for the request's range and adjustment.
std::string eastmoney_url(const std::string& base_url, const std::string& secid, const SeriesRequest& request);

// Parses a reply body for `secid` (a pure function; failed/unknown/empty/bars as in SeriesReply).
SeriesReply parse_eastmoney_reply(const std::string& body, const std::string& secid);

}  // namespace tarnel::online
