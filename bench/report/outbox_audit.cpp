// Helper of exactly_once.sh: fills a report store and compares it with what reached the streams.
//
//   outbox_audit fill DIR N      saves N reports (analysis, summary, brief in turn) in DIR
//   outbox_audit pending DIR     prints the number of messages still waiting in DIR's outbox
//   outbox_audit count DIR URL   prints one line: messages in the store, stream entries, distinct
//                                message ids among them, duplicates (entries - distinct) and losses
//                                (stored messages absent from the streams); exit 1 unless both are 0
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>

#include <fmt/format.h>
#include <hiredis/hiredis.h>
#include <sqlite3.h>

#include "quorvel/report/message.h"
#include "quorvel/report/redis_publisher.h"
#include "quorvel/report/sql_report_store.h"
#include "quorvel/utils/logger.h"

namespace {

using namespace quorvel::report;

int fill(const std::string& dir, int n) {
  StoreOptions o;
  o.directory = dir;
  o.write_files = false;
  SqlReportStore store(o);
  std::string content;
  for (int k = 0; k < 20; ++k) content += "### 趋势判断\n均线多头排列，量能温和放大，关注前高压力位。\n";
  for (int i = 0; i < n; ++i) {
    const std::string code = fmt::format("sh.{}", 600000 + i % 5000);
    if (i % 3 == 0) {
      store.save_analysis_report({code, "浦发银行", content, "2025-06-30", "A", 10.25, "deepseek", "deepseek-chat", {}, {}, {}, false, {}});
    } else if (i % 3 == 1) {
      store.save_summary_report({code, "浦发银行", content, "2025-06-30", 10.25, "deepseek", "deepseek-chat", {}});
    } else {
      store.save_solvara({"A", content, "2025-06-30", "deepseek", "deepseek-chat"});
    }
  }
  return 0;
}

// Message ids of the outbox, with `where` as the row filter.
std::set<std::string> stored_ids(const std::string& dir, const char* where) {
  sqlite3* db = nullptr;
  sqlite3_open_v2((dir + "/" + DATABASE_FILE_NAME).c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, fmt::format("SELECT message_id FROM outbox WHERE {}", where).c_str(), -1, &st, nullptr);
  std::set<std::string> ids;
  while (sqlite3_step(st) == SQLITE_ROW) ids.emplace(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return ids;
}

struct Free {
  void operator()(redisContext* c) const { redisFree(c); }
  void operator()(redisReply* r) const { freeReplyObject(r); }
};

// Every "id" field of every entry of the three streams, with how often it occurs.
std::map<std::string, int> stream_ids(const RedisEndpoint& ep, std::size_t& entries) {
  std::unique_ptr<redisContext, Free> c(redisConnect(ep.host.c_str(), ep.port));
  if (!c || c->err) throw std::runtime_error("cannot connect to " + ep.describe());
  const std::unique_ptr<redisReply, Free> selected(static_cast<redisReply*>(redisCommand(c.get(), "SELECT %d", ep.db)));
  std::map<std::string, int> seen;
  for (const ReportKind kind : {ReportKind::analysis, ReportKind::summary, ReportKind::solvara}) {
    const std::string stream(stream_name(kind));
    std::string from = "-";
    while (true) {
      std::unique_ptr<redisReply, Free> r(
          static_cast<redisReply*>(redisCommand(c.get(), "XRANGE %s %s + COUNT 1000", stream.c_str(), from.c_str())));
      if (!r || r->type != REDIS_REPLY_ARRAY || r->elements == 0) break;
      for (std::size_t i = 0; i < r->elements; ++i) {
        const redisReply* entry = r->element[i];
        const redisReply* fields = entry->element[1];
        for (std::size_t f = 0; f + 1 < fields->elements; f += 2)
          if (std::string(fields->element[f]->str) == "id") ++seen[fields->element[f + 1]->str];
        ++entries;
      }
      from = "(" + std::string(r->element[r->elements - 1]->element[0]->str);  // exclusive start
    }
  }
  return seen;
}

int count(const std::string& dir, const std::string& url) {
  const std::set<std::string> stored = stored_ids(dir, "1");
  std::size_t entries = 0;
  const std::map<std::string, int> seen = stream_ids(RedisEndpoint::parse(url), entries);
  std::size_t lost = 0;
  for (const auto& id : stored) lost += seen.count(id) ? 0 : 1;
  const std::size_t duplicates = entries - seen.size();
  fmt::print("stored={} entries={} distinct={} duplicates={} lost={}\n", stored.size(), entries, seen.size(),
             duplicates, lost);
  return duplicates == 0 && lost == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  quorvel::logger.backend().set_level(spdlog::level::err);
  const std::string cmd = argc > 2 ? argv[1] : "";
  try {
    if (cmd == "fill" && argc == 4) return fill(argv[2], std::stoi(argv[3]));
    if (cmd == "pending" && argc == 3) {
      fmt::print("{}\n", stored_ids(argv[2], "delivered_at IS NULL").size());
      return 0;
    }
    if (cmd == "count" && argc == 4) return count(argv[2], argv[3]);
  } catch (const std::exception& e) {
    fmt::print(stderr, "outbox_audit: {}\n", e.what());
    return 2;
  }
  fmt::print(stderr, "usage: outbox_audit fill DIR N | pending DIR | count DIR URL\n");
  return 2;
}
