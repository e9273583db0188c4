#include "offline/stated_claims.h"

#include <algorithm>
#include <cmath>
#include <regex>

#include <fmt/format.h>

namespace quorvel::testing {

namespace {

using Json = nlohmann::ordered_json;

// Printed numbers are read back from text; a cited reading matches its source within this.
constexpr double SAME = 1e-6;

bool holds(double a, const std::string& op, double b) {
  return op == ">" ? a > b : op == "<" ? a < b : op == "=" ? a == b : op == "≥" ? a >= b : op == "≤" ? a <= b : false;
}

std::string tier_of(const std::string& bias) {
  return bias == "偏多" ? "强势档" : bias == "震荡" ? "中性档" : "弱势档";
}
double adx_threshold(const std::string& bias) { return bias == "偏多" ? 25 : bias == "震荡" ? 22 : 28; }

double rules_number(const Json& pattern, const char* key) {
  const Json& rules = pattern.at("trading_rules");
  return rules.contains(key) && rules[key].is_number() ? rules[key].get<double>() : NAN;
}

struct Checker {
  const std::string& reply;
  const ClaimInputs& in;
  ClaimReport& out;

  void fail(const std::string& family, const std::string& text, const std::string& why) {
    out.false_claims.push_back(family + "「" + text + "」: " + why);
  }

  template <typename F>
  void each(const std::regex& re, F&& f) {
    for (std::sregex_iterator it(reply.begin(), reply.end(), re), end; it != end; ++it) f(*it);
  }

  // "ADX 25.45 > 25（强势档阈值）": the relation holds, the reading is the prompt's last one, and a
  // named threshold is the tier's.
  void comparisons() {
    static const std::regex re(
        R"((ADX|RSI|量比) (-?[0-9]+\.[0-9]+) (>|<|=|≥|≤) (-?[0-9.]+)(（(强势档|中性档|弱势档)阈值）)?)");
    each(re, [&](const std::smatch& m) {
      ++out.checked["比较"];
      const double x = std::stod(m[2]), y = std::stod(m[4]);
      const std::string column = m[1] == "量比" ? "Volume_Ratio" : m[1].str();
      if (!holds(x, m[3], y)) fail("比较", m[0], "关系不成立");
      if (std::fabs(x - in.bars.last(column)) > SAME)
        fail("比较", m[0], fmt::format("提示词中的值为 {}", in.bars.last(column)));
      if (m[6].matched && (m[6] != tier_of(in.bias) || y != adx_threshold(in.bias)))
        fail("比较", m[0], "bias " + in.bias + " 的档位阈值不是它");
    });
  }

  // "EMA5/10/20/60 = a/b/c/d，均线多头排列": the prompt's EMAs, and the stack they form.
  void alignments() {
    static const std::regex re(
        R"(EMA5/10/20(/60)? = ([0-9.]+)/([0-9.]+)/([0-9.]+)(/([0-9.]+))?，均线(多头排列|空头排列|交织))");
    each(re, [&](const std::smatch& m) {
      ++out.checked["均线排列"];
      std::vector<double> v{std::stod(m[2]), std::stod(m[3]), std::stod(m[4])};
      if (m[5].matched) v.push_back(std::stod(m[6]));
      const char* cols[] = {"EMA_5", "EMA_10", "EMA_20", "EMA_60"};
      for (std::size_t i = 0; i < v.size(); ++i)
        if (std::fabs(v[i] - in.bars.last(cols[i])) > SAME)
          fail("均线排列", m[0], std::string(cols[i]) + " 不是提示词中的值");
      if (v.size() == 3 && std::isfinite(in.bars.last("EMA_60"))) fail("均线排列", m[0], "EMA60 存在却未计入");
      bool up = true, down = true;
      for (std::size_t i = 1; i < v.size(); ++i) up = up && v[i - 1] > v[i], down = down && v[i - 1] < v[i];
      if (m[7] != (up ? "多头排列" : down ? "空头排列" : "交织")) fail("均线排列", m[0], "排列与数值不符");
    });
  }

  // The stop sits under its anchor by at least the frame's buffer (T+1: at least 1 ATR), the
  // anchor is not above the entry low, and the stop is at least 0.5 ATR under the entry low.
  void stops() {
    static const std::regex re(
        R"(止损 ([0-9.]+) 低于锚点「(.*?)」([0-9.]+) 共 ([0-9.]+)×ATR（缓冲 ≥ ([0-9.]+)×ATR.*?），低于 entry_price_low ([0-9.]+) 共 ([0-9.]+)×ATR)");
    const double atr = rules_number(in.pattern, "atr");
    const auto& d = in.decision;
    const std::map<std::string, double> frame_buffer{
        {"趋势跟随", 1.0}, {"底部反转", 0.5}, {"区间震荡", 1.0}, {"均线压缩", 0.5}};
    each(re, [&](const std::smatch& m) {
      ++out.checked["止损"];
      const double s = std::stod(m[1]), a = std::stod(m[3]), k = std::stod(m[4]), b = std::stod(m[5]);
      const double e = std::stod(m[6]), gap = std::stod(m[7]);
      if (std::fabs((a - s) / atr - k) > 0.0051 || std::fabs((e - s) / atr - gap) > 0.0051)
        fail("止损", m[0], "ATR 倍数算错");
      if ((a - s) / atr < b - 1e-9) fail("止损", m[0], "低于锚点不足所称缓冲");
      const auto need = frame_buffer.find(d.strategy_mode);
      const bool t_plus_1 = in.pattern.at("trading_rules").value("settlement", "") == "T+1";
      if (need == frame_buffer.end() || b < need->second || (t_plus_1 && b < 1.0))
        fail("止损", m[0], "缓冲小于框架/T+1 要求");
      if (a > e) fail("止损", m[0], "锚点高于入场下沿");
      if ((e - s) / atr < 0.5 - 1e-9) fail("止损", m[0], "距入场下沿不足 0.5 ATR");
      if (d.action != "观望等待" && (s != d.stop_loss || e != d.entry_price_low))
        fail("止损", m[0], "与决策 JSON 不符");
    });
  }

  // Tiers in trigger order ending at target 1, stops never moving down and each under its trigger.
  void trailing() {
    if (in.decision.action == "观望等待") return;
    static const std::regex re(R"((①|②|③) 到 ([0-9.]+)(（Target 1）)? → (减仓 30-50%，余仓)?止损移至 ([0-9.]+))");
    double trigger = 0, stop = in.decision.stop_loss;
    std::string last;
    each(re, [&](const std::smatch& m) {
      ++out.checked["移动止损"];
      const double t = std::stod(m[2]), s = std::stod(m[5]);
      if (!(t > trigger)) fail("移动止损", m[0], "触发价未按顺序递增");
      if (s < stop) fail("移动止损", m[0], "止损低于前一档");
      if (!(s < t)) fail("移动止损", m[0], "止损不低于触发价");
      trigger = t, stop = s, last = m[1];
    });
    if (last != "③" || trigger != in.decision.target_1) fail("移动止损", "", "最后一档不是到达 Target 1 的档位③");
  }

  // The frame named in the decision meets the prompt's conditions for it: a trend needs the four
  // EMAs stacked upwards and ADX above the tier's threshold, a range ADX < 20, a bottom reversal no
  // upward stack, a compression EMA5/10/20 within 2% of EMA20.
  void frame() {
    ++out.checked["框架"];
    const auto& b = in.bars;
    const double e5 = b.last("EMA_5"), e10 = b.last("EMA_10"), e20 = b.last("EMA_20"), e60 = b.last("EMA_60");
    const bool stacked_up = e5 > e10 && e10 > e20 && e20 > e60;
    const std::string& mode = in.decision.strategy_mode;
    bool ok = true;
    if (mode == "趋势跟随") ok = stacked_up && b.last("ADX") > adx_threshold(in.bias);
    if (mode == "区间震荡") ok = b.last("ADX") < 20;
    if (mode == "底部反转") ok = !stacked_up;
    if (mode == "均线压缩") ok = (std::max({e5, e10, e20}) - std::min({e5, e10, e20})) / e20 < 0.02;
    if (!ok)
      fail("框架", mode,
           fmt::format("ADX {}，EMA5/10/20/60 {}/{}/{}/{} 不满足该框架", b.last("ADX"), e5, e10, e20, e60));
  }

  // Every active exit signal belongs to the frame of the decision.
  void exits() {
    static const std::regex re(R"(离场信号（[^\n]*?）已出现：([^\n]*)。)");
    static const std::map<std::string, std::vector<std::string>> family{
        {"趋势跟随", {"EMA5 ", "ADX 跌破 20", "MACD 死叉"}},
        {"底部反转", {"反转K线", "60日分位"}},
        {"区间震荡", {"放量跌破区间下沿", "布林带向下开口"}}};
    const auto it = family.find(in.decision.strategy_mode);
    const std::vector<std::string> own = it != family.end() ? it->second : std::vector<std::string>{"跌破支撑"};
    each(re, [&](const std::smatch& m) {
      const std::string signals = m[1];
      for (std::size_t b = 0; b <= signals.size();) {
        const std::size_t e = std::min(signals.find("；", b), signals.size());
        const std::string one = signals.substr(b, e - b);
        ++out.checked["离场信号"];
        bool ok = false;
        for (const auto& word : own) ok = ok || one.find(word) != std::string::npos;
        if (!ok) fail("离场信号", one, "不属于" + in.decision.strategy_mode + "的离场信号");
        b = e + std::string("；").size();
      }
    });
  }
};

}  // namespace

ClaimReport check_stated_claims(const std::string& reply, const ClaimInputs& in) {
  ClaimReport out;
  Checker c{reply, in, out};
  c.comparisons();
  c.alignments();
  c.stops();
  c.trailing();
  c.frame();
  c.exits();
  return out;
}

}  // namespace quorvel::testing
