// A robot's message never exceeds its limit: the digest is cut after a whole line (or, for one
// endless line, between characters) and says where the whole text is.
#include <gtest/gtest.h>

#include "quorvel/delivery/robot_messages.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel::delivery {
namespace {

std::string repeated(const std::string& piece, int times) {
  std::string out;
  while (times-- > 0) out += piece;
  return out;
}

TEST(RobotMessages, LongMarkdownIsCutWithinTheLimitAtALineOrCharacterBoundary) {
  const std::string note = "\n\n…（全文见 邮件）";
  const struct {
    const char* name;
    std::string markdown;
    std::size_t limit;
    std::string kept;  // "": all of it; else a character that must follow the kept part
  } rows[] = {
      {"fits", "# 简报\n- 偏多", 100, ""},
      {"many lines", repeated("- sh.600000 浦发银行 买入 偏多\n", 300), WECOM_MARKDOWN_LIMIT, "\n"},
      {"one endless line", repeated("汉", 3000), WECOM_MARKDOWN_LIMIT, "汉"},
      {"a limit below the note's size", repeated("汉字\n", 10), 10, "字"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string out = fit_markdown(row.markdown, row.limit, "邮件");
    EXPECT_LE(out.size(), row.limit);
    EXPECT_TRUE(is_valid_utf8(out));
    const bool noted = out.ends_with(note);
    EXPECT_EQ(noted, row.limit > note.size() && !row.kept.empty());
    if (noted) {
      EXPECT_GT(out.size(), row.limit - 40);  // the room is used, not left empty
    }
    const std::string kept = out.substr(0, noted ? out.size() - note.size() : out.size());
    EXPECT_TRUE(row.markdown.starts_with(kept));
    EXPECT_EQ(row.markdown.substr(kept.size(), row.kept.size()), row.kept);
  }
}

}  // namespace
}  // namespace quorvel::delivery
