// Datapoints that no exposed plan uses, offered to the rule pack's "unused"
// section.
#include <algorithm>
#include <unordered_set>

#include "assembly/entity.hpp"
#include "data/data.hpp"
#include "text.hpp"

namespace zefa::assembly::entity {

using expr::Scope;

namespace {

// An id's place in the offer order: numeric ids ("+" then digits, below
// 2^64) first by value, then the rest; ties by text.
struct IdOrder {
  bool other = true;
  uint64_t number = 0;
  std::string_view id;

  explicit IdOrder(std::string_view given) : id(given) {
    if (const std::optional<uint64_t> v = text::unsigned_decimal(id)) {
      other = false;
      number = *v;
    }
  }
  friend bool operator<(const IdOrder& a, const IdOrder& b) {
    if (a.other != b.other) return b.other;
    if (a.number != b.number) return a.number < b.number;
    return a.id < b.id;
  }
};

// The datapoint's definition: its "status_range" entry, else its "function"
// entry, else one made up from the configuration item.
Value spec_of(const Value& device, const std::string& code, const Value& config) {
  if (const Value* s = device["status_range"].find(code)) return *s;
  if (const Value* f = device["function"].find(code)) return *f;
  const Value* type = config.find("valueType");
  json::Object made;
  made.push_unique(Value("type"), type ? *type : Value("String"));
  made.push_unique(Value("values"), config["valueDesc"]);
  return Value(std::move(made));
}

bool exposed(const Plan& plan, const Value& rules) {
  const Value& expose = shared(rules, rules["entities"][plan.platform]["expose"]);
  return !(expose.is_bool() && !expose.as_bool());
}

}  // namespace

Status<> unused(const Value& device, const record::OrderedMap<std::string, adapter::DpEntry>& datapoints,
                std::vector<Plan>& plans, const Value& rules) {
  std::unordered_set<std::string> used;
  for (const Plan& plan : plans)
    if (exposed(plan, rules)) used.insert(plan.depends_on.begin(), plan.depends_on.end());

  std::vector<std::pair<IdOrder, const adapter::DpEntry*>> order;
  order.reserve(datapoints.size());
  for (const auto& [id, entry] : datapoints) order.emplace_back(IdOrder(id), &entry);
  std::ranges::sort(order, [](const auto& a, const auto& b) { return a.first < b.first; });

  const Value& section = rules["unused"];
  const std::string role(section["role"].str());
  const Value& variants = section["variants"];
  const Value& status = device["status"];

  for (const auto& [place, entry] : order) {
    const std::string& code = entry->code;
    if (!used.insert(code).second) continue;
    const Value spec = spec_of(device, code, entry->config);
    const std::optional<protocol::DpKind> kind = protocol::DpKind::parse(spec["type"].str());
    if (!kind) continue;
    Value values = data::parse(spec["values"]);
    const bool ranged = *kind == protocol::DpKind::Integer || *kind == protocol::DpKind::Enum ||
                        *kind == protocol::DpKind::Bitmap;
    if (ranged && !data::truth(values)) continue;

    Scope scope(rules["functions"]);
    scope.with("rules", rules).with("device", device).with("status", status);
    scope.push("code", Value(code));
    scope.push("kind", Value(record::name_of(*kind)));
    scope.push("rw", Value(device["function"].find(code) != nullptr));

    const Value* chosen = nullptr;
    for (const Value& variant : variants.arr()) {
      Result<Value, std::string> when = scope.eval(variant["when"]);
      if (!when.ok()) return fail(ErrorKind::Engine, std::move(when).error());
      if (data::truth(when.value())) {
        chosen = &variant;
        break;
      }
    }
    if (!chosen) continue;

    Roles offered;
    offered.push_unique(role, data::Role{code, *kind, std::move(values), spec["report_type"]});
    expr::Restore guard = open(scope, Value::object(), offered, status);
    Build build(device, std::move(offered));
    uint64_t budget = kStatements;
    ZEFA_TRY(bool stopped, expr::run(shared(rules, (*chosen)["steps"]), scope, build, budget, 0));
    if (stopped) continue;
    plans.push_back(finish(nullptr, std::string((*chosen)["platform"].str()), code, std::move(build.roles), scope));
  }
  return ok_unit;
}

}  // namespace zefa::assembly::entity
