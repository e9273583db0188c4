#include <array>
#include <optional>

#include <gtest/gtest.h>

#include "quorvel/utils/logger.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

std::string fmt_args(std::string_view f, std::initializer_list<LogArg> args) {
  return format_printf(f, std::vector<LogArg>(args));
}

TEST(Logger, FillsPrintfPlaceholdersInOrder) {
  EXPECT_EQ(fmt_args("a=%s b=%d c=%.2f d=%.3f", {to_log_arg("x"), to_log_arg(42), to_log_arg(3.14159), to_log_arg(2.0)}),
            "a=x b=42 c=3.14 d=2.000");
  EXPECT_EQ(fmt_args("%r and %r", {to_log_arg(std::string("it's")), to_log_arg(5)}), "'it\\'s' and 5");
  EXPECT_EQ(fmt_args("%s|%s|%s", {to_log_arg(true), to_log_arg(7.0), to_log_arg(std::optional<std::string>())}),
            "True|7.0|None");
  EXPECT_EQ(fmt_args("%d", {to_log_arg(3.9)}), "3");
  EXPECT_EQ(fmt_args("100%% done %s", {to_log_arg("ok")}), "100% done ok");
  // Fewer arguments than placeholders keeps the rest as written; a lone % stays.
  EXPECT_EQ(fmt_args("%s and %s", {to_log_arg("one")}), "one and %s");
  EXPECT_EQ(fmt_args("50% off", {}), "50% off");
  EXPECT_EQ(fmt_args("中文 %s 结束", {to_log_arg("值")}), "中文 值 结束");
}

TEST(Logger, WritesLevelsAndHonoursTheThreshold) {
  testing::LogCapture capture;
  logger.info("开始 %s | n=%d", "x", 3);
  logger.warning("warn");
  logger.debug("dbg %s", "y");
  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "info|开始 x | n=3");
  EXPECT_EQ(lines[1], "warning|warn");
  EXPECT_EQ(lines[2], "debug|dbg y");
}

TEST(Logger, SetupLoggingWritesAFileAndSurvivesAnUnusableDirectory) {
  testing::TempDir dir;
  setup_logging((dir / "logs").string(), "INFO");
  logger.info("写入文件的一行");
  logger.backend().flush();
  bool found = false;
  for (const auto& entry : std::filesystem::directory_iterator(dir / "logs"))
    found = found || testing::read_file(entry.path()).find("写入文件的一行") != std::string::npos;
  EXPECT_TRUE(found);
  testing::write_file(dir / "file", "x");
  EXPECT_NO_THROW(setup_logging((dir / "file" / "logs").string(), "INFO"));
  logger.backend().sinks().resize(1);  // back to console only for the other tests
}

}  // namespace
}  // namespace quorvel
