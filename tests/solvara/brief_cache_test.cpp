#include <csignal>
#include <vector>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "contracts/errors.h"
#include "quorvel/agent/solvara/brief_cache.h"
#include "support/test_support.h"

namespace quorvel::agent::solvara {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

class BriefCache : public ::testing::Test {
 protected:
  void SetUp() override { clear_solvara_cache(); }
  TempDir dir;
  ScopedEnv solvara_dir{"QUORVEL_SOLVARA_DIR", dir.path().string()};
};

TEST(NormalizeDate, KeepsTheDatePartOnly) {
  EXPECT_EQ(_normalize_date(""), "");
  EXPECT_EQ(_normalize_date("2026-05-02"), "2026-05-02");
  EXPECT_EQ(_normalize_date("2026-05-02_1500"), "2026-05-02");
  EXPECT_EQ(_normalize_date("2026-05-02 15:00:00"), "2026-05-02");
  EXPECT_EQ(_normalize_date("  2026-05-02T15:00:00 "), "2026-05-02");
  EXPECT_EQ(_normalize_date("日期二〇二六年五月二日以后"), "日期二〇二六年五月二");  // ten characters, not bytes
}

TEST(CacheDir, EnvironmentRulesInOrder) {
  TempDir root;
  ScopedEnv home("QUORVEL_HOME", root.path().string()), own("QUORVEL_SOLVARA_DIR", std::nullopt),
      report("REPORT_DIR", std::nullopt), center("TARNEL_CENTER", std::nullopt);
  EXPECT_EQ(_cache_dir(), root.path() / "report" / "solvaras");
  {
    ScopedEnv c("TARNEL_CENTER", (root / "center").string());
    EXPECT_EQ(_cache_dir(), root.path() / "center" / "report" / "solvaras");
    ScopedEnv r("REPORT_DIR", " relative-reports ");
    EXPECT_EQ(_cache_dir(), root.path() / "relative-reports" / "solvaras");
  }
  ScopedEnv user_home("HOME", root.path().string());
  ScopedEnv o("QUORVEL_SOLVARA_DIR", "~/briefs");
  EXPECT_EQ(_cache_dir(), root.path() / "briefs");
  EXPECT_TRUE(std::filesystem::is_directory(root.path() / "briefs"));
}

TEST_F(BriefCache, FileNamesAndTheEtfMarketShareTheAShareFile) {
  EXPECT_EQ(_cache_path("a", "2026-05-02_1500").filename(), "A_2026-05-02_v4.md");
  EXPECT_EQ(_meta_cache_path("HK", "2026-05-02").filename(), "HK_2026-05-02_v4.meta.json");
  EXPECT_EQ(_cache_path("A", "").filename(), "A__v4.md");
  EXPECT_EQ(solvara_cache_file("etf", "2026-05-02"), solvara_cache_file("A", "2026-05-02"));
  EXPECT_THROW(_cache_path("A", "../../etc/x"), ValueError);
  EXPECT_THROW(solvara_cache_file("../A", "2026-05-02"), ValueError);
}

TEST_F(BriefCache, RoundTripWithExactMetadataFormatAndNoLeftovers) {
  Meta meta = Meta::object();
  meta["llm_client_type"] = "deepseek";
  meta["llm_model"] = "模型-1";
  _save_disk_cache("A", "2026-05-02", "**简报**\n正文", meta);
  EXPECT_EQ(testing::read_file(_meta_cache_path("A", "2026-05-02")),
            "{\n  \"llm_client_type\": \"deepseek\",\n  \"llm_model\": \"模型-1\"\n}");
  EXPECT_EQ(testing::read_file(_cache_path("A", "2026-05-02")), "**简报**\n正文");
  const auto hit = _load_disk_cache("A", "2026-05-02");
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->first, "**简报**\n正文");
  EXPECT_EQ(hit->second, meta);
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();
  // Saving without metadata keeps the old metadata file.
  _save_disk_cache("A", "2026-05-02", "新的");
  EXPECT_EQ(_load_disk_cache("A", "2026-05-02")->second, meta);
}

TEST_F(BriefCache, BlankBriefIsAMissAndBadMetadataIsEmpty) {
  testing::write_file(_cache_path("A", "2026-05-03"), "\n\n  \n");
  EXPECT_FALSE(_load_disk_cache("A", "2026-05-03"));
  testing::write_file(_cache_path("A", "2026-05-04"), "brief");
  testing::write_file(_meta_cache_path("A", "2026-05-04"), "{not json");
  const auto hit = _load_disk_cache("A", "2026-05-04");
  ASSERT_TRUE(hit);
  EXPECT_TRUE(hit->second.empty());
  testing::write_file(_meta_cache_path("A", "2026-05-04"), "[1, 2]");
  EXPECT_TRUE(_load_disk_cache("A", "2026-05-04")->second.empty());
  EXPECT_FALSE(_load_disk_cache("US", "2026-05-04"));
}

TEST_F(BriefCache, ADirectoryInPlaceOfTheBriefIsAReadFailureNotAMiss) {
  testing::LogCapture log;
  std::filesystem::create_directories(_cache_path("A", "2026-05-06"));
  EXPECT_FALSE(_load_disk_cache("A", "2026-05-06"));
  EXPECT_FALSE(_load_disk_cache("A", "2026-05-06"));  // read again after the brief's lock: no second warning
  const std::string warning = "[大盘 AI 简报] 读取缓存失败 path=" + _cache_path("A", "2026-05-06").string() + " err=";
  std::size_t warnings = 0;
  for (const auto& line : log.lines()) warnings += line.find(warning) != std::string::npos;
  EXPECT_EQ(warnings, 1u);
}

TEST_F(BriefCache, AnUnwritableBriefFileIsLoggedNotRaisedAndLeavesNothingBehind) {
  testing::LogCapture log;
  // A directory where the brief file belongs cannot be replaced by a file, whoever runs the test.
  const auto path = _cache_path("A", "2026-05-02");
  std::filesystem::create_directories(path);
  EXPECT_NO_THROW(_save_disk_cache("A", "2026-05-02", "x"));
  EXPECT_TRUE(log.contains("[大盘 AI 简报] 写缓存失败 path="));
  std::vector<std::filesystem::path> left;
  for (const auto& entry : std::filesystem::directory_iterator(path.parent_path())) left.push_back(entry.path());
  EXPECT_EQ(left, std::vector<std::filesystem::path>{path});
}

TEST_F(BriefCache, WriteFailureIsLoggedAndTheOldBriefSurvives) {
  testing::LogCapture log;
  _save_disk_cache("A", "2026-05-05", "old brief");
  // A file-size limit of zero makes every write of this process fail (EFBIG), root included.
  rlimit previous{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit none = previous;
  none.rlim_cur = 0;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &none), 0);
  EXPECT_NO_THROW(_save_disk_cache("A", "2026-05-05", "new brief"));
  setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, old_handler);
  for (const auto& entry : std::filesystem::directory_iterator(_cache_path("A", "2026-05-05").parent_path()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  EXPECT_TRUE(log.contains("[大盘 AI 简报] 写缓存失败 path="));
  EXPECT_EQ(_load_disk_cache("A", "2026-05-05")->first, "old brief");
}

TEST_F(BriefCache, ClearingTheMemoryCacheByMarket) {
  EXPECT_EQ(clear_solvara_cache(), 0);
  auto& cache = detail::MEM_CACHE();
  cache[{"A", "2026-05-02", "v4"}] = {"a", Meta::object()};
  cache[{"A", "2026-05-03", "v4"}] = {"a", Meta::object()};
  cache[{"HK", "2026-05-02", "v4"}] = {"h", Meta::object()};
  EXPECT_EQ(clear_solvara_cache("ETF"), 0);
  EXPECT_EQ(clear_solvara_cache("a"), 2);
  EXPECT_EQ(clear_solvara_cache(), 1);
  EXPECT_TRUE(cache.empty());
}

TEST(BriefLocks, OneLockPerKeyKeptForever) {
  AsyncMutex& a = _get_lock({"A", "2026-05-02", "v4"});
  EXPECT_EQ(&a, &_get_lock({"A", "2026-05-02", "v4"}));
  EXPECT_NE(&a, &_get_lock({"A", "2026-05-03", "v4"}));
}

}  // namespace
}  // namespace quorvel::agent::solvara
