#pragma once
// Daily K-lines from Tencent's quote host ("/appstock/app/fqkline/get", "hkfqkline", "usfqkline").
//
// Reply: {"code":0,"data":{"sh600000":{"qfqday":[[date,open,close,high,low,volume,...],...],
// "qt":{"sh600000":["1","<name>",...]}}}}; the rows sit under "qfqday", "hfqday" or "day"
// (unadjusted, and the only block of an index). At most 640 rows come per request, so a long range
// is asked in windows. Units on arrival: Shanghai/Shenzhen/Beijing volume is in lots of 100 shares
// except on the STAR market (shares); amount, when the row carries it, in 10,000 yuan; Hong Kong
// and US volume in shares, their amount is not taken (its unit is not documented).
#include <string>
#include <vector>

#include "tarnel/online/provider.h"

namespace tarnel::online {

class TencentProvider final : public Provider {
 public:
  explicit TencentProvider(std::string base_url) : base_url_(std::move(base_url)) {}
  std::string_view name() const override { return "tencent"; }
  bool supports(const SeriesRequest& request) const override;
  SeriesReply fetch(const SeriesRequest& request, Fetcher& fetcher) override;

 private:
  std::string base_url_;
};

// Calendar days per request window: fewer than 640 trading days in every market.
inline constexpr int TENCENT_WINDOW_DAYS = 800;

// The host's symbols to try, in order (a US stock needs its exchange suffix: .OQ, .N or .A).
std::vector<std::string> tencent_symbols(const SeriesRequest& request);
std::string tencent_url(const std::string& base_url, const std::string& symbol, const SeriesRequest& request,
                        Date first, Date last);
// Parses one window's reply for `symbol` (a pure function).
SeriesReply parse_tencent_reply(const std::string& body, const std::string& symbol, const SeriesRequest& request);

}  // namespace tarnel::online
