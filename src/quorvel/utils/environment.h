#pragma once
// Process environment and the directories everything else is found from. Each directory is resolved
// here and nowhere else:
//   project root   $QUORVEL_HOME, else the source tree of this build, else the working directory
//   data root      $TARNEL_CENTER, else the project root (the bar store and the screen ranking)
//   report dir     $REPORT_DIR, else <data root>/report
//   brief cache    $QUORVEL_SOLVARA_DIR, else <report dir>/solvaras
// Settings are trimmed of white space; "~" and "~/x" are the home directory, "~user/x" that user's
// home directory. A relative setting is taken relative to the project root, except a relative
// $QUORVEL_SOLVARA_DIR, which stays relative to the working directory.
#include <filesystem>
#include <optional>
#include <string>

namespace quorvel {

// The project root: $QUORVEL_HOME, else the source tree this build came from (when it still exists),
// else the current working directory.
std::filesystem::path get_project_root();

// Reads KEY=VALUE lines from ".env" in the project root, never from the working directory: a file
// dropped there could point a provider's base URL at another host and receive the API key.
// Variables already set in the environment are never overridden. Blank lines, "#" comments and an
// optional "export " prefix are accepted; surrounding single or double quotes are removed.
// Returns the number of variables set.
int load_quorvel_env();
// Same for one file; a missing file sets nothing.
int load_env_file(const std::filesystem::path& file);

// The variable's value when it is set and not empty.
std::optional<std::string> env_value(const char* name);

// A directory setting resolved by the rules above, relative to the project root ("" stays "").
std::filesystem::path resolve_setting_path(const std::string& text);
std::filesystem::path data_root();
std::filesystem::path report_directory();
std::filesystem::path brief_cache_directory();

}  // namespace quorvel
