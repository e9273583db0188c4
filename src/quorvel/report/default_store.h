#pragma once
// Creation of the report store the commands use: SQLite in the report directory, or the PostgreSQL
// database of REPORT_DB_URL when it is set; publishing to the Redis Streams of QUORVEL_MQ_URL when
// that is set.
#include <memory>

#include "quorvel/report/sql_report_store.h"

namespace quorvel::report {

// Reads REPORT_DIR / TARNEL_CENTER / REPORT_DB_URL / QUORVEL_MQ_URL. An unusable QUORVEL_MQ_URL does not stop the
// store: reports are still saved, and flush() reports the problem while messages stay pending.
// Throws RuntimeError when the report directory or database cannot be used.
std::shared_ptr<SqlReportStore> make_default_report_store(StoreOptions options = {});

// Creates the default store and installs it as `default_storage()`; returns it.
std::shared_ptr<SqlReportStore> install_default_report_store(StoreOptions options = {});

}  // namespace quorvel::report
