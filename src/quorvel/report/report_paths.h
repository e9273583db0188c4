#pragma once
// Where reports live on disk and how their files are named.
//
// The report directory itself is resolved with the other roots (quorvel/utils/environment.h).
// Every file name part derived from report data goes through safe_file_component, so no code,
// client name or date can leave the report directory or produce a name the file system rejects.
#include <filesystem>
#include <string>
#include <string_view>

namespace quorvel::report {

// One path component made from arbitrary text. Letters, digits, "-", "_", "." and "+" are kept;
// every other byte (separators, quotes, control characters, non-ASCII UTF-8) becomes "%XX", and a
// leading "." too, so "." and ".." never come out. Empty text gives `fallback`. Long texts are cut
// and end in a hash of the whole text, so the component stays below the usual 255-byte limit and
// distinct inputs stay distinct.
std::string safe_file_component(std::string_view text, std::string_view fallback = "_");

// Folder of one date below the report directory: the date key (quorvel/utils/text.h), or "undated" when it is empty.
std::string date_folder(std::string_view analysis_time);

// True when `path`, lexically normalised, lies inside `dir`.
bool is_inside(const std::filesystem::path& dir, const std::filesystem::path& path);

}  // namespace quorvel::report
