#include "tarnel/online/bar_fill.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "contracts/clock.h"
#include "quorvel/utils/logger.h"
#include "contracts/dates.h"
#include "tarnel/online/reply_text.h"
#include "tarnel/price_precision.h"

namespace tarnel::online {

namespace {

const Date EARLIEST{date::days{INT32_MIN / 2}};
const Date LATEST{date::days{INT32_MAX / 2}};

std::string calendar_market(Market m) { return m == Market::ETF ? "A" : std::string(market_name(m)); }

bool from_provider(const std::string& source) { return source == "eastmoney" || source == "tencent"; }

// Whether a stored close of a day the answer also covers differs from the answer's: the source
// re-anchored its forward adjustment (an ex-rights day passed) or another source's prices are mixed.
bool overlap_differs(BarStore& store, const std::string& code, const std::vector<BarRow>& reply_rows) {
  if (reply_rows.empty()) return false;
  const std::vector<BarRow> fresh = with_rounded_prices(reply_rows);
  const BarTable stored = store.load(code, fresh.front().date, fresh.back().date);
  std::size_t j = 0;
  for (std::size_t i = 0; i < stored.rows(); ++i) {
    while (j < fresh.size() && fresh[j].date < stored.index()[i]) ++j;
    if (j == fresh.size()) break;
    if (fresh[j].date == stored.index()[i] && std::fabs(fresh[j].close - stored.at("close", i)) > 5e-5) return true;
  }
  return false;
}

std::string outcome_text(const SeriesReply& r) {
  switch (r.outcome) {
    case SeriesReply::Outcome::bars: return "有数据";
    case SeriesReply::Outcome::empty: return "回复中没有K线（空回复不能说明没有数据，可能被限流）";
    case SeriesReply::Outcome::unknown: return "不认识该代码";
    case SeriesReply::Outcome::failed: return r.detail;
  }
  return r.detail;
}

}  // namespace

struct BarFiller::Target {
  InstrumentCode code;
  std::string stored;  // the code the bars are stored under
  InstrumentKind kind;
  Adjustment adjustment;
  std::optional<SeriesInfo> series;
  Date latest{};  // the market's last closed session
};

namespace {

// Rows traded at the prices they show: an unadjusted series, or a forward-adjusted one near its
// latest session (further back its prices are scaled by every later corporate action).
bool prices_as_traded(Adjustment adjustment, Date latest, const std::vector<BarRow>& rows) {
  if (adjustment == Adjustment::none) return true;
  return adjustment == Adjustment::forward && !rows.empty() && rows.back().date + date::days{14} >= latest;
}

}  // namespace

std::vector<Date> missing_days(const std::vector<Date>& expected, const std::vector<Date>& stored,
                               const std::optional<SeriesInfo>& series) {
  std::vector<Date> out;
  for (Date d : expected) {
    if (std::binary_search(stored.begin(), stored.end(), d)) continue;
    if (series && series->checked_first && series->checked_last && d >= *series->checked_first &&
        d <= *series->checked_last)
      continue;
    out.push_back(d);
  }
  return out;
}

FetchPlan plan_fetch(const std::vector<Date>& missing, const std::vector<Date>& all_stored, bool extendable) {
  FetchPlan plan{missing.front(), missing.back(), !extendable};
  if (all_stored.empty()) return plan;
  if (!extendable) {
    plan.first = std::min(plan.first, all_stored.front());
    plan.last = std::max(plan.last, all_stored.back());
    return plan;
  }
  const auto before = std::lower_bound(all_stored.begin(), all_stored.end(), missing.front());
  if (before != all_stored.begin()) plan.first = *std::prev(before);
  const auto after = std::upper_bound(all_stored.begin(), all_stored.end(), missing.back());
  if (after != all_stored.end()) plan.last = *after;
  return plan;
}

BarFiller::BarFiller(LocalMarketData& local, OnlineConfig config, Fetcher::Transport transport)
    : local_(local), config_(std::move(config)), fetcher_(config_.fetch, std::move(transport)),
      providers_(make_providers(config_)) {}

FillOutcome BarFiller::fill(const std::string& code_text, Date first, Date last) {
  Target t{parse_instrument_code(code_text), local_.storage_code(code_text), InstrumentKind::stock,
           config_.adjustment, std::nullopt, Date{}};
  t.kind = kind_of(t.code);
  if (t.kind == InstrumentKind::index) t.adjustment = Adjustment::none;
  const std::string market = calendar_market(t.code.market);
  t.latest = parse_date(local_.normalize_end_date(market_today(market), market));
  last = std::min(last, parse_date(local_.normalize_end_date(date_text(last), market)));
  if (first > last) return {};
  BarStore store(local_.store_file());
  t.series = store.series(t.stored);
  const auto expected = local_.trading_calendar(market).trading_days(first, last);
  const auto missing = missing_days(expected, store.bar_days(t.stored, first, last), t.series);
  if (missing.empty()) return {};
  return fill_with(store, t, missing);
}

SeriesReply BarFiller::ask(Provider& p, const Target& t, const FetchPlan& plan, const std::string& symbol) {
  SeriesRequest request{t.code, t.kind, plan.first, plan.last, t.adjustment, symbol};
  SeriesReply reply = p.fetch(request, fetcher_);
  if (reply.outcome == SeriesReply::Outcome::bars) {
    if (std::string why = clean_rows(reply.rows, plan.first, plan.last); !why.empty())
      return failed_reply(std::move(reply), "回复中有无效的K线 " + why);
    if (reply.rows.empty()) reply.outcome = SeriesReply::Outcome::empty;
  }
  return reply;
}

FillOutcome BarFiller::fill_with(BarStore& store, const Target& t, const std::vector<Date>& missing) {
  const std::vector<Date> all_stored = store.bar_days(t.stored, EARLIEST, LATEST);
  const bool extendable = t.series && from_provider(t.series->source) &&
                          t.series->adjustment == adjustment_name(t.adjustment);
  FillOutcome outcome{FillOutcome::Status::failed, 0, "", ""};
  bool all_unreachable = true;
  for (auto& p : providers_) {
    FetchPlan plan = plan_fetch(missing, all_stored, extendable);
    const bool same_source = t.series && t.series->source == p->name();
    SeriesReply reply = ask(*p, t, plan, same_source ? t.series->symbol : "");
    const double stored_scale = t.series ? t.series->volume_scale : 1.0;
    const auto unit_of = [&](const SeriesReply& r) {
      return check_volume_unit(r.rows, t.kind, prices_as_traded(t.adjustment, t.latest, r.rows));
    };
    // Another source's or a re-anchored series must not be extended, nor one whose stored rows carry
    // another volume factor than these bars show (or were stored before factors were recorded):
    // it is fetched whole again, so that every row agrees.
    if (reply.outcome == SeriesReply::Outcome::bars && !plan.replace) {
      const VolumeUnitCheck shown = unit_of(reply);
      if (!same_source || overlap_differs(store, t.stored, reply.rows) ||
          (shown.verified && shown.scale != stored_scale)) {
        plan = plan_fetch(missing, all_stored, false);
        reply = ask(*p, t, plan, reply.symbol);
      }
    }
    if (reply.outcome != SeriesReply::Outcome::bars) {
      all_unreachable = all_unreachable && reply.unreachable;
      outcome.detail += fmt::format("{}{}: {}", outcome.detail.empty() ? "" : "；", p->name(), outcome_text(reply));
      continue;
    }
    const VolumeUnitCheck unit = unit_of(reply);
    // Rows the bars could not vouch for keep the factor of the rows beside them.
    const double scale = unit.verified ? unit.scale : (plan.replace ? 1.0 : stored_scale);
    if (scale != 1.0)
      for (auto& r : reply.rows) r.volume *= scale;
    if (unit.verified && scale != stored_scale)
      quorvel::logger.warning("%s 的成交量单位与 %s 的成交额不符（成交额/(收盘价×成交量) 中位数 %.2f）：成交量按数据换算 ×%s",
                              t.code.code, p->name(), unit.median_ratio, scale > 1 ? "100" : "0.01");
    for (const auto& r : reply.rows)
      if (!std::binary_search(all_stored.begin(), all_stored.end(), r.date)) ++outcome.bars_added;
    write(store, t, *p, reply, plan, unit.verified, scale);
    return {FillOutcome::Status::filled, outcome.bars_added, std::string(p->name()), ""};
  }
  if (providers_.empty()) outcome.detail = "没有配置行情源";
  const auto level = all_unreachable && !providers_.empty() ? quorvel::LogLevel::debug : quorvel::LogLevel::warning;
  quorvel::logger.log(level, "%s 在 %s 至 %s 缺少 %d 个交易日的行情，在线补齐失败（%s）：继续使用本地已有数据", t.code.code,
                      date_text(missing.front()), date_text(missing.back()), missing.size(), outcome.detail);
  return outcome;
}

void BarFiller::write(BarStore& store, const Target& t, const Provider& p, const SeriesReply& reply,
                      const FetchPlan& plan, bool volume_checked, double volume_scale) {
  SeriesInfo info{t.stored,   std::string(p.name()),  std::string(adjustment_name(t.adjustment)), reply.symbol,
                  plan.first, reply.rows.back().date, volume_checked,                             volume_scale};
  // The span answered for grows with each extension; a distant one starts afresh.
  const auto& old = t.series;
  if (!plan.replace && old && old->source == info.source && old->checked_first && old->checked_last &&
      *old->checked_first <= *info.checked_last + date::days{7} &&
      *info.checked_first <= *old->checked_last + date::days{7}) {
    info.checked_first = std::min(*info.checked_first, *old->checked_first);
    info.checked_last = std::max(*info.checked_last, *old->checked_last);
    info.volume_checked = info.volume_checked && old->volume_checked;  // every part of the series
  }
  Transaction tx(store.db());
  if (plan.replace) store.delete_bars(t.stored);
  store.upsert_bars(t.stored, reply.rows);
  const auto entry = store.instrument(t.stored);
  if (!entry)
    store.upsert_instrument({t.stored, reply.name, std::string(market_name(t.code.market)), std::string(kind_name(t.kind)), ""});
  else if (entry->name.empty() && !reply.name.empty())
    store.upsert_instrument({t.stored, reply.name, entry->market, entry->kind, ""});
  store.put_series(info);
  tx.commit();
}

std::string BarFiller::lookup_name(const std::string& code_text) {
  Target t{parse_instrument_code(code_text), local_.storage_code(code_text), InstrumentKind::stock,
           config_.adjustment, std::nullopt, Date{}};
  t.kind = kind_of(t.code);
  if (t.kind == InstrumentKind::index) t.adjustment = Adjustment::none;
  const auto today = date::floor<date::days>(quorvel::clock().now());
  const FetchPlan plan{today - date::days{14}, today, false};
  for (auto& p : providers_) {
    const SeriesReply reply = ask(*p, t, plan, "");
    if (reply.name.empty()) continue;
    BarStore store(local_.store_file());
    Transaction tx(store.db());
    const auto entry = store.instrument(t.stored);
    store.upsert_instrument({t.stored, reply.name, entry ? entry->market : std::string(market_name(t.code.market)),
                             entry ? entry->kind : std::string(kind_name(t.kind)), ""});
    tx.commit();
    return reply.name;
  }
  return "";
}

}  // namespace tarnel::online
