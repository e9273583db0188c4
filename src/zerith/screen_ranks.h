#pragma once
// The day's ranking of a market's screen survivors, kept so that a later scan of one instrument can
// say where it stands among them (universe_rank / universe_size). One SQLite file beside the bar
// store ("screen_ranks.sqlite"); a new screen of a market and day replaces the old ranking whole.
// The file is optional to its readers: it is opened on first use, and a damaged one fails that use
// with a RuntimeError naming the ranking file and what to do (delete it, screen again).
//
// One object is one connection: thread-safe through its own mutex.
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zerith/pattern_scan.h"

namespace quorvel::sqlite {
class Database;
}

namespace zerith {

struct RankEntry {
  std::string code;
  double total_score = 0.0;
  std::string strategy_type;
};

class ScreenRankStore {
 public:
  // The store of `file`, opened on first use; with `create` false a missing file leaves the store
  // empty (every lookup absent) and is not created by a lookup.
  ScreenRankStore(std::filesystem::path file, bool create);
  ~ScreenRankStore();

  // Replaces the ranking of (market, date): rank 1 is the highest score, ties by code.
  void save(const std::string& market, const std::string& date, std::vector<RankEntry> survivors);
  // The instrument's rank on that day, or absent when it did not survive or no screen is stored.
  std::optional<UniverseRank> rank(const std::string& market, const std::string& date, const std::string& code);
  // Whether a screen of (market, date) is stored, and its survivor count.
  std::optional<int> size(const std::string& market, const std::string& date);

  const std::filesystem::path& file() const { return file_; }

 private:
  std::filesystem::path file_;
  bool create_;
  std::mutex mutex_;
  std::unique_ptr<quorvel::sqlite::Database> db_;
  bool open(bool create);
};

// screen_ranks.sqlite in the directory of the bar store.
std::filesystem::path default_rank_store_path();

}  // namespace zerith
