#include "quorvel/report/store_migration.h"

#include <filesystem>
#include <span>

#include <fmt/format.h>

#include "contracts/errors.h"
#include "quorvel/report/store_connection.h"
#include "quorvel/utils/logger.h"

namespace quorvel::report {

namespace {

// A column and how its values are read and bound: text, integer or real.
struct Column {
  const char* name;
  char type;
};

struct Table {
  const char* name;
  const char* order;  // its key, so rows arrive in the order they were stored
  std::span<const Column> columns;
  const char* identity = nullptr;  // the generated id whose sequence must continue after the copied ids
};

constexpr Column REPORT_COLUMNS[] = {{"id", 'i'},
                                     {"kind", 't'},
                                     {"stock_code", 't'},
                                     {"stock_name", 't'},
                                     {"market_type", 't'},
                                     {"analysis_date", 't'},
                                     {"analysis_time", 't'},
                                     {"current_price", 'r'},
                                     {"llm_client_type", 't'},
                                     {"llm_model", 't'},
                                     {"content", 't'},
                                     {"created_at", 't'},
                                     {"file", 't'},
                                     {"decision", 't'},
                                     {"data_note", 't'},
                                     {"plan_checks", 't'},
                                     {"review_required", 'i'},
                                     {"prescreen_levels", 't'}};
constexpr Column OUTBOX_COLUMNS[] = {
    {"seq", 'i'},          {"message_id", 't'}, {"report_id", 'i'},  {"kind", 't'},       {"stream", 't'},
    {"payload", 't'},      {"created_at", 't'}, {"attempts", 'i'},   {"last_error", 't'}, {"last_attempt_at", 't'},
    {"delivered_at", 't'}, {"entry_id", 't'},   {"claimed_by", 't'}, {"lease_until", 'i'}};
constexpr Column SCORE_COLUMNS[] = {{"report_id", 'i'}, {"status", 't'}, {"score", 't'}, {"scored_at", 't'}};
constexpr Column CLAIM_COLUMNS[] = {
    {"stock_code", 't'}, {"analysis_date", 't'}, {"llm_client_type", 't'}, {"owner", 't'}, {"lease_until", 'i'}};
constexpr Column DELIVERY_COLUMNS[] = {{"channel", 't'},    {"day", 't'},         {"digest_id", 't'},
                                       {"state", 't'},      {"attempts", 'i'},    {"last_error", 't'},
                                       {"claimed_at", 't'}, {"finished_at", 't'}, {"owner", 't'}};

// Parents before children: an outbox row or a score names its report.
const Table TABLES[] = {
    {"reports", "id", REPORT_COLUMNS, "id"},
    {"outbox", "seq", OUTBOX_COLUMNS, "seq"},
    {"plan_scores", "report_id", SCORE_COLUMNS},
    {"analysis_claims", "stock_code, analysis_date, llm_client_type", CLAIM_COLUMNS},
    {"deliveries", "channel, day", DELIVERY_COLUMNS},
};

std::string column_list(const Table& t) {
  std::string out;
  for (const Column& c : t.columns) out += (out.empty() ? "" : ", ") + std::string(c.name);
  return out;
}

std::size_t count(store::Connection& db, const char* table) {
  store::Statement s = db.prepare(fmt::format("SELECT COUNT(*) FROM {}", table));
  return s.step() ? std::size_t(s.integer(0)) : 0;
}

std::size_t copy_table(store::Connection& from, store::Connection& to, const Table& t) {
  const std::string columns = column_list(t);
  store::Statement read = from.prepare(fmt::format("SELECT {} FROM {} ORDER BY {}", columns, t.name, t.order));
  std::string params;
  for (std::size_t i = 1; i <= t.columns.size(); ++i) params += fmt::format("{}?{}", i > 1 ? ", " : "", i);
  store::Statement write = to.prepare(fmt::format("INSERT INTO {} ({}) VALUES ({})", t.name, columns, params));
  std::size_t rows = 0;
  while (read.step()) {
    write.reset();
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
      const int col = int(i), param = int(i + 1);
      if (read.is_null(col)) {
        write.bind_null(param);
      } else if (t.columns[i].type == 'i') {
        write.bind(param, read.integer(col));
      } else if (t.columns[i].type == 'r') {
        write.bind(param, read.real(col));
      } else {
        write.bind(param, read.text(col));
      }
    }
    write.run();
    if (++rows % 10000 == 0) logger.info("[报告迁移] %s: 已复制 %d 行", t.name, rows);
  }
  if (t.identity)
    to.prepare(fmt::format("SELECT setval(pg_get_serial_sequence('{0}', '{1}'), GREATEST(COALESCE(MAX({1}), 0), 1), "
                           "MAX({1}) IS NOT NULL) FROM {0}",
                           t.name, t.identity))
        .run();
  return rows;
}

}  // namespace

MigrationResult migrate_to_postgres(const StoreOptions& source, const std::string& target_url) {
  StoreOptions from_options = source;
  from_options.database_url.clear();
  from_options.read_only = false;  // opened as the store opens it: an older layout is upgraded first
  if (!std::filesystem::exists(from_options.directory / DATABASE_FILE_NAME))
    throw RuntimeError(fmt::format("报告目录 {} 中没有 {}：没有可迁移的报告 (请用 REPORT_DIR 指定报告目录)",
                                   from_options.directory.string(), DATABASE_FILE_NAME));
  const auto from = store::open_sqlite_connection(from_options);
  StoreOptions to_options = source;
  to_options.database_url = target_url;
  const auto to = store::open_postgres_connection(to_options);

  MigrationResult result;
  // Every table from one state of the source: its writers wait (or give up after their busy
  // timeout) until the copy is done, so nothing written meanwhile is left behind.
  store::Transaction hold(*from);
  store::Transaction tx(*to);
  // Two migrations into one database at once: the second waits here, then finds the first's reports.
  to->lock_for_claims("reports");
  if (const std::size_t there = count(*to, "reports"); there > 0)
    throw RuntimeError(
        fmt::format("目标数据库 {} 已有 {} 份报告，未迁移任何数据 (只能迁移到没有报告的数据库；"
                    "若已迁移过，直接设置 REPORT_DB_URL 使用即可)",
                    to->describe(), there));
  for (const Table& t : TABLES) result.rows[t.name] = copy_table(*from, *to, t);
  tx.commit();
  return result;
}

}  // namespace quorvel::report
