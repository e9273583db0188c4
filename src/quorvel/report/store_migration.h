#pragma once
// Moving a report store from its SQLite file into a PostgreSQL database that several machines will
// share: every row of every table, with its id, in one transaction.
#include <cstddef>
#include <map>
#include <string>

#include "quorvel/report/sql_report_store.h"

namespace quorvel::report {

struct MigrationResult {
  std::map<std::string, std::size_t> rows;  // copied rows per table
};

// Copies the store of `source` (its directory's reports.sqlite3, held still while it is read) into the
// PostgreSQL database `target_url`, creating the tables there first. The target must hold no
// reports yet: a store moved twice, or into one that other workers already write, would mix ids.
// Either every row arrives or none does. Throws RuntimeError saying what to do.
MigrationResult migrate_to_postgres(const StoreOptions& source, const std::string& target_url);

}  // namespace quorvel::report
