#pragma once
// Decimal texts of reals: parsing numeric texts written by an LLM, exact rounding to three decimals,
// and the exact integer text of a real.
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::agent::schemas {

// Parses a decimal floating-point text: surrounding Unicode white space is allowed, then an
// optional sign and either digits with an optional fraction and exponent ("12", "-0.5", "3.",
// ".25", "1e-3") or one of the words inf, infinity, nan in any letter case. Values beyond the
// range of a 64-bit real become an infinity or zero. Nothing when the text is not such a number.
std::optional<double> parse_decimal(std::string_view text);

// Reads a number literal of the decimal grammar above (no white space, no words) as the nearest
// 64-bit real, also when it lies beyond the representable range (giving +-infinity or +-0.0).
double decimal_literal_to_double(std::string_view literal);

// `x` rounded to three decimals with ties to even, decided on the exact binary value of `x`: the
// same as printing it with exactly three decimals and reading the text back. Non-finite values are
// returned unchanged.
double round3(double x);

// Decimal text of the integer part of a finite `x`, truncated toward zero and written exactly
// ("12", "-5", "0", "100000000000000000000"). Precondition: x is finite.
std::string truncated_integer_text(double x);

}  // namespace quorvel::agent::schemas
