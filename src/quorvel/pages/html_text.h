#pragma once
// Text placed into an HTML page or an SVG drawing. Every value that comes from outside (codes,
// names, model output, file names) goes through html_escape before it is written into markup; the
// result is safe both as element content and as a double-quoted attribute value.
#include <string>
#include <string_view>

namespace quorvel::pages {

// & < > " ' become entities; every other byte is kept as it is (UTF-8 stays intact).
std::string html_escape(std::string_view text);

// A number as an SVG coordinate or attribute: at most `decimals` decimals, no trailing zeros, never
// "-0", never exponent notation. NaN and infinities give "0" (a caller never draws those).
std::string svg_number(double value, int decimals = 2);

}  // namespace quorvel::pages
