#include "api/request.hpp"

#include "api/ops.hpp"
#include "testing.hpp"

namespace zefa::api {

namespace {

using enum OpClass;

// Every operation the engine recognises; no name occurs twice.
constexpr Operation kOperations[] = {
    {"merge_rules", Plain, ops::merge_rules},
    {"install_rules", Plain, ops::install_rules},
    {"remove_rules", Plain, ops::remove_rules},
    {"carry", Plain, ops::carry},
    {"settings", Plain, ops::settings},
    {"merge", Plain, ops::merge},
    {"status_quirk", Plain, ops::status_quirk},
    {"check", Plain, ops::check},
    {"adapter_write", Plain, ops::adapter_write},
    {"strategy_write", Plain, ops::strategy_write},

    {"create", Ruled, ops::create},
    {"handle", Ruled, ops::handle},
    {"on_update", Ruled, ops::on_update},
    {"unused", Ruled, ops::unused},
    {"quirk_schema", Ruled, ops::quirk_schema},
    {"device_info", Ruled, ops::device_info},
    {"classify", Ruled, ops::classify},
    {"read", Ruled, ops::read},
    {"write", Ruled, ops::write},
    {"adapter_create", Ruled, ops::adapter_create},
    {"adapter_read", Ruled, ops::adapter_read},
    {"strategy_read", Ruled, ops::strategy_read},
    {"open", Ruled, ops::open},

    {"drive", Live, ops::drive},
    {"view", Live, ops::view},
    {"snapshot", Live, ops::snapshot},
    {"carry_handle", Live, ops::carry_handle},
    {"close", Live, ops::close},
};

}  // namespace

const Operation* find_operation(const json::Value& op) noexcept {
  std::string_view name;
  if (op.is_string()) {
    name = op.str();
  } else if (op.is_object() && op.size() == 1 && op.obj().at(0).value.is_null()) {
    name = op.obj().at(0).name();
  } else {
    return nullptr;
  }
  for (const Operation& row : kOperations)
    if (row.name == name) return &row;
  return nullptr;
}

Result<json::Value> request(const json::Value& req) {
  testing::fault_point("api::request");
  const Operation* row = find_operation(req["op"]);
  if (!row) return fail(ErrorKind::Engine, "unknown engine operation");
  if (row->cls == Ruled) {
    ZEFA_TRY(Rules rules, resolve(req));
    return row->run(Call{req, row->name, &rules});
  }
  if (row->cls == Live) {
    ZEFA_TRY(Opened found, opened(req, "handle"));
    return row->run(Call{req, row->name, nullptr, &found});
  }
  return row->run(Call{req, row->name});
}

}  // namespace zefa::api
