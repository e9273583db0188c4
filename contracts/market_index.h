#pragma once
// Index identifiers: the members of a small enumeration whose `value` is the index's display name.
// The market-data service resolves a member to its stored bars through `code`.
#include <string_view>

namespace tarnel {

struct MarketIndex {
  std::string_view name;   // member name, e.g. "SSE_COMPOSITE"
  std::string_view value;  // display name, e.g. "上证指数"
  std::string_view code;   // instrument code of its bars in the store, e.g. "sh.000001"
  bool operator==(const MarketIndex&) const = default;
};

namespace indices {
inline constexpr MarketIndex SSE_COMPOSITE{"SSE_COMPOSITE", "上证指数", "sh.000001"};
inline constexpr MarketIndex SZSE_COMPONENT{"SZSE_COMPONENT", "深证成指", "sz.399001"};
inline constexpr MarketIndex CHINEXT{"CHINEXT", "创业板指", "sz.399006"};
inline constexpr MarketIndex STAR50{"STAR50", "科创50", "sh.000688"};
inline constexpr MarketIndex CSI300{"CSI300", "沪深300", "sh.000300"};
inline constexpr MarketIndex CSI500{"CSI500", "中证500", "sh.000905"};
inline constexpr MarketIndex HANG_SENG{"HANG_SENG", "恒生指数", "hk.HSI"};
inline constexpr MarketIndex HANG_SENG_TECH{"HANG_SENG_TECH", "恒生科技指数", "hk.HSTECH"};
inline constexpr MarketIndex SP500{"SP500", "标普500", "us.GSPC"};
inline constexpr MarketIndex NASDAQ{"NASDAQ", "纳斯达克", "us.IXIC"};
inline constexpr MarketIndex DOW_JONES{"DOW_JONES", "道琼斯", "us.DJI"};
}  // namespace indices

}  // namespace tarnel
