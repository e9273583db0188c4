#include "quorvel/report/pg_migrations.h"

#include <algorithm>

#include <fmt/format.h>

#include "contracts/errors.h"

namespace quorvel::pg {

int apply_migrations(Database& db, std::span<const Migration> migrations) {
  int newest = 0;
  for (const Migration& m : migrations) {
    if (m.version != newest + 1)
      throw RuntimeError(fmt::format("数据库结构变更的编号须从 1 起连续: {} 之后是 {}", newest, m.version));
    newest = m.version;
  }
  Transaction tx(db);
  // Creating the table and reading the version under one lock: two processes opening a new database
  // at once would otherwise both try to create it.
  db.prepare("SELECT pg_advisory_xact_lock(hashtext('quorvel:schema_migrations'))").run();
  db.exec(
      "CREATE TABLE IF NOT EXISTS schema_migrations (version INTEGER PRIMARY KEY, "
      "applied_at TIMESTAMPTZ NOT NULL DEFAULT now())");
  Statement current = db.prepare("SELECT COALESCE(MAX(version), 0) FROM schema_migrations");
  const int stored = current.step() ? int(current.integer(0)) : 0;
  if (stored > newest)
    throw RuntimeError(fmt::format("{} 的结构版本 {} 比本程序所知的 {} 新：请升级本程序后再使用该数据库",
                                   db.shown_url(), stored, newest));
  for (const Migration& m : migrations) {
    if (m.version <= stored) continue;
    try {
      db.exec(m.sql);
    } catch (const Error& e) {
      throw RuntimeError(fmt::format("数据库结构变更 {} 失败，数据库保持原样: {}", m.version, e.what()));
    }
    db.prepare("INSERT INTO schema_migrations (version) VALUES (?1)").bind(1, std::int64_t(m.version)).run();
  }
  tx.commit();
  return newest;
}

}  // namespace quorvel::pg
