#pragma once
// Versioned schema changes of a database on PostgreSQL. Each change has a number; the database
// records in schema_migrations which it has, and a program applies the ones it lacks, in order, in
// one transaction with their records, so a failed change leaves the database as it was. Several
// processes starting at once take a transaction-level advisory lock first: each change is applied
// once. Changes keep every row (they add; they never drop what a stored report holds).
#include <span>
#include <string_view>

#include "quorvel/report/pg_database.h"

namespace quorvel::pg {

struct Migration {
  int version;           // 1, 2, ...: applied in this order, each once
  std::string_view sql;  // one or more statements
};

// Brings the database to the newest version of `migrations` and returns it. A database at a newer
// version than this program knows is refused with a RuntimeError (an older program would write
// what the newer layout no longer means); so is a change that fails, with the server's reason.
int apply_migrations(Database& db, std::span<const Migration> migrations);

}  // namespace quorvel::pg
