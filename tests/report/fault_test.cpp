// Faults around the database: a process killed in the middle of saves, several processes saving at
// once, a report directory that cannot be written, a disk that fills up.
#include <gtest/gtest.h>

#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "contracts/errors.h"
#include "report/report_fixtures.h"

namespace quorvel::report {
namespace {

using quorvel::testing::analysis;
using quorvel::testing::summary;
using quorvel::testing::TempDir;

// Checks the database the way a fresh process sees it: intact, and every report with exactly its one
// message and no message without its report. Returns the number of reports.
std::int64_t check_consistent(const std::filesystem::path& dir) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open((dir / DATABASE_FILE_NAME).c_str(), &db), SQLITE_OK);
  const auto scalar = [&](const char* sql) -> std::string {
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), SQLITE_OK) << sql;
    std::string out;
    if (sqlite3_step(st) == SQLITE_ROW) out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    return out;
  };
  EXPECT_EQ(scalar("PRAGMA integrity_check"), "ok");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM reports r WHERE (SELECT COUNT(*) FROM outbox o WHERE o.report_id = r.id) != 1"),
            "0");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM outbox o LEFT JOIN reports r ON r.id = o.report_id WHERE r.id IS NULL"), "0");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM outbox WHERE json_extract(payload, '$.report_id') != report_id "
                   "OR json_extract(payload, '$.id') != message_id"),
            "0");
  // An analysis and its summary are saved together: neither is ever stored alone.
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM reports a WHERE a.kind = 'analysis' AND (SELECT COUNT(*) FROM reports s "
                   "WHERE s.kind = 'summary' AND s.stock_code = a.stock_code) != 1"),
            "0");
  const std::int64_t n = std::stoll(scalar("SELECT COUNT(*) FROM reports"));
  sqlite3_close(db);
  return n;
}

// Runs `body` in a child process; returns its exit status (or 128 + signal).
template <class F>
int in_child(F body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    int code = 1;
    try {
      code = body();
    } catch (...) {
      code = 99;
    }
    ::_exit(code);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(ReportStoreFaults, ProcessKilledDuringSavesLeavesWholeRecordsOnly) {
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    TempDir dir;
    quorvel::testing::open_store(dir.path());  // schema exists before the child starts
    const pid_t pid = ::fork();
    if (pid == 0) {
      auto store = quorvel::testing::open_store(dir.path());
      AnalysisReport r = analysis();
      SummaryReport sum = summary();
      r.content = std::string(20000, 'x');  // several pages per save, so a kill lands mid-write
      for (int i = 0;; ++i) {
        r.stock_code = sum.stock_code = "sh." + std::to_string(600000 + i);
        store->save_analysis_with_summary(r, sum);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(120 + 45 * round));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_GT(check_consistent(dir.path()), 0);
    // The store opens and works after the crash.
    auto store = quorvel::testing::open_store(dir.path());
    store->save_analysis_with_summary(analysis("sz.000001"), summary("sz.000001"));
    EXPECT_TRUE(store->exists("sz.000001", "2025-06-30", "deepseek"));
  }
}

TEST(ReportStoreFaults, TwoProcessesSavingAtOnceBothSucceed) {
  TempDir dir;
  constexpr int PER_PROCESS = 150;
  std::vector<pid_t> children;
  for (int p = 0; p < 2; ++p) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      int code = 0;
      try {
        auto store = quorvel::testing::open_store(dir.path());  // both may create the database
        for (int i = 0; i < PER_PROCESS; ++i) {
          store->save_analysis_report(analysis("sh." + std::to_string(600000 + p * 1000 + i)));
          store->save_summary_report(quorvel::testing::summary("sh." + std::to_string(600000 + p * 1000 + i)));
        }
      } catch (const std::exception& e) {
        fprintf(stderr, "child %d: %s\n", p, e.what());
        code = 3;
      }
      ::_exit(code);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(check_consistent(dir.path()), 4 * PER_PROCESS);
  auto store = quorvel::testing::open_store(dir.path());
  std::set<std::string> ids;
  for (const auto& m : store->pending_messages(10000)) ids.insert(m.id);
  EXPECT_EQ(ids.size(), std::size_t(4 * PER_PROCESS));
}

TEST(ReportStoreFaults, ProcessesCreatingTheDatabaseAtTheSameMomentAllSucceed) {
  for (int round = 0; round < 3; ++round) {
    TempDir dir;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < 6; ++p) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(gate[1]);
        char c;
        [[maybe_unused]] const auto n = ::read(gate[0], &c, 1);  // returns when the parent closes the gate
        int code = 0;
        try {
          quorvel::testing::open_store(dir.path())->save_solvara(quorvel::testing::brief("A", std::to_string(p)));
        } catch (const std::exception& e) {
          fprintf(stderr, "child %d: %s\n", p, e.what());
          code = 3;
        }
        ::_exit(code);
      }
      children.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);  // all children start now
    for (const pid_t pid : children) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(check_consistent(dir.path()), 6);
  }
}

TEST(ReportStoreFaults, ReadOnlyReportDirectoryGivesAClearError) {
  TempDir dir;
  const auto ro = dir.path() / "read-only";
  std::filesystem::create_directories(ro);
  std::filesystem::permissions(ro, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                                       std::filesystem::perms::group_read | std::filesystem::perms::group_exec |
                                       std::filesystem::perms::others_read | std::filesystem::perms::others_exec);
  std::filesystem::permissions(dir.path(), std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  const int status = in_child([&] {
    // Permissions do not bind root; run as an ordinary user then.
    if (::geteuid() == 0 && ::setuid(65534) != 0) return 10;
    for (const auto& target : {ro, ro / "below"}) {
      try {
        quorvel::testing::open_store(target);
        return 11;
      } catch (const RuntimeError& e) {
        const std::string what = e.what();
        if (what.find(target.string()) == std::string::npos) return 12;
        if (what.find("REPORT_DIR") == std::string::npos) return 13;
      }
    }
    return 0;
  });
  EXPECT_EQ(status, 0);
}

TEST(ReportStoreFaults, ReportDirectoryThatIsAFileGivesAClearError) {
  TempDir dir;
  quorvel::testing::write_file(dir.path() / "not-a-dir", "x");
  try {
    quorvel::testing::open_store(dir.path() / "not-a-dir");
    FAIL() << "accepted a file as report directory";
  } catch (const RuntimeError& e) {
    EXPECT_NE(std::string(e.what()).find("无法创建报告目录"), std::string::npos) << e.what();
  }
}

TEST(ReportStoreFaults, FullDiskFailsTheSaveCleanlyAndLosesNothingStored) {
  TempDir dir;
  {
    auto store = quorvel::testing::open_store(dir.path());
    store->save_analysis_with_summary(analysis("sh.600001"), summary("sh.600001"));
  }
  const int status = in_child([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{256 * 1024, 256 * 1024};  // no file may grow beyond 256 KiB
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 20;
    auto store = quorvel::testing::open_store(dir.path());
    AnalysisReport big = analysis("sh.600002");
    big.content = std::string(2 * 1024 * 1024, 'y');
    try {
      store->save_analysis_with_summary(big, summary("sh.600002"));
      return 21;
    } catch (const RuntimeError& e) {
      return std::string(e.what()).find(DATABASE_FILE_NAME) != std::string::npos ? 0 : 22;
    }
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(check_consistent(dir.path()), 2);
  auto store = quorvel::testing::open_store(dir.path());
  EXPECT_TRUE(store->exists("sh.600001", "2025-06-30", "deepseek"));
  EXPECT_FALSE(store->exists("sh.600002", "2025-06-30", "deepseek"));
}

}  // namespace
}  // namespace quorvel::report
