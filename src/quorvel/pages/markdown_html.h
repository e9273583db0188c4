#pragma once
// Markdown of the reports (the model's analysis, the trading summary, the market brief) as HTML for
// the report pages, GitHub flavour (tables, strike-through, task lists, autolinks). The text comes
// from a model: raw HTML in it is shown as text, never passed through, and the page's content
// policy keeps any link or image it names from being fetched.
#include <string>
#include <string_view>

namespace quorvel::pages {

std::string markdown_html(std::string_view markdown);

}  // namespace quorvel::pages
