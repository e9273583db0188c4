#pragma once
// Configuration of the online market data, from the environment:
//   TARNEL_ONLINE               0/false/off/no switches online filling off (default: on)
//   TARNEL_PROVIDERS            provider order, comma separated (default "eastmoney,tencent")
//   TARNEL_ADJUST               qfq (default), none or hfq: price adjustment of stock and fund series
//   TARNEL_EASTMONEY_URL        base URL of the Eastmoney K-line host
//   TARNEL_TENCENT_URL          base URL of the Tencent K-line host
//   TARNEL_REQUEST_INTERVAL_MS  least time between two requests to one host (default 300)
//   TARNEL_HTTP_TIMEOUT_MS      total time-out of one request (default 20000)
#include <memory>
#include <string>
#include <vector>

#include "tarnel/online/fetcher.h"
#include "tarnel/online/provider.h"

namespace tarnel::online {

inline constexpr const char* DEFAULT_EASTMONEY_URL = "https://push2his.eastmoney.com";
inline constexpr const char* DEFAULT_TENCENT_URL = "https://web.ifzq.gtimg.cn";

struct OnlineConfig {
  bool enabled = true;
  std::vector<std::string> providers{"eastmoney", "tencent"};
  Adjustment adjustment = Adjustment::forward;
  std::string eastmoney_url = DEFAULT_EASTMONEY_URL;
  std::string tencent_url = DEFAULT_TENCENT_URL;
  FetchPolicy fetch;
};

// The configuration of the environment; a quorvel::ValueError naming the variable for a value it
// cannot use (an unknown provider or adjustment, a malformed number).
OnlineConfig online_config_from_env();

// The providers of the configuration, in its order.
std::vector<std::unique_ptr<Provider>> make_providers(const OnlineConfig& config);

}  // namespace tarnel::online
