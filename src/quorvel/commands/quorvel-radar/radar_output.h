#pragma once
// The report of a radar scan: the three sections as tables for people, CSV or JSON for programs,
// and a closing count.
#include <map>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

namespace quorvel {

// `result` is the pool result of the radar (sections, frequency, summary, errors); "table", "csv"
// or "json". JSON adds the date.
void print_radar(std::ostream& out, const nlohmann::ordered_json& result, const std::string& format,
                 const std::string& date);

// Puts into every row of the result's sections the day its data is of ("as_of"), from `as_of`
// (code -> last bar date).
void add_as_of(nlohmann::ordered_json& result, const std::map<std::string, std::string>& as_of);

// "雷达完成 2023-02-10 (周线): 共 N 只，已评估 E，量化异动 a，潜在机会 b，风险提示 c，数据不足 d，失败 F，用时 1.23 秒"
std::string radar_summary_line(const nlohmann::ordered_json& result, const std::string& date, double seconds);

}  // namespace quorvel
