// The JSON example of the stock prompts, once rendered, is a decision the extraction accepts.
#include <string>

#include <gtest/gtest.h>

#include "quorvel/agent/prompts/vellumor/render.h"
#include "quorvel/agent/prompts/vellumor/templates.h"
#include "quorvel/agent/schemas/decision.h"
#include "quorvel/agent/schemas/extract.h"
#include "vellumor/template_values.h"

namespace {

namespace v = quorvel::agent::prompts::vellumor;
namespace schemas = quorvel::agent::schemas;

TEST(ExampleDecision, RenderedExamplePassesExtraction) {
  const auto values = vellumor_test::stock_values("sz.000001", "平安银行", 11.235);
  for (v::Market m : {v::Market::A, v::Market::US, v::Market::HK, v::Market::ETF}) {
    for (v::Form f : {v::Form::Full, v::Form::User}) {
      SCOPED_TRACE(std::string(v::market_name(m)) + "/" + std::string(v::form_name(f)));
      const auto decision = schemas::extract_decision_json(v::render(v::stock_template(m, f), values));
      ASSERT_TRUE(decision.has_value());
      EXPECT_EQ((*decision)["stock_code"], "sz.000001");
      EXPECT_EQ((*decision)["stock_name"], "平安银行");
      EXPECT_EQ((*decision)["analysis_time"], "2025-06-30");
      EXPECT_DOUBLE_EQ((*decision)["current_price"].get<double>(), 11.235);
      const auto record = schemas::StockDecision::from_map(*decision);
      EXPECT_EQ(record.action, "观望等待");
      EXPECT_EQ(record.position_pct, "0%");
      EXPECT_EQ(record.holding_period, "10个交易日");
    }
  }
}

}  // namespace
