#include "quorvel/report/sql_report_store.h"

#include <algorithm>
#include <cctype>
#include <set>

#include <fmt/format.h>
#include <unistd.h>

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "quorvel/report/decision_payload.h"
#include "quorvel/report/markdown.h"
#include "quorvel/report/message.h"
#include "quorvel/report/report_paths.h"
#include "quorvel/utils/atomic_file.h"
#include "quorvel/utils/instrument_code.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/market_type.h"
#include "quorvel/utils/outside_text.h"
#include "quorvel/utils/text.h"

namespace quorvel::report {

namespace {

constexpr const char* REPORT_COLUMNS =
    "id, kind, stock_code, stock_name, market_type, analysis_date, analysis_time, current_price, "
    "llm_client_type, llm_model, content, created_at, file, data_note, review_required";

// The text of a JSON column (decision, plan checks) for a report about to be stored; "null" for none.
std::string json_column(const std::optional<nlohmann::ordered_json>& d) {
  return d ? d->dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) : std::string("null");
}

StoredReport read_report(const Statement& s) {
  StoredReport r;
  r.id = s.integer(0);
  r.kind = parse_kind(s.text(1)).value_or(ReportKind::analysis);
  r.stock_code = s.text(2);
  r.stock_name = s.text(3);
  r.market_type = s.optional_text(4);
  r.analysis_date = s.text(5);
  r.analysis_time = s.text(6);
  if (!s.is_null(7)) r.current_price = s.real(7);
  r.llm_client_type = s.text(8);
  r.llm_model = s.text(9);
  r.content = s.text(10);
  r.created_at = s.text(11);
  r.file = s.optional_text(12);
  r.data_note = s.text(13);
  r.review_required = !s.is_null(14) && s.integer(14) != 0;
  return r;
}

std::string now_text() { return iso_utc(clock().now()); }

void prepare_directory(const std::filesystem::path& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir))
    throw RuntimeError(fmt::format("无法创建报告目录 {}: {} (请检查权限，或用 REPORT_DIR 指定可写的目录)", dir.string(),
                                   ec ? ec.message() : std::string("该路径不是目录")));
  if (::access(dir.c_str(), W_OK | X_OK) != 0)
    throw RuntimeError(fmt::format("报告目录不可写: {} (请检查权限，或用 REPORT_DIR 指定可写的目录)", dir.string()));
}

}  // namespace

SqlReportStore::SqlReportStore(StoreOptions options, std::shared_ptr<MessagePublisher> publisher,
                               std::string broker_problem)
    : options_(std::move(options)), publisher_(std::move(publisher)), broker_problem_(std::move(broker_problem)) {
  if (!options_.read_only) prepare_directory(options_.directory);
  db_ = options_.database_url.empty() ? store::open_sqlite_connection(options_)
                                      : store::open_postgres_connection(options_);
}

SqlReportStore::~SqlReportStore() = default;

const std::string& SqlReportStore::describe_database() const { return db_->describe(); }

bool SqlReportStore::exists(const std::string& code, const std::string& date, const std::string& llm_client_type) {
  // An analysis counts once its summary is stored too: a run that stopped between the two (before
  // they were saved together) left an instrument-day that must be analysed again.
  return locked([&](bool) {
    Statement s = db_->prepare(
        "SELECT 1 FROM reports a WHERE a.stock_code = ?1 AND a.analysis_date = ?2 AND a.llm_client_type = ?3 "
        "AND a.kind = 'analysis' AND EXISTS (SELECT 1 FROM reports s WHERE s.stock_code = ?1 "
        "AND s.analysis_date = ?2 AND s.llm_client_type = ?3 AND s.kind = 'summary') LIMIT 1");
    s.bind(1, code).bind(2, date_key(date)).bind(3, llm_client_type);
    return s.step();
  });
}

std::optional<StoredAnalysis> SqlReportStore::stored_analysis(const AnalysisKey& key) {
  std::optional<std::string> content, decision, summary, checks;
  bool have_analysis = false, review = false;
  locked([&](bool) {
    content = decision = summary = checks = std::nullopt;
    have_analysis = review = false;
    Statement s = db_->prepare(
        "SELECT kind, content, decision, plan_checks, review_required FROM reports WHERE stock_code = ?1 AND "
        "analysis_date = ?2 "
        "AND llm_client_type = ?3 AND kind IN ('analysis', 'summary') ORDER BY id DESC");
    s.bind(1, key.code).bind(2, date_key(key.date)).bind(3, key.llm_client_type);
    while (s.step() && !(have_analysis && summary)) {
      if (s.text(0) == "summary") {
        if (!summary) summary = s.text(1);
      } else if (!have_analysis) {
        have_analysis = true;
        content = s.text(1);
        decision = s.optional_text(2);
        checks = s.optional_text(3);
        review = !s.is_null(4) && s.integer(4) != 0;
      }
    }
  });
  if (!have_analysis || !summary) return std::nullopt;
  StoredAnalysis out;
  out.summary = std::move(*summary);
  out.review_required = review;
  if (checks) {
    out.plan_checks = nlohmann::ordered_json::parse(*checks, nullptr, false);
    if (out.plan_checks.is_discarded()) out.plan_checks = nullptr;
  }
  if (!decision) {
    out.decision = decision_from_analysis(*content);  // stored before the decision had a column
  } else if (*decision != "null") {
    out.decision = nlohmann::ordered_json::parse(*decision, nullptr, false);
    if (out.decision->is_discarded()) out.decision.reset();
  }
  return out;
}

bool SqlReportStore::claim_analysis(const AnalysisKey& key, const std::string& owner, std::chrono::milliseconds lease) {
  return locked([&](bool) {
    const std::int64_t now = db_->now_ms();
    RelaxedSync relaxed(*db_);  // a claim lost in a power cut only frees the instrument-day earlier
    Statement s = db_->prepare(
        "INSERT INTO analysis_claims (stock_code, analysis_date, llm_client_type, owner, lease_until) "
        "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (stock_code, analysis_date, llm_client_type) DO UPDATE "
        "SET owner = excluded.owner, lease_until = excluded.lease_until "
        "WHERE analysis_claims.owner = excluded.owner OR analysis_claims.lease_until <= ?6");
    s.bind(1, key.code).bind(2, date_key(key.date)).bind(3, key.llm_client_type).bind(4, owner);
    s.bind(5, now + std::int64_t(lease.count())).bind(6, now);
    s.run();
    // A claim made again after a broken connection finds its own earlier claim: the same owner.
    return s.changes() > 0;
  });
}

void SqlReportStore::release_analysis(const AnalysisKey& key, const std::string& owner) {
  locked([&](bool) {
    RelaxedSync relaxed(*db_);
    Statement s = db_->prepare(
        "DELETE FROM analysis_claims WHERE stock_code = ?1 AND analysis_date = ?2 AND llm_client_type = ?3 "
        "AND owner = ?4");
    s.bind(1, key.code).bind(2, date_key(key.date)).bind(3, key.llm_client_type).bind(4, owner).run();
  });
}

std::int64_t SqlReportStore::insert_report(const PendingSave& save) {
  const StoredReport& row = save.row;
  Statement ins = db_->prepare(
      "INSERT INTO reports (kind, stock_code, stock_name, market_type, analysis_date, analysis_time, "
      "current_price, llm_client_type, llm_model, content, created_at, decision, data_note, plan_checks, "
      "review_required, prescreen_levels) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, "
      "?15, ?16) RETURNING id");
  ins.bind(1, kind_name(row.kind)).bind(2, row.stock_code).bind(3, row.stock_name).bind_optional(4, row.market_type);
  ins.bind(5, row.analysis_date).bind(6, row.analysis_time);
  if (row.current_price) {
    ins.bind(7, *row.current_price);
  } else {
    ins.bind_null(7);
  }
  ins.bind(8, row.llm_client_type).bind(9, row.llm_model).bind(10, row.content).bind(11, row.created_at);
  ins.bind_optional(12, save.decision);
  ins.bind(13, row.data_note);
  ins.bind_optional(14, save.plan_checks);
  ins.bind(15, std::int64_t(row.review_required ? 1 : 0));
  ins.bind_optional(16, save.levels);
  if (!ins.step()) throw RuntimeError(fmt::format("报告数据库 {} 未返回新报告的编号", db_->describe()));
  const std::int64_t id = ins.integer(0);
  ins.run();

  Statement msg = db_->prepare(
      "INSERT INTO outbox (message_id, report_id, kind, stream, payload, created_at) "
      "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  msg.bind(1, save.message_id).bind(2, id).bind(3, kind_name(row.kind)).bind(4, stream_name(row.kind));
  msg.bind(5, save.payload(id, row.created_at)).bind(6, row.created_at);
  msg.run();
  return id;
}

void SqlReportStore::store(std::span<PendingSave> saves) {
  locked([&](bool retried) {
    // Run again after a broken connection, the transaction may have committed before the break:
    // its messages' ids then tell, and the reports are not stored twice.
    if (retried && stored_before(saves)) return;
    Transaction tx(*db_);
    for (PendingSave& save : saves) save.row.id = insert_report(save);
    tx.commit();
  });
  for (PendingSave& save : saves) write_file(save.row);
}

bool SqlReportStore::stored_before(std::span<PendingSave> saves) {
  Statement s = db_->prepare("SELECT report_id FROM outbox WHERE message_id = ?1");
  for (PendingSave& save : saves) {
    s.reset();
    s.bind(1, save.message_id);
    if (!s.step()) return false;
    save.row.id = s.integer(0);
  }
  return true;
}

bool SqlReportStore::newer_report_owns(std::int64_t id, const std::string& rel) {
  // A later report of the same code, kind, date and client has already written this file; an older
  // report (written late, after a failure or a race with another process) must not replace it.
  return locked([&](bool) {
    Statement s = db_->prepare("SELECT 1 FROM reports WHERE id > ?1 AND file = ?2 LIMIT 1");
    s.bind(1, id).bind(2, rel);
    return s.step();
  });
}

bool SqlReportStore::write_file(StoredReport& report) {
  if (!options_.write_files) return true;
  const std::filesystem::path rel = markdown_relative_path(report);
  const std::filesystem::path path = options_.directory / rel;
  try {
    if (!is_inside(options_.directory, path))
      throw RuntimeError("文件路径越出了报告目录");  // cannot happen with escaped names; kept as a last guard
    if (!newer_report_owns(report.id, rel.generic_string())) write_file_atomically(path, render_markdown(report));
    locked([&](bool) {
      RelaxedSync relaxed(*db_);
      Statement s = db_->prepare("UPDATE reports SET file = ?1 WHERE id = ?2");
      s.bind(1, rel.generic_string()).bind(2, report.id).run();
    });
    report.file = rel.generic_string();
    return true;
  } catch (const std::exception& e) {
    logger.warning(
        "[报告存储] 写 Markdown 文件失败 path=%s err=%s | 报告已存入数据库 (id=%d)，可用 quorvel-reports write-files "
        "重写",
        path.string(), e.what(), report.id);
    return false;
  }
}

namespace {

// The fields every stock report row shares. Text that came from the model or a data source is
// cleaned for terminals and freed of secrets before it is stored, written or published.
StoredReport stock_row(ReportKind kind, const std::string& code, const std::string& name, const std::string& time,
                       double price, const std::string& client, const std::string& model, const std::string& content) {
  StoredReport row;
  row.kind = kind;
  row.stock_code = code;
  row.stock_name = outside_text(name);
  row.analysis_date = date_key(time);
  row.analysis_time = time;
  row.current_price = price;
  row.llm_client_type = client;
  row.llm_model = outside_text(model);
  row.content = outside_text(content);
  row.created_at = now_text();
  return row;
}

}  // namespace

SqlReportStore::PendingSave SqlReportStore::analysis_save(const AnalysisReport& r) {
  PendingSave save;
  save.row = stock_row(ReportKind::analysis, r.stock_code, r.stock_name, r.analysis_time, r.current_price,
                       r.llm_client_type, r.llm_model, r.content);
  save.row.market_type = r.market_type;
  save.row.data_note = r.data_note;
  std::optional<nlohmann::ordered_json> decision;
  if (!r.decision) {
    decision = decision_from_analysis(r.content);
  } else if (!r.decision->is_null()) {
    decision = *r.decision;
  }
  save.decision = json_column(decision);
  save.row.review_required = r.review_required;
  if (r.plan_checks) save.plan_checks = json_column(r.plan_checks);
  if (r.levels) save.levels = json_column(r.levels);
  save.message_id = new_message_id();
  AnalysisReport published = r;
  published.stock_name = save.row.stock_name;
  published.llm_model = save.row.llm_model;
  published.content = save.row.content;
  save.payload = [published = std::move(published), decision = std::move(decision), id = save.message_id](
                     std::int64_t report_id, const std::string& created) {
    return message_text(analysis_message({id, created, report_id}, published, decision));
  };
  return save;
}

SqlReportStore::PendingSave SqlReportStore::summary_save(const SummaryReport& r) {
  PendingSave save;
  save.row = stock_row(ReportKind::summary, r.stock_code, r.stock_name, r.analysis_time, r.current_price,
                       r.llm_client_type, r.llm_model, r.content);
  save.row.data_note = r.data_note;
  save.row.review_required = r.review_required;
  // The summary record has no market; derive it from the code so listings can filter by market.
  save.row.market_type = get_market_type(r.stock_code, r.stock_name);
  save.message_id = new_message_id();
  SummaryReport published = r;
  published.stock_name = save.row.stock_name;
  published.llm_model = save.row.llm_model;
  published.content = save.row.content;
  save.payload = [published = std::move(published), id = save.message_id](std::int64_t report_id,
                                                                          const std::string& created) {
    return message_text(summary_message({id, created, report_id}, published));
  };
  return save;
}

void SqlReportStore::save_analysis_report(const AnalysisReport& r) {
  PendingSave saves[] = {analysis_save(r)};
  store(saves);
}

void SqlReportStore::save_summary_report(const SummaryReport& r) {
  PendingSave saves[] = {summary_save(r)};
  store(saves);
}

void SqlReportStore::save_analysis_with_summary(const AnalysisReport& analysis, const SummaryReport& summary) {
  PendingSave saves[] = {analysis_save(analysis), summary_save(summary)};
  store(saves);
}

void SqlReportStore::save_solvara(const SolvaraReport& r) {
  PendingSave save;
  save.row.kind = ReportKind::solvara;
  save.row.market_type = r.market_type;
  save.row.analysis_date = date_key(r.analysis_time);
  save.row.analysis_time = r.analysis_time;
  save.row.llm_client_type = r.llm_client_type;
  save.row.llm_model = outside_text(r.llm_model);
  save.row.content = outside_text(r.content);
  save.row.created_at = now_text();
  save.message_id = new_message_id();
  SolvaraReport published = r;
  published.llm_model = save.row.llm_model;
  published.content = save.row.content;
  save.payload = [published = std::move(published), id = save.message_id](std::int64_t report_id,
                                                                          const std::string& created) {
    return message_text(solvara_message({id, created, report_id}, published));
  };
  PendingSave saves[] = {std::move(save)};
  store(saves);
}

std::vector<StoredReport> SqlReportStore::list_reports(const ReportFilter& f) {
  // Only fixed clauses enter the SQL text; every value is a bound parameter.
  std::string sql = fmt::format("SELECT {} FROM reports WHERE 1=1", REPORT_COLUMNS);
  if (f.code) sql += " AND stock_code = ?1";
  if (f.date) sql += " AND analysis_date = ?2";
  if (f.market) sql += " AND market_type = ?3";
  if (f.kind) sql += " AND kind = ?4";
  if (f.llm_client_type) sql += " AND llm_client_type = ?5";
  sql += " ORDER BY id DESC LIMIT ?6";
  return locked([&](bool) {
    Statement s = db_->prepare(sql);
    if (f.code) s.bind(1, *f.code);
    if (f.date) s.bind(2, date_key(*f.date));
    if (f.market) s.bind(3, upper_ascii(*f.market));
    if (f.kind) s.bind(4, kind_name(*f.kind));
    if (f.llm_client_type) s.bind(5, *f.llm_client_type);
    s.bind(6, std::int64_t(std::max(f.limit, 0)));
    std::vector<StoredReport> out;
    while (s.step()) out.push_back(read_report(s));
    return out;
  });
}

std::optional<StoredReport> SqlReportStore::get_report(std::int64_t id) {
  return locked([&](bool) -> std::optional<StoredReport> {
    Statement s = db_->prepare(fmt::format("SELECT {} FROM reports WHERE id = ?1", REPORT_COLUMNS));
    s.bind(1, id);
    if (!s.step()) return std::nullopt;
    return read_report(s);
  });
}

SqlReportStore::FilesWritten SqlReportStore::write_missing_files(bool check_disk) {
  if (!options_.write_files || options_.read_only) return {};
  std::vector<StoredReport> missing;
  locked([&](bool) {
    missing.clear();
    Statement s = db_->prepare(fmt::format("SELECT {} FROM reports WHERE file IS NULL ORDER BY id", REPORT_COLUMNS));
    while (s.step()) missing.push_back(read_report(s));
    if (check_disk) {
      // Newest first: the newest report of a file is the one the file shows.
      Statement all =
          db_->prepare(fmt::format("SELECT {} FROM reports WHERE file IS NOT NULL ORDER BY id DESC", REPORT_COLUMNS));
      std::set<std::string> seen;
      while (all.step()) {
        StoredReport r = read_report(all);
        std::error_code ec;
        const auto size = std::filesystem::file_size(options_.directory / *r.file, ec);
        if (seen.insert(*r.file).second && (ec || size == 0)) missing.push_back(std::move(r));
      }
    }
  });
  FilesWritten out;
  for (StoredReport& r : missing) {
    const auto path = options_.directory / markdown_relative_path(r);
    std::error_code ec;
    const bool before = std::filesystem::file_size(path, ec) > 0 && !ec;
    if (!write_file(r)) {
      ++out.failed;
    } else if (!before && std::filesystem::exists(path)) {
      ++out.written;
    }
  }
  return out;
}

}  // namespace quorvel::report
