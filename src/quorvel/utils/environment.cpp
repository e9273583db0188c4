#include "quorvel/utils/environment.h"

#include <cstdlib>
#include <fstream>

namespace quorvel {

namespace {

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::string unquote(const std::string& v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

}  // namespace

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
    line = trim(line);
    if (line.empty() || line.front() == '#') continue;
    if (line.rfind("export ", 0) == 0) line = trim(line.substr(7));
    const auto eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    const std::string key = trim(line.substr(0, eq));
    const std::string value = unquote(trim(line.substr(eq + 1)));
    if (std::getenv(key.c_str())) continue;
    if (setenv(key.c_str(), value.c_str(), 0) == 0) ++count;
  }
  return count;
}

int load_quorvel_env() { return load_env_file(get_project_root() / ".env"); }

}  // namespace quorvel
