#pragma once
// The frame every report page shares: the document head (character set, a content policy that
// lets the page load nothing from anywhere and run no script, the CJK font list, the style sheet)
// and the navigation between the pages. Pages are single files; everything they show is inline.
#include <string>
#include <string_view>

namespace quorvel::pages {

// "<!DOCTYPE html>..." up to and including "<body>" and the navigation bar. `root` is the relative
// path from the page to the report directory ("" or "../").
// `head`: more markup for the document head (already escaped).
std::string page_start(std::string_view title, std::string_view root, std::string_view head = {});
std::string page_end();

// The class of a verdict's colour: "verdict-buy", "verdict-sell", "verdict-watch" or "verdict-none".
std::string verdict_class(std::string_view verdict);

}  // namespace quorvel::pages
