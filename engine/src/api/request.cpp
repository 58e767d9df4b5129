#include "api/request.hpp"

#include "api/ops.hpp"
#include "testing.hpp"

namespace zefa::api {

namespace {

using enum OpClass;

// Every operation the engine recognises; no name occurs twice. A row's
// carried members are those its reply can hold deeper than the request did:
// state documents, a slot and its timestamp, the base pack, datapoint specs
// and identity defaults that plans copy, and a pack installed for later
// requests to classify with. A description built into a driver and a report
// a driver keeps are bounded where they are kept.
constexpr Operation kOperations[] = {
    {"merge_rules", Plain, ops::merge_rules, {{{"base", 2}}}},
    {"install_rules", Plain, ops::install_rules, {{{"rules", 2}}}},
    {"remove_rules", Plain, ops::remove_rules},
    {"carry", Plain, ops::carry, {{{"driver", 2}, {"old", 2}}}},
    {"settings", Plain, ops::settings},
    {"merge", Plain, ops::merge},
    {"status_quirk", Plain, ops::status_quirk},
    {"check", Plain, ops::check},
    {"adapter_write", Plain, ops::adapter_write},
    {"strategy_write", Plain, ops::strategy_write},

    {"create", Ruled, ops::create},
    {"handle", Ruled, ops::handle, {{{"driver", 2}}}},
    {"on_update", Ruled, ops::on_update, {{{"slot", 2}, {"timestamps", 2}}}},
    {"unused", Ruled, ops::unused, {{{"device", 2}, {"entries", 2}}}},
    {"quirk_schema", Ruled, ops::quirk_schema},
    {"device_info", Ruled, ops::device_info},
    {"classify", Ruled, ops::classify, {{{"device", 2}, {"rules", 2}}}},
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

// A member nesting so deep that the reply carrying it could not be read
// back is refused before the operation starts.
Status<> within_reply(const json::Value& req, int depth, const Operation& row) {
  for (const Carried& c : row.carried) {
    if (c.member.empty()) break;
    if (depth - 1 + c.levels <= json::kMaxDepth) continue;  // a member nests below the request
    if (req[c.member].depth() + c.levels > json::kMaxDepth)
      return fail(ErrorKind::Request, std::string(c.member) + ": nests too deeply");
  }
  return ok_unit;
}

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

Result<json::Value> request(const json::Value& req, int depth) {
  testing::fault_point("api::request");
  const Operation* row = find_operation(req["op"]);
  if (!row) return fail(ErrorKind::Engine, "unknown engine operation");
  ZEFA_CHECK(within_reply(req, depth, *row));
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
