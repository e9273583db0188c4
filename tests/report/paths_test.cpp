#include <gtest/gtest.h>

#include <set>

#include "quorvel/report/report_paths.h"
#include "support/test_support.h"

namespace quorvel::report {
namespace {

TEST(SafeFileComponent, HostileTextNeverLeavesTheDirectory) {
  const std::filesystem::path dir = "/reports";
  const std::string rows[] = {"..", ".", "../../etc/passwd", "a/b", "/abs", "..\\..\\x", "sh.600000\n", "x\0y",
                              "名称 \"quoted\" 'single'", "🚀", "%2E%2E", std::string(1000, '/')};
  for (const std::string& in : rows) {
    SCOPED_TRACE(in);
    const std::string out = safe_file_component(in);
    EXPECT_EQ(out.find('/'), std::string::npos);
    EXPECT_NE(out, ".");
    EXPECT_NE(out, "..");
    EXPECT_NE(out.front(), '.');
    EXPECT_LE(out.size(), 120u);
    for (const char c : out) EXPECT_TRUE(static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7f);
    EXPECT_TRUE(is_inside(dir, dir / out / "file.md"));
  }
}

TEST(SafeFileComponent, OrdinaryCodesStayReadable) {
  EXPECT_EQ(safe_file_component("sh.600000"), "sh.600000");
  EXPECT_EQ(safe_file_component("us.BRK-B"), "us.BRK-B");
  EXPECT_EQ(safe_file_component(""), "_");
  EXPECT_EQ(safe_file_component("", "unknown"), "unknown");
  EXPECT_EQ(safe_file_component("a b"), "a%20b");
}

TEST(SafeFileComponent, DistinctInputsGiveDistinctNames) {
  // Escaping must be injective, also for long texts that get cut.
  std::set<std::string> names;
  const std::string long_prefix(300, 'x');
  const std::string inputs[] = {"a/b", "a%2Fb", "a_b", "a b", long_prefix + "1", long_prefix + "2", "名", "%E5%90%8D"};
  for (const auto& in : inputs) names.insert(safe_file_component(in));
  EXPECT_EQ(names.size(), std::size(inputs));
}

TEST(DateFolder, EmptyOrOddDatesStaySafe) {
  EXPECT_EQ(date_folder("2025-06-30_1500"), "2025-06-30");
  EXPECT_EQ(date_folder(""), "undated");
  EXPECT_EQ(date_folder("../../x"), "%2E.%2F..%2Fx");
}

TEST(IsInside, RejectsEscapes) {
  EXPECT_TRUE(is_inside("/r", "/r/2025-06-30/a.md"));
  EXPECT_FALSE(is_inside("/r", "/r/../etc/passwd"));
  EXPECT_FALSE(is_inside("/r", "/r"));
  EXPECT_FALSE(is_inside("/r", "/other/a.md"));
}

}  // namespace
}  // namespace quorvel::report
