#pragma once
// A statement of one database layer (sqlite::Statement, pg::Statement) behind the report store's
// engine-neutral statement. Both layers read the same way; only this adapter knows which it holds.
#include <utility>

#include "quorvel/report/store_connection.h"

namespace quorvel::report::store {

template <class LayerStatement>
class EngineStatement final : public Statement::Engine {
 public:
  explicit EngineStatement(LayerStatement s) : s_(std::move(s)) {}
  void bind(int index, std::string_view text) override { s_.bind(index, text); }
  void bind(int index, std::int64_t value) override { s_.bind(index, value); }
  void bind(int index, double value) override { s_.bind(index, value); }
  void bind_null(int index) override { s_.bind_null(index); }
  bool step() override { return s_.step(); }
  void reset() override { s_.reset(); }
  std::int64_t changes() const override { return s_.changes(); }
  bool is_null(int column) const override { return s_.is_null(column); }
  std::string text(int column) const override { return s_.text(column); }
  std::int64_t integer(int column) const override { return s_.integer(column); }
  double real(int column) const override { return s_.real(column); }

 private:
  LayerStatement s_;
};

template <class LayerStatement>
Statement engine_statement(LayerStatement s) {
  return Statement(std::make_unique<EngineStatement<LayerStatement>>(std::move(s)));
}

}  // namespace quorvel::report::store
