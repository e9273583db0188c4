// Splits and bonus issues found in raw series by the exchange's price-limit band.
#include <gtest/gtest.h>

#include "support/fake_market_data.h"
#include "tarnel/corporate_actions.h"
#include "contracts/dates.h"

namespace tarnel {
namespace {

// Eight sessions closing at 10.00; the seventh opens at `open` (a jump from the sixth's close).
BarTable jump_at_seventh(const std::string& first, double open) {
  quorvel::testing::BarsBuilder b;
  const std::string days[] = {"02", "03", "06", "07", "08", "09", "10", "13"};
  for (int i = 0; i < 8; ++i) {
    const double o = i == 6 ? open : (i > 6 ? open : 10.0);
    b.day(first + days[i], o, o * 1.01, o * 0.99, o, 1000);
  }
  return b.build();
}

TEST(CorporateActions, AnOpenBeyondTheBoardsBandIsASplitAndTheEarlierBarsFollowIt) {
  const struct {
    const char* code;
    const char* month;  // "YYYY-MM-", the sessions fall in it
    double open;        // of the seventh session, after a close of 10.00
    double ratio;       // 0: no corporate action
  } rows[] = {
      {"510050", "2022-05-", 2.5, 4.0},      // a fund split 1:4
      {"sh.600000", "2023-01-", 8.99, 0.0},  // within 10% and one tick: an ordinary limit-down open
      {"sh.600000", "2023-01-", 8.98, 10.0 / 8.98},
      {"sh.600000", "2023-01-", 11.02, 10.0 / 11.02},  // beyond +10% and a tick
      {"sz.300750", "2020-03-", 8.5, 10.0 / 8.5},      // ChiNext before 2020-08-24: 10%
      {"sz.300750", "2021-03-", 8.5, 0.0},             // and 20% after
      {"sh.688981", "2023-01-", 8.5, 0.0},             // STAR: 20%
      {"bj.430047", "2023-01-", 7.5, 0.0},             // Beijing: 30%
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.code) + " " + row.month + " " + std::to_string(row.open));
    const BarTable raw = jump_at_seventh(row.month, row.open);
    const BarTable adjusted = adjust_for_corporate_actions(raw, row.code);
    if (row.ratio == 0.0) {
      EXPECT_EQ(adjusted, raw);
      continue;
    }
    ASSERT_EQ(adjusted.adjustments().size(), 1u);
    EXPECT_EQ(date_text(adjusted.adjustments()[0].date), std::string(row.month) + "10");
    EXPECT_NEAR(adjusted.adjustments()[0].ratio, row.ratio, 1e-9);
    EXPECT_NEAR(adjusted.at("close", 5), 10.0 / row.ratio, 1e-9);     // the day before, on the new basis
    EXPECT_NEAR(adjusted.at("volume", 5), 1000 * row.ratio, 1e-6);
    EXPECT_EQ(adjusted.at("close", 7), raw.at("close", 7));            // from the action on, unchanged
  }
  // A new listing's first sessions have no band.
  quorvel::testing::BarsBuilder listing;
  listing.day("2023-01-02", 10, 14.4, 10, 14.4, 1).day("2023-01-03", 20, 20, 18, 19, 1);
  for (const char* d : {"2023-01-04", "2023-01-05", "2023-01-06", "2023-01-09"}) listing.day(d, 19, 19.5, 18.5, 19, 1);
  EXPECT_TRUE(adjust_for_corporate_actions(listing.build(), "sh.603000").adjustments().empty());
}

}  // namespace
}  // namespace tarnel
