// Pool files: what a watchlist may hold, and the error a file that is not one gets.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "contracts/errors.h"
#include "support/test_support.h"
#include "tarnel/code_list.h"

namespace tarnel {
namespace {

using namespace std::string_literals;

TEST(CodeList, ReadsWatchlistsAndNamesTheLineOfAFileThatIsNotOne) {
  struct Row {
    const char* what;
    std::string bytes;
    std::vector<std::string> codes;  // expected when `error` is empty
    std::string error;               // a fragment of the ValueError's message
  };
  const Row rows[] = {
      {"comments, BOM, CRLF, names and separators",
       "\xEF\xBB\xBF# 自选\r\nsh.600000, 浦发银行\r\n\r\n  hk.00700\t腾讯\n"
       "us.BRK-B，伯克希尔\n510050\u3000上证50ETF\nsz.000001 # 平安\n",
       {"sh.600000", "hk.00700", "us.BRK-B", "510050", "sz.000001"},
       ""},
      {"one instrument under several spellings, in canonical form",
       "SH.600519\nsh.600519\n600519.SH\nhk.700\nHK.00700\netf.510050\n510050\nus.aapl\nxx.1234\n",
       {"sh.600519", "hk.00700", "510050", "us.AAPL", "xx.1234"},
       ""},
      {"UTF-16 little endian", "\xFF\xFEs\0h\0.\0"s, {}, "是 UTF-16 编码：请另存为 UTF-8"},
      {"UTF-16 big endian", "\xFE\xFF\0s\0h"s, {}, "是 UTF-16 编码"},
      {"UTF-16 without a BOM", "sh.600000\ns\0h\0.\0"s, {}, "第 2 行含有 NUL 字节"},
      {"names and comments in GBK", "# \xD7\xD4\xD1\xA1\nsh.600519 \xB9\xF3\xD6\xDD\n", {"sh.600519"}, ""},
      {"invalid UTF-8 in a code", "sh.600000\nsh.6005\xB9\xF3\n", {}, "第 2 行的代码 'sh.6005\xEF\xBF\xBD"},
      {"control character in a code", "sh.600000\nsh.60\x1b[2J0519\n", {}, "第 2 行的代码 'sh.60\\u{001B}[2J0519'"},
      {"format character in a code", "sh.600\u202E519\n", {}, "第 1 行的代码 'sh.600\\u{202E}519'"},
      {"full-width semicolon", "sh.600000；浦发银行\n", {}, "第 1 行的代码 'sh.600000；浦发银行' 含有代码中不能出现的字符"},
  };
  const auto error_of = [](const std::filesystem::path& file) -> std::string {
    try {
      read_code_list(file);
    } catch (const quorvel::ValueError& e) {
      return e.what();
    }
    return "";
  };
  quorvel::testing::TempDir dir;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const auto file = dir / "pool.txt";
    quorvel::testing::write_file(file, row.bytes);
    if (row.error.empty()) {
      EXPECT_EQ(read_code_list(file), row.codes);
      continue;
    }
    const std::string error = error_of(file);
    EXPECT_NE(error.find(row.error), std::string::npos) << error;
    EXPECT_NE(error.find(file.string()), std::string::npos) << error;
  }
  EXPECT_NE(error_of(dir.path()).find("是一个目录"), std::string::npos);
  EXPECT_NE(error_of(dir / "missing.txt").find("无法读取股票池文件"), std::string::npos);
}

}  // namespace
}  // namespace tarnel
