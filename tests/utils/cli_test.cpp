// The shared command-line parsing: a mistyped subcommand is found behind the global options and
// the nearest subcommand is suggested when it is near.
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quorvel/utils/cli.h"

namespace quorvel {
namespace {

TEST(CommandLine, FindsAMistypedSubcommandAndSuggestsTheNearest) {
  CLI::App app{"报告", "quorvel-reports"};
  std::string dir;
  bool verbose = false;
  app.add_option("-d,--dir", dir, "报告目录");
  app.add_flag("-v,--verbose", verbose, "详细");
  for (const char* name : {"list", "show", "pending", "flush", "write-files"}) app.add_subcommand(name, name);
  const std::vector<std::string> names = subcommand_names(app);

  const struct {
    std::vector<std::string> args;
    std::optional<std::string> word;        // the unknown subcommand found
    std::optional<std::string> suggestion;  // the nearest subcommand offered for it
  } rows[] = {
      {{"lst"}, "lst", "list"},
      {{"shwo", "3"}, "shwo", "show"},
      {{"pendng", "--limit", "5"}, "pendng", "pending"},
      {{"xyz"}, "xyz", std::nullopt},
      {{"ls"}, "ls", "list"},
      {{"lis", "t"}, "lis", "list"},
      {{"--dir", "D", "lst"}, "lst", "list"},
      {{"--dir=list", "flsh"}, "flsh", "flush"},
      {{"-dD", "-v", "wrte-files"}, "wrte-files", "write-files"},
      {{"-vd", "list", "lst"}, "lst", "list"},
      {{"--dir", "lst", "list"}, std::nullopt, std::nullopt},  // "lst" is the directory
      {{"list", "--limit", "5"}, std::nullopt, std::nullopt},
      {{"--limit", "5", "list"}, std::nullopt, std::nullopt},  // not an option of the app: no guess
      {{"--", "lst"}, std::nullopt, std::nullopt},
      {{}, std::nullopt, std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    const auto word = unknown_subcommand(app, row.args);
    EXPECT_EQ(word, row.word);
    EXPECT_EQ(word ? nearest_name(*word, names) : std::nullopt, row.suggestion);
  }
  EXPECT_EQ(unknown_subcommand_message("quorvel-reports", "lst", names),
            "quorvel-reports: 未知的子命令 \"lst\"。可用的子命令: list, show, pending, flush, write-files；是否想用 \"list\"？");
  EXPECT_EQ(unknown_subcommand_message("quorvel-reports", "x\x1b[2Jy", {"list"}),
            "quorvel-reports: 未知的子命令 \"xy\"。可用的子命令: list");
}

}  // namespace
}  // namespace quorvel
