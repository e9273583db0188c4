#include "quorvel/report/redis_group_reader.h"

#include <algorithm>
#include <cstdlib>

#include <fmt/format.h>
#include <hiredis/hiredis.h>

#include "contracts/errors.h"

namespace quorvel::report {

namespace {

std::string text_of(const redisReply* r) {
  return r && (r->type == REDIS_REPLY_STRING || r->type == REDIS_REPLY_STATUS) ? std::string(r->str, r->len)
                                                                               : std::string();
}

// One entry of an XREADGROUP reply: [entry id, [field, value, ...] or nil].
StreamEntry entry_of(const std::string& stream, const redisReply& e) {
  StreamEntry out;
  out.stream = stream;
  if (e.type != REDIS_REPLY_ARRAY || e.elements != 2) throw RuntimeError("Redis 返回了无法识别的流条目");
  out.entry_id = text_of(e.element[0]);
  const redisReply* fields = e.element[1];
  if (!fields || fields->type != REDIS_REPLY_ARRAY) {
    out.trimmed = true;
    return out;
  }
  for (std::size_t i = 0; i + 1 < fields->elements; i += 2) {
    const std::string name = text_of(fields->element[i]);
    std::string value = text_of(fields->element[i + 1]);
    if (name == "id")
      out.id = std::move(value);
    else if (name == "type")
      out.type = std::move(value);
    else if (name == "payload")
      out.payload = std::move(value);
  }
  return out;
}

// An entry id "ms-seq" as its two numbers, which order it in the stream.
std::pair<unsigned long long, unsigned long long> id_numbers(const std::string& id) {
  const auto dash = id.find('-');
  return {std::strtoull(id.c_str(), nullptr, 10),
          dash == std::string::npos ? 0ull : std::strtoull(id.c_str() + dash + 1, nullptr, 10)};
}

bool earlier(const std::string& a, const std::string& b) { return id_numbers(a) < id_numbers(b); }

// The id just before `id`, so that a group made at it hands `id` out again.
std::string before(const std::string& id) {
  const auto [ms, seq] = id_numbers(id);
  if (seq > 0) return std::to_string(ms) + "-" + std::to_string(seq - 1);
  if (ms > 0) return std::to_string(ms - 1) + "-18446744073709551615";
  return "0";
}

}  // namespace

RedisGroupReader::RedisGroupReader(RedisEndpoint endpoint, std::string group, std::string consumer,
                                   std::vector<std::string> streams, RedisTimeouts timeouts)
    : client_(std::move(endpoint), timeouts),
      group_(std::move(group)),
      consumer_(std::move(consumer)),
      streams_(std::move(streams)) {}

RedisGroupReader::~RedisGroupReader() = default;

RedisReply RedisGroupReader::run(const std::vector<std::string_view>& args, std::chrono::milliseconds wait) {
  return client_.run(args, wait);
}

std::string RedisGroupReader::last_delivered(const std::string& stream) {
  const RedisReply r = run({"XINFO", "GROUPS", stream});
  if (r->type != REDIS_REPLY_ARRAY) return {};
  for (std::size_t g = 0; g < r->elements; ++g) {
    const redisReply* fields = r->element[g];
    if (fields->type != REDIS_REPLY_ARRAY) continue;
    std::string name, last;
    for (std::size_t i = 0; i + 1 < fields->elements; i += 2) {
      const std::string key = text_of(fields->element[i]);
      if (key == "name") name = text_of(fields->element[i + 1]);
      if (key == "last-delivered-id") last = text_of(fields->element[i + 1]);
    }
    if (name == group_) return last;
  }
  return {};
}

void RedisGroupReader::ensure_group(const std::string& start) {
  for (const std::string& stream : streams_) {
    const auto known = resume_.find(stream);
    std::string from = known != resume_.end() && !known->second.empty() ? known->second : start;
    if (const auto& open = unacked_[stream]; !open.empty())
      from = before(*std::min_element(open.begin(), open.end(), earlier));
    const RedisReply r = client_.command({"XGROUP", "CREATE", stream, group_, from, "MKSTREAM"});
    const std::string error = r->type == REDIS_REPLY_ERROR ? std::string(r->str, r->len) : std::string();
    if (!error.empty() && !error.starts_with("BUSYGROUP"))
      throw RuntimeError(fmt::format("无法在 {} 的 {} 上建立消费组 {}: {}", describe(), stream, group_, error));
    resume_[stream] = last_delivered(stream);
  }
}

std::size_t RedisGroupReader::claim_idle(std::chrono::milliseconds min_idle, std::size_t at_most) {
  const std::string idle = std::to_string(min_idle.count());
  std::size_t claimed = 0;
  for (const std::string& stream : streams_) {
    std::string cursor = "0-0";
    // A bounded sweep per call: what is left is taken by the next one.
    for (int round = 0; round < 10 && claimed < at_most; ++round) {
      const std::string count = std::to_string(std::min<std::size_t>(100, at_most - claimed));
      const RedisReply r = run({"XAUTOCLAIM", stream, group_, consumer_, idle, cursor, "COUNT", count, "JUSTID"});
      if (r->type != REDIS_REPLY_ARRAY || r->elements < 2) throw RuntimeError("Redis 对 XAUTOCLAIM 返回了意外的应答");
      cursor = text_of(r->element[0]);
      if (r->element[1]->type == REDIS_REPLY_ARRAY) claimed += r->element[1]->elements;
      if (cursor == "0-0" || cursor.empty()) break;
    }
  }
  return claimed;
}

std::vector<StreamEntry> RedisGroupReader::read(const std::string& from, std::size_t count,
                                                std::chrono::milliseconds block) {
  const std::string n = std::to_string(count), ms = std::to_string(block.count());
  std::vector<std::string_view> args{"XREADGROUP", "GROUP", group_, consumer_, "COUNT", n};
  if (block.count() > 0) {
    args.push_back("BLOCK");
    args.push_back(ms);
  }
  args.push_back("STREAMS");
  for (const std::string& s : streams_) args.push_back(s);
  for (std::size_t i = 0; i < streams_.size(); ++i) args.push_back(from);
  const RedisReply r = run(args, block);
  std::vector<StreamEntry> out;
  if (r->type == REDIS_REPLY_NIL) return out;  // nothing arrived within `block`
  if (r->type != REDIS_REPLY_ARRAY) throw RuntimeError("Redis 对 XREADGROUP 返回了意外的应答类型");
  for (std::size_t i = 0; i < r->elements; ++i) {
    const redisReply* s = r->element[i];
    if (s->type != REDIS_REPLY_ARRAY || s->elements != 2 || s->element[1]->type != REDIS_REPLY_ARRAY)
      throw RuntimeError("Redis 对 XREADGROUP 返回了无法识别的流");
    const std::string stream = text_of(s->element[0]);
    for (std::size_t k = 0; k < s->element[1]->elements; ++k) {
      out.push_back(entry_of(stream, *s->element[1]->element[k]));
      unacked_[stream].insert(out.back().entry_id);
    }
    if (from == ">" && !out.empty() && out.back().stream == stream) resume_[stream] = out.back().entry_id;
  }
  return out;
}

std::vector<StreamEntry> RedisGroupReader::pending(std::size_t count) { return read("0", count, {}); }

std::vector<StreamEntry> RedisGroupReader::next(std::size_t count, std::chrono::milliseconds block) {
  return read(">", count, block);
}

void RedisGroupReader::ack(const StreamEntry& entry) {
  run({"XACK", entry.stream, group_, entry.entry_id});
  unacked_[entry.stream].erase(entry.entry_id);
}

void RedisGroupReader::renew(const std::vector<StreamEntry>& entries) {
  std::map<std::string, std::vector<std::string_view>> by_stream;
  for (const StreamEntry& e : entries) by_stream[e.stream].push_back(e.entry_id);
  for (const auto& [stream, ids] : by_stream) {
    std::vector<std::string_view> args{"XCLAIM", stream, group_, consumer_, "0"};
    args.insert(args.end(), ids.begin(), ids.end());
    args.push_back("JUSTID");
    run(args);
  }
}

void RedisGroupReader::ack_and_delete(const StreamEntry& entry) {
  ack(entry);
  run({"XDEL", entry.stream, entry.entry_id});
}

std::string add_stream_entry(RedisClient& client, const std::string& stream, std::string_view id, std::string_view type,
                             std::string_view payload) {
  const RedisReply r = client.run({"XADD", stream, "*", "id", id, "type", type, "payload", payload});
  const std::string entry = text_of(r.get());
  if (entry.empty()) throw RuntimeError("Redis 对 XADD 返回了意外的应答");
  return entry;
}

std::vector<StreamEntry> read_stream(RedisClient& client, const std::string& stream, const std::string& after,
                                     std::size_t count, std::chrono::milliseconds block) {
  const std::string n = std::to_string(count), ms = std::to_string(block.count());
  std::vector<std::string_view> args{"XREAD", "COUNT", n};
  if (block.count() > 0) {
    args.push_back("BLOCK");
    args.push_back(ms);
  }
  args.insert(args.end(), {"STREAMS", stream, after});
  const RedisReply r = client.run(args, block);
  std::vector<StreamEntry> out;
  if (r->type == REDIS_REPLY_NIL) return out;
  if (r->type != REDIS_REPLY_ARRAY) throw RuntimeError("Redis 对 XREAD 返回了意外的应答类型");
  for (std::size_t i = 0; i < r->elements; ++i) {
    const redisReply* s = r->element[i];
    if (s->type != REDIS_REPLY_ARRAY || s->elements != 2 || s->element[1]->type != REDIS_REPLY_ARRAY)
      throw RuntimeError("Redis 对 XREAD 返回了无法识别的流");
    for (std::size_t k = 0; k < s->element[1]->elements; ++k)
      out.push_back(entry_of(text_of(s->element[0]), *s->element[1]->element[k]));
  }
  return out;
}

}  // namespace quorvel::report
