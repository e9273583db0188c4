#include "quorvel/agent/schemas/json_reader.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "quorvel/agent/schemas/decimal.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel::agent::schemas {

namespace {

using Json = nlohmann::ordered_json;
using ObjectVector = Json::object_t::Container;

// Builds an ordered_json tree from reader events with an explicit stack.
class TreeBuilder {
 public:
  bool Null() { return put(Json(nullptr)); }
  bool Bool(bool b) { return put(Json(b)); }
  bool Int(int i) { return put(Json(static_cast<std::int64_t>(i))); }
  bool Uint(unsigned u) { return put(Json(static_cast<std::int64_t>(u))); }
  bool Int64(std::int64_t i) { return put(Json(i)); }
  bool Uint64(std::uint64_t u) { return put(Json(u)); }
  bool Double(double d) { return put(Json(d)); }
  bool RawNumber(const char* str, rapidjson::SizeType length, bool) { return number(std::string_view(str, length)); }
  bool String(const char* str, rapidjson::SizeType length, bool) {
    const std::string_view s(str, length);
    if (!is_valid_utf8(s)) return fail("字符串中的 \\u 转义含有未配对的代理项");
    return put(Json(std::string(s)));
  }
  bool Key(const char* str, rapidjson::SizeType length, bool) {
    const std::string_view s(str, length);
    if (!is_valid_utf8(s)) return fail("键中的 \\u 转义含有未配对的代理项");
    stack_.back().key.assign(s);
    return true;
  }
  bool StartObject() { return open(Json::object()); }
  bool EndObject(rapidjson::SizeType) { return close(); }
  bool StartArray() { return open(Json::array()); }
  bool EndArray(rapidjson::SizeType) { return close(); }

  Json take_root() { return std::move(root_); }
  const std::string& failure() const { return failure_; }

 private:
  struct Frame {
    Json value;
    std::string key;                                    // pending key of an object
    std::unordered_map<std::string, std::size_t> index;  // key -> member position
  };

  bool fail(std::string why) {
    failure_ = std::move(why);
    return false;
  }

  bool number(std::string_view literal) {
    if (literal == "NaN" || literal == "Infinity" || literal == "-Infinity") {
      return put(Json(*parse_decimal(literal)));
    }
    if (literal.find_first_of("NI") != std::string_view::npos) {
      return fail(fmt::format("非法数值 {}（只接受 NaN、Infinity、-Infinity）", literal));
    }
    if (literal.find_first_of(".eE") == std::string_view::npos) {
      const char* end = literal.data() + literal.size();
      std::int64_t i = 0;
      if (auto r = std::from_chars(literal.data(), end, i); r.ec == std::errc() && r.ptr == end) return put(Json(i));
      std::uint64_t u = 0;
      if (auto r = std::from_chars(literal.data(), end, u); r.ec == std::errc() && r.ptr == end) return put(Json(u));
    }
    const bool negative = !literal.empty() && literal.front() == '-';
    const double magnitude = decimal_literal_to_double(negative ? literal.substr(1) : literal);
    return put(Json(negative ? -magnitude : magnitude));
  }

  bool open(Json container) {
    if (stack_.size() >= MAX_JSON_DEPTH) return fail(fmt::format("嵌套超过 {} 层", MAX_JSON_DEPTH));
    stack_.push_back(Frame{std::move(container), {}, {}});
    return true;
  }

  bool close() {
    Json done = std::move(stack_.back().value);
    stack_.pop_back();
    return put(std::move(done));
  }

  bool put(Json v) {
    if (stack_.empty()) {
      root_ = std::move(v);
      return true;
    }
    Frame& top = stack_.back();
    if (top.value.is_array()) {
      top.value.get_ref<Json::array_t&>().push_back(std::move(v));
      return true;
    }
    // Direct access to the member vector keeps duplicate handling linear: the ordered map's own
    // insertion searches its members one by one.
    auto& members = static_cast<ObjectVector&>(top.value.get_ref<Json::object_t&>());
    const auto [it, inserted] = top.index.try_emplace(top.key, members.size());
    if (inserted) {
      members.emplace_back(std::move(top.key), std::move(v));
    } else {
      members[it->second].second = std::move(v);
    }
    return true;
  }

  std::vector<Frame> stack_;
  Json root_;
  std::string failure_;
};

std::string describe(const rapidjson::ParseResult& r, const TreeBuilder& builder, std::string_view text) {
  const std::size_t at = std::min(r.Offset(), text.size());
  std::string_view what = rapidjson::GetParseError_En(r.Code());
  if (r.Code() == rapidjson::kParseErrorTermination && !builder.failure().empty()) {
    what = builder.failure();
  } else if (r.Code() == rapidjson::kParseErrorStringEscapeInvalid && at < text.size() &&
             static_cast<unsigned char>(text[at]) < 0x20) {
    what = "Invalid control character in string.";  // a raw line break or tab inside a string
  }
  const std::size_t offset = count_code_points(text.substr(0, at));
  return fmt::format("{} (char {})", what, offset);
}

}  // namespace

JsonReadResult read_decision_json(std::string_view text) {
  JsonReadResult result;
  // The reader sees a NUL byte as the end of input; report it instead of ignoring what follows.
  if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
    result.error = fmt::format("文本含有 NUL 字符 (char {})", count_code_points(text.substr(0, nul)));
    return result;
  }
  if (text.size() > std::numeric_limits<rapidjson::SizeType>::max()) {
    result.error = "文本过长";
    return result;
  }
  constexpr unsigned kFlags =
      rapidjson::kParseIterativeFlag | rapidjson::kParseNanAndInfFlag | rapidjson::kParseNumbersAsStringsFlag;
  rapidjson::MemoryStream stream(text.data(), text.size());
  rapidjson::Reader reader;
  TreeBuilder builder;
  const rapidjson::ParseResult r = reader.Parse<kFlags>(stream, builder);
  if (r.IsError()) {
    result.error = describe(r, builder, text);
    return result;
  }
  result.value = builder.take_root();
  return result;
}

}  // namespace quorvel::agent::schemas
