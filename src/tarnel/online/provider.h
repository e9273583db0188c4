#pragma once
// An online source of daily bars. A provider turns a request into HTTP GETs through the Fetcher and
// the replies into bars in the store's units: volume in shares, amount in the quote currency
// (NaN when the source gives none), prices with the requested adjustment. It never writes the store.
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "tarnel/csv_bars.h"
#include "tarnel/instrument_code.h"

namespace tarnel::online {

class Fetcher;

// Price adjustment of a series: none, forward (前复权, "qfq", anchored at the latest bar) or
// backward (后复权, "hfq").
enum class Adjustment { none, forward, backward };

std::string_view adjustment_name(Adjustment a);  // "none", "qfq", "hfq"

enum class InstrumentKind { stock, etf, index };

struct SeriesRequest {
  InstrumentCode code;
  InstrumentKind kind = InstrumentKind::stock;
  Date first, last;                          // inclusive
  Adjustment adjustment = Adjustment::forward;  // indices are never adjusted
  std::string symbol;  // the provider's identifier found earlier (may be empty)
};

struct SeriesReply {
  enum class Outcome {
    bars,     // rows hold the bars of the range
    empty,    // the source answered without bars: not proof that none exist
    unknown,  // the source does not know the instrument
    failed,   // transport, HTTP or format failure; `detail` says which
  };
  Outcome outcome = Outcome::failed;
  std::vector<BarRow> rows;  // oldest first, unique dates, inside [first, last]
  std::string name;          // display name when the source sent one, filtered as outside text
  std::string symbol;        // the identifier that answered
  std::string detail;
  bool unreachable = false;  // failed because the host cannot be reached
};

class Provider {
 public:
  virtual ~Provider() = default;
  virtual std::string_view name() const = 0;
  // Whether the source can serve the instrument at all.
  virtual bool supports(const SeriesRequest& request) const = 0;
  virtual SeriesReply fetch(const SeriesRequest& request, Fetcher& fetcher) = 0;
};

// The kind of an instrument from its code alone: fund codes are ETFs; SSE 000xxx and SZSE 399xxx,
// Hong Kong letter codes and the US index codes of the market blocks are indices.
InstrumentKind kind_of(const InstrumentCode& code);
std::string_view kind_name(InstrumentKind kind);  // "stock", "etf", "index"

// Keeps the rows inside [first, last], sorted, one per date; empty text, or why the rows cannot be
// stored (a row that is not a valid bar makes the whole answer unusable).
std::string clean_rows(std::vector<BarRow>& rows, Date first, Date last);

// What a series' own bars say about the volume unit its provider was assumed to use.
struct VolumeUnitCheck {
  bool verified = false;  // amount ≈ close × volume × scale held
  double scale = 1.0;     // what the volumes must be multiplied by: 100 or 0.01 when the bars show another unit
  double median_ratio = std::numeric_limits<double>::quiet_NaN();  // amount / (close × volume)
};

// Checks the volumes (shares) of stock and fund rows against their amounts (quote currency): the
// ratio amount / (close × volume) over the latest rows that carry an amount is about 1 when the
// assumed unit is right, about 100 or 1/100 when the source counted in lots of 100 shares or the
// reverse. It counts only when at least 80% of those rows agree on it (a split or a unit change
// inside the rows leaves the unit unverified). Index rows (close in points), rows without an
// amount, and rows whose prices are not the prices traded (`prices_as_traded` false: a
// backward-adjusted series, or forward-adjusted rows far from the latest session) cannot be
// checked. The rows are not changed.
VolumeUnitCheck check_volume_unit(const std::vector<BarRow>& rows, InstrumentKind kind, bool prices_as_traded);

}  // namespace tarnel::online
