#include "tarnel/code_list.h"

#include <fstream>

#include <fmt/format.h>

#include "contracts/errors.h"

namespace tarnel {

std::vector<std::string> read_code_list(const std::filesystem::path& file) {
  std::ifstream in(file);
  if (!in) throw quorvel::ValueError(fmt::format("无法读取股票池文件: {}", file.string()));
  std::vector<std::string> codes;
  std::string line;
  while (std::getline(in, line)) {
    const auto start = line.find_first_not_of(" \t\r\xEF\xBB\xBF");
    if (start == std::string::npos || line[start] == '#') continue;
    const auto end = line.find_first_of(", \t\r", start);
    codes.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
  }
  return codes;
}

}  // namespace tarnel
