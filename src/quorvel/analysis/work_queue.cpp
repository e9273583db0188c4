#include "quorvel/analysis/work_queue.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <random>
#include <utility>

#include <fmt/format.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "contracts/errors.h"

namespace quorvel::batch {

namespace {

using Json = nlohmann::ordered_json;

// The statuses by the names a result carries: the same words on every host, whatever the order of
// the enum in the program that wrote it.
constexpr std::array<std::pair<Status, const char*>, 6> STATUS_NAMES{{{Status::pending, "pending"},
                                                                      {Status::running, "running"},
                                                                      {Status::analysed, "analysed"},
                                                                      {Status::stored, "stored"},
                                                                      {Status::failed, "failed"},
                                                                      {Status::interrupted, "interrupted"}}};

const char* name_of(Status status) {
  for (const auto& [s, name] : STATUS_NAMES)
    if (s == status) return name;
  return "failed";
}

Status status_named(const std::string& text) {
  for (const auto& [s, name] : STATUS_NAMES)
    if (text == name) return s;
  throw ValueError("未知的分析状态: " + text);
}

Json outcome_json(const Outcome& o) {
  return {{"code", o.code},
          {"name", o.name},
          {"market_type", o.market_type ? Json(*o.market_type) : Json(nullptr)},
          {"date", o.date},
          {"status", name_of(o.status)},
          {"verdict", o.verdict},
          {"decision", o.decision ? *o.decision : Json(nullptr)},
          {"reason", o.reason},
          {"seconds", o.seconds},
          {"requested", o.requested},
          {"sessions_behind", o.sessions_behind},
          {"review_required", o.review_required},
          {"failed_checks", o.failed_checks}};
}

Outcome outcome_of(const Json& j) {
  Outcome o;
  o.code = j.at("code").get<std::string>();
  o.name = j.value("name", "");
  if (j.contains("market_type") && j["market_type"].is_string()) o.market_type = j["market_type"].get<std::string>();
  o.date = j.value("date", "");
  o.status = status_named(j.at("status").get<std::string>());
  o.verdict = j.value("verdict", "");
  if (j.contains("decision") && j["decision"].is_object()) o.decision = j["decision"];
  o.reason = j.value("reason", "");
  o.seconds = j.value("seconds", 0.0);
  o.requested = j.value("requested", "");
  o.sessions_behind = j.value("sessions_behind", 0);
  o.review_required = j.value("review_required", false);
  if (j.contains("failed_checks")) o.failed_checks = j["failed_checks"].get<std::vector<std::string>>();
  return o;
}

Json usage_json(const agent::core::UsageTotals& u) {
  return {{"calls", u.calls},
          {"failed_calls", u.failed_calls},
          {"prompt_tokens", u.prompt_tokens},
          {"completion_tokens", u.completion_tokens},
          {"cache_hit_tokens", u.cache_hit_tokens},
          {"usage_reported", u.usage_reported},
          {"cache_reported", u.cache_reported}};
}

agent::core::UsageTotals usage_of(const Json& j) {
  agent::core::UsageTotals u;
  u.calls = j.value("calls", 0L);
  u.failed_calls = j.value("failed_calls", 0L);
  u.prompt_tokens = j.value("prompt_tokens", 0L);
  u.completion_tokens = j.value("completion_tokens", 0L);
  u.cache_hit_tokens = j.value("cache_hit_tokens", 0L);
  u.usage_reported = j.value("usage_reported", 0L);
  u.cache_reported = j.value("cache_reported", 0L);
  return u;
}

// The payload as a JSON object; a ValueError naming `what` when it is none.
Json parsed(const std::string& payload, const char* what) {
  Json j = Json::parse(payload, nullptr, false);
  if (!j.is_object()) throw ValueError(std::string("无法读取的") + what);
  return j;
}

}  // namespace

std::string results_stream(const std::string& job) { return std::string(WORK_STREAM) + ":" + job + ":results"; }

std::string work_stream(const std::string& llm_client_type) { return std::string(WORK_STREAM) + ":" + llm_client_type; }

std::string new_job_id() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%S", &utc);
  std::random_device random;
  return fmt::format("{}-{}-{:06x}", stamp, ::getpid(), random() & 0xffffffu);
}

std::string default_worker_name() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') std::snprintf(host, sizeof host, "worker");
  return fmt::format("{}:{}", host, ::getpid());
}

std::string item_id(const std::string& job, std::size_t index) { return fmt::format("{}/{}", job, index); }

std::string item_payload(const WorkItem& item) {
  return Json{{"job", item.job},   {"index", item.index}, {"code", item.code},
              {"date", item.date}, {"force", item.force}, {"llm_client_type", item.llm_client_type}}
      .dump(-1, ' ', false, Json::error_handler_t::replace);
}

WorkItem parse_item(const std::string& payload) {
  const Json j = parsed(payload, "任务条目");
  try {
    return {j.at("job").get<std::string>(),  j.at("index").get<std::size_t>(),
            j.at("code").get<std::string>(), j.at("date").get<std::string>(),
            j.value("force", false),         j.at("llm_client_type").get<std::string>()};
  } catch (const Json::exception& e) {
    throw ValueError(std::string("任务条目缺少字段或类型不符: ") + e.what());
  }
}

std::string result_payload(const ItemResult& result) {
  return Json{{"job", result.job},
              {"index", result.index},
              {"worker", result.worker},
              {"outcome", outcome_json(result.outcome)},
              {"usage", usage_json(result.usage)}}
      .dump(-1, ' ', false, Json::error_handler_t::replace);
}

ItemResult parse_result(const std::string& payload) {
  const Json j = parsed(payload, "分析结果");
  try {
    return {j.at("job").get<std::string>(), j.at("index").get<std::size_t>(), outcome_of(j.at("outcome")),
            usage_of(j.value("usage", Json::object())), j.value("worker", "")};
  } catch (const Json::exception& e) {
    throw ValueError(std::string("分析结果缺少字段或类型不符: ") + e.what());
  }
}

void add_usage(agent::core::UsageTotals& total, const agent::core::UsageTotals& more) {
  total.calls += more.calls;
  total.failed_calls += more.failed_calls;
  total.prompt_tokens += more.prompt_tokens;
  total.completion_tokens += more.completion_tokens;
  total.cache_hit_tokens += more.cache_hit_tokens;
  total.usage_reported += more.usage_reported;
  total.cache_reported += more.cache_reported;
}

}  // namespace quorvel::batch
