#pragma once
// The comparisons the offline analysis states, in one checkable form: "ADX 25.45 > 25". The rule
// that acts on a comparison and the sentence that states it read the same object, so the text can
// never say more than was decided. The relation printed (>, < or =) is the one that holds between
// the printed numbers: the reading is rounded to the decimals it is printed with before it is
// compared, which for prompt readings (oscillators at two decimals) changes nothing.
// Pure; safe on any thread.
#include <string>

#include "quorvel/agent/offline/offline_stock_reading.h"

namespace quorvel::agent::offline {

struct Comparison {
  std::string name;  // "ADX", "RSI", "量比", "60日分位"
  double value;      // NaN when the reading is missing: every test is then false
  double bound;
  int decimals = 2;

  double shown() const;  // value rounded to `decimals`
  bool above() const { return shown() > bound; }
  bool below() const { return shown() < bound; }
  bool at_least() const { return shown() >= bound; }
  bool at_most() const { return shown() <= bound; }
  // "ADX 25.45 > 25"; "ADX 缺失" when the value is NaN.
  std::string text() const;
};

// "<name> <value> <relation> <bound>" for a value decided on as it is (not rounded): printed with
// the fewest decimals, from two, that keep the printed relation the true one.
std::string exact_claim(const std::string& name, double value, double bound);

// "EMA5/10/20/60 = 1790.00/1801.11/1819.60/1767.99，均线交织": the lines the stack was read
// over, their values as the prompt prints them, and the stack.
std::string alignment_claim(const StockReading& r);

// "高于", "低于" or "等于" for a against b (prices compared as printed with `decimals`).
std::string position_word(double a, double b, int decimals);

}  // namespace quorvel::agent::offline
