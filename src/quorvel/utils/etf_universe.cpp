#include "quorvel/utils/etf_universe.h"

#include <filesystem>
#include <set>

#include <yaml-cpp/yaml.h>

#include "contracts/errors.h"
#include "quorvel/utils/outside_text.h"

namespace quorvel {

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw quorvel::RuntimeError("ETF 股票池文件无效: " + path + " (" + what +
                              ")；请检查 universe_path，默认文件为 data/etf/etf.yaml");
}

std::string scalar(const YAML::Node& node, const char* key) {
  const YAML::Node value = node[key];
  if (!value || !value.IsScalar()) return "";
  return value.as<std::string>();
}

// The YAML library's message quotes bytes of the file (an unknown escape character, a stray
// control), so it is filtered as outside text before it reaches a terminal or a log.
std::string yaml_error(const YAML::Exception& e) { return quorvel::outside_text(e.what()); }

// A code, name or category: shown in tables and logs, so filtered as outside text.
std::string display_text(const YAML::Node& node, const char* key) { return quorvel::outside_text(scalar(node, key)); }
std::string display_text(const YAML::Node& scalar_node) { return quorvel::outside_text(scalar_node.as<std::string>()); }

EtfUniverse universe_of(const YAML::Node& root, const std::string& path) {
  if (!root.IsMap() || !root["etfs"] || !root["etfs"].IsSequence()) fail(path, "缺少 etfs 列表");

  EtfUniverse universe;
  universe.name = display_text(root, "name");
  std::set<std::string> seen;
  for (const YAML::Node& item : root["etfs"]) {
    EtfEntry entry;
    if (item.IsScalar()) {
      entry.code = display_text(item);
    } else if (item.IsMap()) {
      entry = {display_text(item, "code"), display_text(item, "name"), display_text(item, "category")};
    }
    if (entry.code.empty()) fail(path, "etfs 中有一项没有 code");
    if (seen.insert(entry.code).second) universe.etfs.push_back(std::move(entry));
  }
  if (universe.etfs.empty()) fail(path, "etfs 列表为空");
  return universe;
}

}  // namespace

EtfUniverse load_etf_universe(const std::string& path) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) fail(path, "文件不存在");
  YAML::Node root;
  try {
    root = YAML::LoadFile(path);
  } catch (const YAML::Exception& e) {
    fail(path, "YAML 解析失败: " + yaml_error(e));
  }
  return universe_of(root, path);
}

EtfUniverse parse_etf_universe(const std::string& text, const std::string& path) {
  YAML::Node root;
  try {
    root = YAML::Load(text);
  } catch (const YAML::Exception& e) {
    fail(path, "YAML 解析失败: " + yaml_error(e));
  }
  return universe_of(root, path);
}

}  // namespace quorvel
