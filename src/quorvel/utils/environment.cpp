#include "quorvel/utils/environment.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "quorvel/utils/text.h"

namespace quorvel {

namespace {

std::string unquote(const std::string& v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

// "~" or "~name" at the start of `text` as a home directory; nothing for an unknown user or no HOME.
std::optional<std::filesystem::path> home_of(const std::string& user) {
  if (user.empty()) {
    if (const char* home = std::getenv("HOME"); home && *home) return std::filesystem::path(home);
  }
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(std::size_t(size > 0 ? size : 16384), '\0');
  passwd entry{};
  passwd* found = nullptr;
  const int rc = user.empty() ? getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found)
                              : getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found);
  if (rc != 0 || !found || !found->pw_dir || !*found->pw_dir) return std::nullopt;
  return std::filesystem::path(found->pw_dir);
}

// The setting with a leading "~" expanded; a relative path stays relative ("" stays "").
std::filesystem::path expand_home(const std::string& text) {
  if (text.empty() || text.front() != '~') return text;
  const auto slash = text.find('/');
  const std::string user = text.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
  const auto home = home_of(user);
  if (!home) return text;
  return slash == std::string::npos ? *home : *home / text.substr(slash + 1);
}

std::string setting_text(const char* name) { return trim_text(env_value(name).value_or("")); }

std::filesystem::path setting_dir(const char* name) { return resolve_setting_path(setting_text(name)); }

}  // namespace

std::filesystem::path resolve_setting_path(const std::string& text) {
  std::filesystem::path path = expand_home(text);
  if (!path.empty() && !path.is_absolute()) path = get_project_root() / path;
  return path;
}

std::filesystem::path data_root() {
  const auto dir = setting_dir("TARNEL_CENTER");
  return dir.empty() ? get_project_root() : dir;
}

std::filesystem::path report_directory() {
  const auto dir = setting_dir("REPORT_DIR");
  return dir.empty() ? data_root() / "report" : dir;
}

std::filesystem::path brief_cache_directory() {
  // The operator's own cache directory is used as given: a relative one names a folder of the
  // working directory, like any path typed on the command line.
  const auto dir = expand_home(setting_text("QUORVEL_SOLVARA_DIR"));
  return dir.empty() ? report_directory() / "solvaras" : dir;
}

std::optional<std::string> env_value(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v) return std::nullopt;
  return std::string(v);
}

std::filesystem::path get_project_root() {
  if (auto home = env_value("QUORVEL_HOME")) return std::filesystem::path(*home);
#ifdef QUORVEL_SOURCE_ROOT
  std::error_code ec;
  const std::filesystem::path source(QUORVEL_SOURCE_ROOT);
  if (std::filesystem::is_directory(source / "data", ec)) return source;
#endif
  return std::filesystem::current_path();
}

int load_env_file(const std::filesystem::path& file) {
  std::ifstream in(file);
  if (!in) return 0;
  int count = 0;
  std::string line;
  while (std::getline(in, line)) {
    line = trim_text(line);
    if (line.empty() || line.front() == '#') continue;
    if (line.rfind("export ", 0) == 0) line = trim_text(line.substr(7));
    const auto eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    const std::string key = trim_text(line.substr(0, eq));
    const std::string value = unquote(trim_text(line.substr(eq + 1)));
    if (std::getenv(key.c_str())) continue;
    if (setenv(key.c_str(), value.c_str(), 0) == 0) ++count;
  }
  return count;
}

int load_quorvel_env() { return load_env_file(get_project_root() / ".env"); }

}  // namespace quorvel
