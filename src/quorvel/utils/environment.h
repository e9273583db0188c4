#pragma once
// Process environment and the project's root directory.
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

}  // namespace quorvel
