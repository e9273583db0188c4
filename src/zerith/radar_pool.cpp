#include "zerith/radar_pool.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "quorvel/utils/parallel_for.h"

namespace zerith {

namespace {

using Json = nlohmann::ordered_json;

// The outcome of one pool entry.
struct Outcome {
  const std::string* code = nullptr;
  Json item;
  std::string error;  // non-empty: the evaluation failed
};

bool flag(const Json& item, const char* key) {
  const auto it = item.find(key);
  return it != item.end() && it->is_boolean() && it->get<bool>();
}

std::string strategy_of(const Json& item) {
  const auto pre = item.find("pre_screen_res");
  if (pre == item.end() || !pre->is_object()) return "";
  const auto hint = pre->find("pre_screen");
  if (hint != pre->end() && hint->is_object() && hint->value("strategy_hint", Json("")).is_string()) {
    const std::string h = hint->value("strategy_hint", "");
    if (!h.empty()) return h;
  }
  const auto type = pre->find("strategy_type");
  return type != pre->end() && type->is_string() ? type->get<std::string>() : "";
}

void sort_by_score(Json& list) {
  std::stable_sort(list.begin(), list.end(), [](const Json& a, const Json& b) {
    const double sa = a["score"].get<double>(), sb = b["score"].get<double>();
    return sa != sb ? sa > sb : a["code"].get<std::string>() < b["code"].get<std::string>();
  });
}

}  // namespace

std::string radar_section(const Json& item) {
  if (flag(item, "is_risk") || flag(item, "has_sell_signal")) return SECTION_RISK;
  if (flag(item, "is_vol_abnormal")) return SECTION_VOLUME_ANOMALY;
  if (flag(item, "is_opportunity") || flag(item, "has_buy_signal")) return SECTION_OPPORTUNITY;
  return "";
}

Json radar_record(const std::string& code, const Json& item) {
  const std::string signal = flag(item, "has_sell_signal") ? "卖出" : flag(item, "has_buy_signal") ? "买入" : "";
  return Json{{"code", code},
              {"name", item.value("name", "")},
              {"as_of", item.value("as_of", Json(nullptr))},
              {"state", item.value("curr_state_cn", "")},
              {"prev_state", item.value("prev_state_cn", "")},
              {"strategy_type", strategy_of(item)},
              {"signal", signal},
              {"score", item.value("tech_score", 0.0)},
              {"vol_ratio", item.value("vol_ratio", 0.0)},
              {"change_pct", item.value("change_pct", 0.0)},
              {"amount", item.value("amount_ea", 0.0)},
              {"close", item.value("close", 0.0)},
              {"reason", item.value("reason", "")}};
}

Json analyze_radar_pool(const RadarPool& pool, const std::string& frequency, const RadarEvaluator& evaluate,
                        int threads) {
  std::vector<const RadarPool::value_type*> entries;
  for (const auto& entry : pool) entries.push_back(&entry);
  std::vector<Outcome> outcomes(entries.size());
  quorvel::parallel_for(entries.size(), threads, [&](std::size_t i) {
    const auto& [code, named_bars] = *entries[i];
    outcomes[i].code = &code;
    try {
      outcomes[i].item = evaluate(code, named_bars.first, named_bars.second);
    } catch (const std::exception& e) {
      outcomes[i].error = e.what();
      if (outcomes[i].error.empty()) outcomes[i].error = "未知错误";
    }
  });

  Json out{
      {SECTION_VOLUME_ANOMALY, Json::array()}, {SECTION_OPPORTUNITY, Json::array()}, {SECTION_RISK, Json::array()}};
  Json errors = Json::array();
  std::size_t insufficient = 0, flagged = 0;
  for (const Outcome& o : outcomes) {
    if (!o.error.empty()) {
      errors.push_back({{"code", *o.code}, {"error", o.error}});
      continue;
    }
    if (!o.item.value("data_sufficient", true)) ++insufficient;
    const std::string section = radar_section(o.item);
    if (section.empty()) continue;
    ++flagged;
    out[section].push_back(radar_record(*o.code, o.item));
  }
  for (const char* section : {SECTION_VOLUME_ANOMALY, SECTION_OPPORTUNITY, SECTION_RISK}) sort_by_score(out[section]);
  out["frequency"] = frequency;
  out["summary"] = {{"total", outcomes.size()},
                    {"evaluated", outcomes.size() - errors.size()},
                    {"flagged", flagged},
                    {"insufficient", insufficient},
                    {"failed", errors.size()}};
  out["errors"] = std::move(errors);
  return out;
}

}  // namespace zerith
