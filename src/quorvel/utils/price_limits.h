#pragma once
// The exchange's price rules of an instrument: how far a session may move from the previous close
// (the limit band) and the smallest step of its price (the tick). Pure functions; thread-safe.
#include <cstddef>
#include <string>

#include "contracts/bar_table.h"

namespace quorvel {

// The daily limit band (a fraction of the previous close) of the board of `code` (canonical) on
// `day`: Shanghai and Shenzhen main boards 10%; ChiNext (sz.30xxxx) 10% before 2020-08-24 and 20%
// from then; STAR (sh.688xxx, sh.689xxx) 20%; Beijing (bj.) 30%; funds 10% (their index's board is
// not known here); 10% for anything else (ST shares included, their history not being known).
double limit_band(const std::string& code, tarnel::Date day);

// The band of limit_band for one instrument over many days: the board is read from the code once.
class LimitBandRule {
 public:
  explicit LimitBandRule(const std::string& code);
  double at(tarnel::Date day) const { return day >= change_ ? after_ : before_; }

 private:
  double before_ = 0.10, after_ = 0.10;  // the band before and from `change_`
  tarnel::Date change_{};
};

// One tick of the instrument's price: 0.001 for funds, 0.01 otherwise.
double price_tick(const std::string& code);

// Sessions at the start of a series that have no band (a new listing's first five days).
inline constexpr std::size_t UNBANDED_FIRST_SESSIONS = 5;

}  // namespace quorvel
