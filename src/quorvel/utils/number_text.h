#pragma once
// Number texts as they appear in the status records and log lines.
//
// `Num` is a number that remembers whether it is an integer or a real: an integer prints as "0",
// a whole real as "7.0". Reals print as their shortest round-trip text, in plain notation for
// magnitudes from 0.0001 up to below 1e16 and in exponent notation otherwise (1e-05, 1.5e+16).
#include <string>

namespace quorvel {

class Num {
 public:
  constexpr Num() = default;
  constexpr Num(int v) : is_int_(true), i_(v) {}        // NOLINT: implicit by design
  constexpr Num(long long v) : is_int_(true), i_(v) {}  // NOLINT
  constexpr Num(double v) : is_int_(false), d_(v) {}    // NOLINT

  constexpr bool is_integer() const { return is_int_; }
  constexpr double value() const { return is_int_ ? double(i_) : d_; }
  constexpr long long integer() const { return i_; }
  bool operator==(const Num& o) const { return is_int_ == o.is_int_ && (is_int_ ? i_ == o.i_ : d_ == o.d_); }

 private:
  bool is_int_ = true;
  long long i_ = 0;
  double d_ = 0.0;
};

// Shortest round-trip text of a real ("7.0", "0.1", "1e-05", "nan", "inf", "-inf").
std::string number_text(double x);
std::string number_text(long long x);
std::string number_text(const Num& x);

// Rounds to `digits` decimals: x * 10^digits rounded half to even, divided back.
double round_half_even(double x, int digits);

// r3: rounded to three decimals, printed as its number text; integers print unchanged.
std::string r3(const Num& x);
// r0: rounded to a whole number (half to even), printed without a decimal point.
// Not-a-number and infinities print as "nan", "inf", "-inf".
std::string r0(const Num& x);

}  // namespace quorvel
