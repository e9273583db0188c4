#include "tarnel/bar_store.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include <fmt/format.h>

#include "quorvel/utils/environment.h"
#include "tarnel/bar_columns.h"
#include "tarnel/price_precision.h"

namespace tarnel {

namespace {

constexpr const char* SCHEMA = R"sql(
CREATE TABLE IF NOT EXISTS instruments(
  code TEXT PRIMARY KEY, name TEXT NOT NULL, market TEXT NOT NULL, kind TEXT NOT NULL) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS bars(
  code TEXT NOT NULL, day INTEGER NOT NULL,
  open REAL NOT NULL, high REAL NOT NULL, low REAL NOT NULL, close REAL NOT NULL,
  volume REAL NOT NULL, amount REAL,
  PRIMARY KEY(code, day)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS bundled_received(code TEXT PRIMARY KEY) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS calendars(
  market TEXT NOT NULL, day INTEGER NOT NULL, PRIMARY KEY(market, day)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS series(
  code TEXT PRIMARY KEY, source TEXT NOT NULL, adjustment TEXT NOT NULL, symbol TEXT NOT NULL,
  checked_first INTEGER, checked_last INTEGER) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
-- Each instrument's bars packed in one value (bar_columns.h), a copy of its rows in `bars`.
CREATE TABLE IF NOT EXISTS series_columns(code TEXT PRIMARY KEY, packed BLOB NOT NULL);
-- Instruments whose bars changed since they were last packed.
CREATE TABLE IF NOT EXISTS unpacked_series(code TEXT PRIMARY KEY) WITHOUT ROWID;
-- Whoever changes bars (this store, an earlier version, a script), the instrument's packed copy goes
-- in the same statement and the instrument is listed to be packed again: a packed copy that exists
-- always equals the rows. The insert trigger does its work once per instrument and transaction.
CREATE TRIGGER IF NOT EXISTS bars_insert_unpacks AFTER INSERT ON bars
  WHEN NOT EXISTS (SELECT 1 FROM unpacked_series WHERE code = NEW.code) BEGIN
  DELETE FROM series_columns WHERE code = NEW.code;
  INSERT OR IGNORE INTO unpacked_series(code) VALUES (NEW.code);
END;
CREATE TRIGGER IF NOT EXISTS bars_update_unpacks AFTER UPDATE ON bars BEGIN
  DELETE FROM series_columns WHERE code IN (OLD.code, NEW.code);
  INSERT OR IGNORE INTO unpacked_series(code) VALUES (OLD.code), (NEW.code);
END;
CREATE TRIGGER IF NOT EXISTS bars_delete_unpacks AFTER DELETE ON bars BEGIN
  DELETE FROM series_columns WHERE code = OLD.code;
  INSERT OR IGNORE INTO unpacked_series(code) VALUES (OLD.code);
END;
)sql";

// Columns added after the first layout.
constexpr quorvel::sqlite::AddedColumn ADDED_COLUMNS[] = {
    // Shares per board lot; NULL when unknown.
    {"instruments", "lot", "INTEGER"},
    // 1 when the series' bars confirmed its volume unit; NULL or 0 when they could not.
    {"series", "volume_checked", "INTEGER"},
    // The factor applied to the source's volumes; NULL: 1 (series stored before it was recorded).
    {"series", "volume_scale", "REAL"},
};

// Meta key of the one-time rounding of prices stored before writes were rounded.
constexpr const char* PRICE_NOISE_CLEANED = "migration.price_noise_cleaned";

// Meta key of the packed-copy format every instrument was packed in once (see pack_unpacked_series).
constexpr const char* PACKED_FORMAT = "series_columns.format";

// How much of the store file a connection maps into memory for reading (address space, not memory).
constexpr std::int64_t MAP_BYTES = std::int64_t{1} << 32;

// Day bounds that take in every stored bar.
const Date ALL_FIRST{date::days{INT32_MIN / 2}};
const Date ALL_LAST{date::days{INT32_MAX / 2}};

int64_t day_number(Date d) { return d.time_since_epoch().count(); }
Date from_day_number(int64_t n) { return Date{date::days{n}}; }

// Brings a store made by an earlier version up to the current layout.
void add_missing_columns(Database& db) {
  if (quorvel::sqlite::missing_columns(db, ADDED_COLUMNS).empty()) return;
  Transaction tx(db);
  quorvel::sqlite::add_missing_columns(db, ADDED_COLUMNS);  // checks again: another process may have added them
  tx.commit();
}

// The instrument of a row "code, name, market, kind, lot".
InstrumentEntry read_instrument(const Statement& st) {
  InstrumentEntry e{st.text(0), st.text(1), st.text(2), st.text(3), ""};
  if (!st.is_null(4)) e.lot = int(st.integer(4));
  return e;
}

}  // namespace

std::filesystem::path default_store_path() {
  return quorvel::data_root() / "tarnel.sqlite";
}

quorvel::sqlite::OpenOptions market_db_options(bool create) {
  return {.label = "行情库",
          .create = create,
          .busy_timeout_ms = 30000,
          .wal = true,
          .permission_advice = "请检查该文件及其目录的读写权限，或用 TARNEL_CENTER 指定一个可写的数据目录",
          .corrupt_advice = "文件已损坏或不是行情库：请移走或删除它后重新运行（内置数据会自动重建，自行导入的数据请用 "
                            "tarnel-import 重新导入）"};
}

BarStore::BarStore(const std::filesystem::path& file) : db_(file, market_db_options(true)) {
  // Pages are read straight from the mapped file instead of copied in by a system call each: a whole
  // market's packed series is read about as fast as memory.
  db_.exec("PRAGMA mmap_size = " + std::to_string(MAP_BYTES));
  quorvel::sqlite::retry_while_busy(std::chrono::milliseconds(market_db_options(true).busy_timeout_ms), [this] {
    db_.exec(SCHEMA);
    add_missing_columns(db_);
  });
  load_stmt_ = std::make_unique<Statement>(db_.prepare(
      "SELECT day, open, high, low, close, volume, amount FROM bars WHERE code = ?1 AND day BETWEEN ?2 AND ?3 "
      "ORDER BY day"));
  packed_stmt_ = std::make_unique<Statement>(db_.prepare("SELECT packed FROM series_columns WHERE code = ?1"));
  instrument_stmt_ =
      std::make_unique<Statement>(db_.prepare("SELECT code, name, market, kind, lot FROM instruments WHERE code = ?1"));
  series_stmt_ = std::make_unique<Statement>(
      db_.prepare("SELECT source, adjustment, symbol, checked_first, checked_last, volume_checked, volume_scale "
                  "FROM series WHERE code = ?1"));
  clean_price_noise_once();
  pack_unpacked_series();
}

void BarStore::pack_unpacked_series() {
  const std::string format = std::to_string(BAR_COLUMNS_FORMAT);
  const auto pending = [&] {
    if (meta(PACKED_FORMAT) != format) return true;
    Statement st = db_.prepare("SELECT 1 FROM unpacked_series LIMIT 1");
    return st.step();
  };
  if (!pending()) return;
  try {
    Transaction tx(db_);
    if (!pending()) return;  // another connection did it meanwhile
    if (meta(PACKED_FORMAT) != format) {
      // A store written before packed copies, or in another format: pack every instrument anew.
      db_.exec(
          "DELETE FROM series_columns; INSERT OR IGNORE INTO unpacked_series(code) SELECT DISTINCT code FROM bars");
      set_meta(PACKED_FORMAT, format);
    }
    std::vector<std::string> codes;
    for (Statement st = db_.prepare("SELECT code FROM unpacked_series"); st.step();) codes.push_back(st.text(0));
    for (const auto& code : codes) pack_series(code);
    tx.commit();
  } catch (const quorvel::sqlite::DatabaseBusy&) {
    // Another process holds the store for writing; reads of the instruments left unpacked take their
    // rows meanwhile, and the next open packs them.
  }
}

void BarStore::pack_series(const std::string& code) {
  // One unit even outside a caller's transaction: no other writer's bar may land between reading the
  // rows and clearing the instrument's mark, which would leave a packed copy without that bar.
  db_.exec("SAVEPOINT pack_series");
  try {
    const BarTable rows = load_rows(code, ALL_FIRST, ALL_LAST);
    if (rows.empty()) {
      db_.prepare("DELETE FROM series_columns WHERE code = ?1").bind(1, code).run();
    } else {
      const std::vector<std::byte> packed = pack_bar_columns(rows);
      db_.prepare("INSERT OR REPLACE INTO series_columns(code, packed) VALUES (?1, ?2)")
          .bind(1, code)
          .bind_blob(2, packed)
          .run();
    }
    db_.prepare("DELETE FROM unpacked_series WHERE code = ?1").bind(1, code).run();
  } catch (...) {
    try {
      db_.exec("ROLLBACK TO pack_series; RELEASE pack_series");
    } catch (...) {
      // SQLite already rolled the whole transaction back (a full disk, say): nothing is left to undo.
    }
    throw;
  }
  db_.exec("RELEASE pack_series");
}

void BarStore::clean_price_noise_once() {
  if (meta(PRICE_NOISE_CLEANED)) return;
  Transaction tx(db_);
  if (meta(PRICE_NOISE_CLEANED)) return;  // another process did it meanwhile
  std::vector<std::string> codes;
  for (Statement st = db_.prepare("SELECT DISTINCT code FROM bars"); st.step();) codes.push_back(st.text(0));
  Statement update = db_.prepare("UPDATE bars SET open = ?3, high = ?4, low = ?5, close = ?6 WHERE code = ?1 AND day = ?2");
  std::size_t changed = 0;
  for (const auto& code : codes) {
    const BarTable t = load_rows(code, ALL_FIRST, ALL_LAST);
    std::vector<BarRow> rows;
    rows.reserve(t.rows());
    for (std::size_t i = 0; i < t.rows(); ++i)
      rows.push_back({t.index()[i], t.at("open", i), t.at("high", i), t.at("low", i), t.at("close", i), 0, 0});
    const std::vector<BarRow> rounded = with_rounded_prices(rows);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const BarRow &a = rows[i], &b = rounded[i];
      if (a.open == b.open && a.high == b.high && a.low == b.low && a.close == b.close) continue;
      update.bind(1, code).bind(2, day_number(b.date)).bind(3, b.open).bind(4, b.high).bind(5, b.low).bind(6, b.close);
      update.step();
      update.reset();
      ++changed;
    }
  }
  set_meta(PRICE_NOISE_CLEANED, std::to_string(changed) + " rows");
  tx.commit();
}

BarStore::~BarStore() = default;

void BarStore::upsert_instrument(const InstrumentEntry& e) {
  Statement st = db_.prepare(
      "INSERT INTO instruments(code, name, market, kind, lot) VALUES (?1, ?2, ?3, ?4, ?5) "
      "ON CONFLICT(code) DO UPDATE SET name = excluded.name, market = excluded.market, kind = excluded.kind, "
      "lot = COALESCE(excluded.lot, lot)");
  st.bind(1, e.code).bind(2, e.name).bind(3, e.market).bind(4, e.kind);
  if (e.lot)
    st.bind(5, std::int64_t{*e.lot});
  else
    st.bind_null(5);
  st.step();
}

std::size_t BarStore::upsert_bars(const std::string& code, const std::vector<BarRow>& raw_rows) {
  const std::vector<BarRow> rows = with_rounded_prices(raw_rows);
  Statement st = db_.prepare(
      "INSERT OR REPLACE INTO bars(code, day, open, high, low, close, volume, amount) "
      "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
  for (const auto& r : rows) {
    st.bind(1, code).bind(2, day_number(r.date)).bind(3, r.open).bind(4, r.high).bind(5, r.low).bind(6, r.close);
    st.bind(7, r.volume).bind(8, r.amount);
    st.step();
    st.reset();
  }
  if (!rows.empty()) pack_series(code);
  return rows.size();
}

void BarStore::add_calendar_days(const std::string& market, const std::vector<Date>& days) {
  Statement st = db_.prepare("INSERT OR IGNORE INTO calendars(market, day) VALUES (?1, ?2)");
  for (Date d : days) {
    st.bind(1, market).bind(2, day_number(d));
    st.step();
    st.reset();
  }
}

void BarStore::delete_bars(const std::string& code) {
  db_.prepare("DELETE FROM bars WHERE code = ?1").bind(1, code).step();
  pack_series(code);
}

void BarStore::put_series(const SeriesInfo& info) {
  Statement st = db_.prepare(
      "INSERT OR REPLACE INTO series(code, source, adjustment, symbol, checked_first, checked_last, volume_checked, "
      "volume_scale) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
  st.bind(1, info.code).bind(2, info.source).bind(3, info.adjustment).bind(4, info.symbol);
  const auto day_or_null = [](const std::optional<Date>& d) { return d ? double(day_number(*d)) : std::nan(""); };
  st.bind(5, day_or_null(info.checked_first)).bind(6, day_or_null(info.checked_last));
  st.bind(7, std::int64_t(info.volume_checked ? 1 : 0)).bind(8, info.volume_scale);
  st.step();
}

std::optional<SeriesInfo> BarStore::series(const std::string& code) {
  Statement& st = *series_stmt_;
  st.reset();
  st.bind(1, code);
  std::optional<SeriesInfo> info;
  if (st.step()) {
    info = SeriesInfo{code, st.text(0), st.text(1), st.text(2), std::nullopt, std::nullopt};
    if (!std::isnan(st.real(3))) info->checked_first = from_day_number(st.integer(3));
    if (!std::isnan(st.real(4))) info->checked_last = from_day_number(st.integer(4));
    info->volume_checked = !st.is_null(5) && st.integer(5) != 0;
    if (!st.is_null(6)) info->volume_scale = st.real(6);
  }
  st.reset();
  return info;
}

void BarStore::set_meta(const std::string& key, const std::string& value) {
  db_.prepare("INSERT OR REPLACE INTO meta(key, value) VALUES (?1, ?2)").bind(1, key).bind(2, value).step();
}

std::optional<std::string> BarStore::meta(const std::string& key) {
  Statement st = db_.prepare("SELECT value FROM meta WHERE key = ?1");
  st.bind(1, key);
  if (!st.step()) return std::nullopt;
  return st.text(0);
}

std::vector<Date> BarStore::bar_days(const std::string& code, Date first, Date last) {
  Statement st = db_.prepare("SELECT day FROM bars WHERE code = ?1 AND day BETWEEN ?2 AND ?3 ORDER BY day");
  st.bind(1, code).bind(2, day_number(first)).bind(3, day_number(last));
  std::vector<Date> out;
  while (st.step()) out.push_back(from_day_number(st.integer(0)));
  return out;
}

bool BarStore::bundled_received(const std::string& code) {
  Statement st = db_.prepare("SELECT 1 FROM bundled_received WHERE code = ?1");
  st.bind(1, code);
  return st.step();
}

void BarStore::mark_bundled_received(const std::string& code) {
  db_.prepare("INSERT OR IGNORE INTO bundled_received(code) VALUES (?1)").bind(1, code).step();
}

std::size_t BarStore::instrument_count() {
  Statement st = db_.prepare("SELECT COUNT(*) FROM instruments");
  st.step();
  return std::size_t(st.integer(0));
}

std::optional<InstrumentEntry> BarStore::instrument(const std::string& code) {
  Statement& st = *instrument_stmt_;
  st.reset();
  st.bind(1, code);
  std::optional<InstrumentEntry> entry;
  if (st.step()) entry = read_instrument(st);
  st.reset();
  return entry;
}

std::vector<InstrumentEntry> BarStore::instruments() {
  Statement st = db_.prepare("SELECT code, name, market, kind, lot FROM instruments ORDER BY code");
  std::vector<InstrumentEntry> out;
  while (st.step()) out.push_back(read_instrument(st));
  return out;
}

BarTable BarStore::load(const std::string& code, Date first, Date last) {
  Statement& st = *packed_stmt_;
  st.reset();
  st.bind(1, code);
  std::optional<BarTable> packed;
  if (st.step()) packed = unpack_bar_columns(st.blob(0), first, last);
  st.reset();
  // No packed copy (no bars, or changed by a writer that does not pack) or one of another format.
  return packed ? std::move(*packed) : load_rows(code, first, last);
}

BarTable BarStore::load_rows(const std::string& code, Date first, Date last) {
  Statement& st = *load_stmt_;
  st.reset();
  st.bind(1, code).bind(2, day_number(first)).bind(3, day_number(last));
  BarTable t = BarTable::with_base_columns();
  t.reserve(512);
  std::vector<double> row(6);
  while (st.step()) {
    for (int c = 0; c < 5; ++c) row[std::size_t(c)] = st.real(c + 1);  // NOT NULL columns
    row[5] = st.real(6);
    t.append_row(from_day_number(st.integer(0)), row);
  }
  st.reset();
  return t;
}

std::vector<Date> BarStore::calendar_days(const std::string& market) {
  Statement st = db_.prepare("SELECT day FROM calendars WHERE market = ?1 ORDER BY day");
  st.bind(1, market);
  std::vector<Date> out;
  while (st.step()) out.push_back(from_day_number(st.integer(0)));
  return out;
}

std::vector<Date> BarStore::bar_dates(const std::string& market, const std::string& kind) {
  Statement st = db_.prepare(
      "SELECT DISTINCT b.day FROM bars b JOIN instruments i ON i.code = b.code "
      "WHERE i.market = ?1 AND i.kind = ?2 ORDER BY b.day");
  st.bind(1, market).bind(2, kind);
  std::vector<Date> out;
  while (st.step()) out.push_back(from_day_number(st.integer(0)));
  return out;
}

}  // namespace tarnel
