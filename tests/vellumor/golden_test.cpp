// The printed templates against reviewed copies in tests/data/prompts: any change to a prompt's text
// shows up here as a diff to review. After a deliberate change, regenerate the copies with
// QUORVEL_UPDATE_GOLDEN=1 and review the diff before committing it.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "quorvel/agent/prompts/vellumor/templates.h"
#include "support/test_support.h"

namespace {

namespace v = quorvel::agent::prompts::vellumor;
using v::Form;
using v::Market;

void expect_golden(const std::string& name, const std::string& text) {
  SCOPED_TRACE(name);
  const auto file = quorvel::testing::test_data_dir() / "prompts" / name;
  if (std::getenv("QUORVEL_UPDATE_GOLDEN")) quorvel::testing::write_file(file, text);
  ASSERT_TRUE(std::filesystem::exists(file)) << file << " is missing; run with QUORVEL_UPDATE_GOLDEN=1";
  EXPECT_TRUE(quorvel::testing::read_file(file) == text) << "template differs from " << file;
}

TEST(Golden, PrintedTemplatesMatchTheReviewedCopies) {
  for (Market m : {Market::A, Market::US, Market::HK, Market::ETF})
    for (Form f : {Form::System, Form::User})
      expect_golden(std::string(v::market_name(m)) + "_" + std::string(v::form_name(f)) + ".md", v::stock_template(m, f));
  expect_golden("summary_system.md", v::summary_template(Form::System));
  expect_golden("summary_user.md", v::summary_template(Form::User));
}

}  // namespace
