#include "zerith/screen_ranks.h"

#include <algorithm>

#include "quorvel/utils/sqlite_db.h"
#include "tarnel/bar_store.h"

namespace zerith {

namespace {

constexpr const char* SCHEMA = R"SQL(
CREATE TABLE IF NOT EXISTS screen_ranks (
  market TEXT NOT NULL,
  date TEXT NOT NULL,
  code TEXT NOT NULL,
  rank INTEGER NOT NULL,
  total_score REAL NOT NULL,
  strategy_type TEXT NOT NULL,
  PRIMARY KEY (market, date, code)
);
CREATE TABLE IF NOT EXISTS screens (
  market TEXT NOT NULL,
  date TEXT NOT NULL,
  survivors INTEGER NOT NULL,
  PRIMARY KEY (market, date)
);
)SQL";

quorvel::sqlite::OpenOptions rank_db_options(bool create) {
  return {.label = "筛选排名库",
          .create = create,
          .busy_timeout_ms = 30000,
          .wal = true,
          .permission_advice = "请检查该文件及其目录的读写权限，或用 TARNEL_CENTER 指定一个可写的数据目录",
          .corrupt_advice = "文件已损坏或不是筛选排名库：它只保存 quorvel-screen --market 的当日排名，删除它后重新运行 "
                            "quorvel-screen --market 即可重建"};
}

}  // namespace

ScreenRankStore::ScreenRankStore(std::filesystem::path file, bool create) : file_(std::move(file)), create_(create) {}

ScreenRankStore::~ScreenRankStore() = default;

bool ScreenRankStore::open(bool create) {
  if (db_) return true;
  if (!create && !std::filesystem::exists(file_)) return false;
  if (create && file_.has_parent_path()) std::filesystem::create_directories(file_.parent_path());
  auto db = std::make_unique<quorvel::sqlite::Database>(file_, rank_db_options(create));
  db->exec(SCHEMA);
  db_ = std::move(db);  // kept only once usable, so a failed open is tried afresh by the next use
  return true;
}

void ScreenRankStore::save(const std::string& market, const std::string& date, std::vector<RankEntry> survivors) {
  std::sort(survivors.begin(), survivors.end(), [](const RankEntry& a, const RankEntry& b) {
    return a.total_score != b.total_score ? a.total_score > b.total_score : a.code < b.code;
  });
  std::lock_guard lock(mutex_);
  open(true);
  quorvel::sqlite::Transaction tx(*db_);
  db_->prepare("DELETE FROM screen_ranks WHERE market = ?1 AND date = ?2").bind(1, market).bind(2, date).step();
  auto insert = db_->prepare(
      "INSERT INTO screen_ranks (market, date, code, rank, total_score, strategy_type) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  for (std::size_t i = 0; i < survivors.size(); ++i) {
    insert.bind(1, market).bind(2, date).bind(3, survivors[i].code).bind(4, int64_t(i + 1));
    insert.bind(5, survivors[i].total_score).bind(6, survivors[i].strategy_type).step();
    insert.reset();
  }
  db_->prepare("INSERT OR REPLACE INTO screens (market, date, survivors) VALUES (?1, ?2, ?3)")
      .bind(1, market)
      .bind(2, date)
      .bind(3, int64_t(survivors.size()))
      .step();
  tx.commit();
}

std::optional<int> ScreenRankStore::size(const std::string& market, const std::string& date) {
  std::lock_guard lock(mutex_);
  if (!open(create_)) return std::nullopt;
  auto q = db_->prepare("SELECT survivors FROM screens WHERE market = ?1 AND date = ?2");
  q.bind(1, market).bind(2, date);
  if (!q.step()) return std::nullopt;
  return int(q.integer(0));
}

std::optional<UniverseRank> ScreenRankStore::rank(const std::string& market, const std::string& date,
                                                  const std::string& code) {
  std::lock_guard lock(mutex_);
  if (!open(create_)) return std::nullopt;
  auto q = db_->prepare(
      "SELECT r.rank, s.survivors FROM screen_ranks r JOIN screens s ON s.market = r.market AND s.date = r.date "
      "WHERE r.market = ?1 AND r.date = ?2 AND r.code = ?3");
  q.bind(1, market).bind(2, date).bind(3, code);
  if (!q.step()) return std::nullopt;
  return UniverseRank{int(q.integer(0)), int(q.integer(1))};
}

std::filesystem::path default_rank_store_path() {
  return tarnel::default_store_path().parent_path() / "screen_ranks.sqlite";
}

}  // namespace zerith
