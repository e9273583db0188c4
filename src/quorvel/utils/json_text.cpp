#include "quorvel/utils/json_text.h"

#include <cmath>

namespace quorvel {

namespace {

using Json = nlohmann::ordered_json;

// Writes straight into the output: one serializer for every scalar and key of the value, instead of
// a text of its own for each (a whole scan result is dumped per instrument of a screen).
class Writer {
 public:
  Writer(std::string& out, bool ascii, const std::optional<int>& indent)
      : out_(out), ascii_(ascii), indent_(indent), serializer_(nlohmann::detail::output_adapter<char>(out), ' ',
                                                                Json::error_handler_t::replace) {}

  void write(const Json& v, int depth) {
    if (v.is_object() || v.is_array()) {
      const bool obj = v.is_object();
      out_ += obj ? '{' : '[';
      if (v.empty()) {
        out_ += obj ? '}' : ']';
        return;
      }
      bool first = true;
      for (auto it = v.begin(); it != v.end(); ++it) {
        if (!first) out_ += indent_ ? "," : ", ";
        first = false;
        if (indent_) newline(depth + 1);
        if (obj) {
          key_.get_ref<std::string&>() = it.key();
          serializer_.dump(key_, false, ascii_, 0);
          out_ += ": ";
        }
        write(*it, depth + 1);
      }
      if (indent_) newline(depth);
      out_ += obj ? '}' : ']';
      return;
    }
    if (v.is_number_float() && !std::isfinite(v.get<double>())) {
      out_ += "null";
      return;
    }
    serializer_.dump(v, false, ascii_, 0);
  }

 private:
  void newline(int level) {
    out_ += '\n';
    out_.append(std::size_t(*indent_ * level), ' ');
  }

  std::string& out_;
  bool ascii_;
  const std::optional<int>& indent_;
  nlohmann::detail::serializer<Json> serializer_;
  Json key_ = std::string();
};

}  // namespace

std::string safe_json_dumps(const nlohmann::ordered_json& value, bool ensure_ascii, std::optional<int> indent) {
  std::string out;
  Writer(out, ensure_ascii, indent).write(value, 0);
  return out;
}

}  // namespace quorvel
