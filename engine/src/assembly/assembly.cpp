#include "assembly/assembly.hpp"

#include <algorithm>
#include <unordered_map>

#include "data/data.hpp"
#include "text.hpp"

namespace zefa::assembly {

namespace {

std::string name_base(std::string_view text) {
  std::string base;
  const std::string lowered = text::lower(text);
  for (size_t i = 0; i < lowered.size(); ++i) {
    const char c = lowered[i];
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')) base.push_back(c);
    else if (text::on_boundary(lowered, i)) base.push_back('_');
  }
  if (base.empty()) base = "prop";
  return base;
}

// The base itself when free, else the first free "base_n" from n = `from`
// on; `from` is left at the n that was found.
std::string unique_name(const std::string& base, const json::Object& props, size_t& from) {
  if (!props.contains(base) && base != "available") return base;
  for (;; ++from) {
    std::string candidate = base + "_" + std::to_string(from);
    if (!props.contains(candidate) && candidate != "available") return candidate;
  }
}

// Names for one assembly. Properties are only ever added, so every suffix
// below the one a base last needed is still taken: the search for the next
// name of that base starts there, and many rows of one name stay linear.
class Namer {
 public:
  explicit Namer(const json::Object& props) : props_(props) {}
  std::string operator()(std::string_view text) {
    std::string base = name_base(text);
    size_t& from = next_.try_emplace(base, 2).first->second;
    return unique_name(base, props_, from);
  }

 private:
  const json::Object& props_;
  std::unordered_map<std::string, size_t> next_;
};

// The definition of the plan's platform; null when the rule pack has none.
const Value* definition_of(const Value& rules, std::string_view platform) {
  return rules["entities"].find(platform);
}

Value device_property() {
  return Value(json::Object{{"type", Value("binary")}, {"role", Value("available")}});
}

// Everything one assembly gathers while it walks the plans.
struct Gathered {
  json::Object props;
  record::OrderedMap<std::string, Binding> bindings;
  json::Object groups;
  std::vector<std::string> unsupported;
  std::vector<CoverEntry> covers;
  Value kind;
  Value cls;
};

// The properties of one plan whose definition exists and is exposed.
Status<std::string> assemble_plan(const Value& device, const Plan& plan, size_t index, const Entity& entity,
                                  bool allow_hazardous, Gathered& out, Namer& namer) {
  const Value& rules = entity.rules;
  const Value& def = entity.definition;
  expr::Scope scope = entity.scope(plan, device["status"]);
  scope.push("allow_hazardous", Value(allow_hazardous));
  ZEFA_TRY(const Value hazard_value, scope.eval(entity::shared(rules, def["hazard"])));
  const bool hazard = data::truth(hazard_value);
  scope.push("hazard", Value(hazard));
  ZEFA_TRY(Value common, definition(rules["layout_common"], rules, scope));

  std::string prefix;
  std::optional<std::string> group;
  if (data::truth(entity::shared(rules, def["composite"]))) {
    const Value& named = entity::shared(rules, def["kind"]);
    const std::string kind = named.is_string() ? std::string(named.str()) : plan.platform;
    const Value& device_class = plan.identity["device_class"];
    if (out.kind.is_null()) {
      out.kind = Value(kind);
      out.cls = device_class;
    } else {
      std::string g = namer(plan.key);
      json::Object entry{{"kind", Value(kind)}};
      if (data::truth(device_class)) entry.insert_or_assign("class", device_class);
      out.groups.insert_or_assign(g, Value(std::move(entry)));
      common.obj_mut().insert_or_assign("group", Value(g));
      prefix = g + "_";
      group = std::move(g);
    }
  }
  if (entity::shared(rules, def["cover"]).is_object()) out.covers.push_back({index, prefix, group, hazard});

  const Value src(plan.depends_on.empty() ? plan.key : plan.depends_on.front());
  const json::Array& rows = entity::shared(rules, def["layout"]).arr();
  for (size_t r = 0; r < rows.size(); ++r) {
    const Value& row = entity::shared(rules, rows[r]);
    if (const Value* when = row.find("when")) {
      ZEFA_TRY(const Value shown, scope.eval(*when));
      if (!data::truth(shown)) continue;
    }
    ZEFA_TRY(const Value label, scope.eval(row["name"]));
    const std::string text = expr::text(label);
    const Value* grouped = row.find("grouped");
    const bool own = grouped && grouped->is_bool() && !grouped->as_bool();
    std::string n = namer(own ? text : prefix + text);

    ZEFA_TRY(Value d, definition(row["definition"], rules, scope));
    data::merge(d, common);
    d.obj_mut().insert_or_assign("src", src);

    bool writable = false;
    if (const Value* write = row.find("write"); write && !write->is_null()) {
      writable = true;
      if (const Value* w = row.find("writable")) {
        ZEFA_TRY(const Value said, scope.eval(*w));
        writable = data::truth(said);
      }
    }
    out.props.push_unique(Value(n), std::move(d));
    out.bindings.push_unique(std::move(n), Binding{Source{Source::Layout{index, r}}, writable, 0.0, Value()});
  }
  return ok_unit;
}

}  // namespace

Result<Assembly, std::string> assemble(const Value& device, std::span<const Plan> plans, const Value& info,
                                       bool allow_hazardous, const Value& rules) {
  Gathered g;
  Namer namer(g.props);
  for (size_t i = 0; i < plans.size(); ++i) {
    const Plan& plan = plans[i];
    const Value* def = definition_of(rules, plan.platform);
    if (!def) continue;
    const Value& expose = entity::shared(rules, (*def)["expose"]);
    if (expose.is_bool() && !expose.as_bool()) {
      g.unsupported.push_back(plan.platform + ":" + plan.key);
      continue;
    }
    const Entity entity{rules, plan.platform, *def};
    ZEFA_CHECK(assemble_plan(device, plan, i, entity, allow_hazardous, g, namer));
  }

  json::Object props;
  props.reserve(g.props.size() + 1);
  props.push_unique(Value("available"), device_property());
  for (const json::Member& m : g.props) props.push_unique(m.key, m.value);

  const Value& id = device["id"];
  json::Object identifiers{{"zefa_id", id}};
  if (const Value& product = device["product_id"]; data::truth(product))
    identifiers.insert_or_assign("zefa_product_id", product);

  json::Object d{{"il", Value(0)},
                 {"id", id},
                 {"source", Value("zefa")},
                 {"props", Value(std::move(props))},
                 {"identifiers", Value(std::move(identifiers))}};
  const auto optional = [&d](std::string_view key, const Value& v) {
    if (data::truth(v)) d.insert_or_assign(key, v);
  };
  optional("kind", g.kind);
  optional("class", g.cls);
  optional("label", device["name"]);
  optional("vendor", info["manufacturer"]);
  optional("model", info["model"]);
  if (!g.groups.empty()) d.insert_or_assign("groups", Value(std::move(g.groups)));
  return Assembly{Value(std::move(d)), std::move(g.bindings), std::move(g.unsupported), std::move(g.covers)};
}

Result<Value, std::string> definition(const Value& value, const Value& rules, expr::Scope& scope) {
  const Value& v = entity::shared(rules, value);
  json::Object out;
  for (const json::Member& m : v.obj()) {
    ZEFA_TRY(Value got, scope.eval(m.value));
    if (!got.is_null()) out.push_unique(m.key, std::move(got));
  }
  return Value(std::move(out));
}

Result<Located, std::string> layout(std::span<const Plan> plans, size_t plan, size_t row, const Value& rules) {
  if (plan >= plans.size()) return fail("binding refers to a missing plan");
  const Plan& p = plans[plan];
  const Value* def = definition_of(rules, p.platform);
  if (!def) return fail("binding refers to an unknown entity");
  const Value& rows = entity::shared(rules, (*def)["layout"]);
  return Located{&p, &entity::shared(rules, rows[row]), Entity{rules, p.platform, *def}};
}

Value il_value(Value value, const Value& definition) {
  const std::string_view type = definition["type"].str();
  if (type == "select") {
    const json::Array& options = definition["options"].arr();
    if (value.is_null()) return value;
    // A member is returned as it is: the option 1.0 stays a float, or the
    // value would no longer match the option it matched.
    if (std::ranges::find(options, value) == options.end()) return Value();
    return value;
  } else if (type == "binary" && value.is_number()) {
    const double x = value.to_f64();
    if (x == 0) return Value(false);
    if (x == 1) return Value(true);
    return Value();
  }
  // An integer is already in its normal form; going through a float would
  // round those beyond 2^53.
  if (!value.is_f64()) return value;
  return data::number(value.as_f64());
}

std::string name(std::string_view text, const json::Object& props) {
  size_t from = 2;
  return unique_name(name_base(text), props, from);
}

bool value_fits(const Value& value, const Value& definition) noexcept {
  const std::string_view type = definition["type"].str();
  if (type == "text") return value.is_string();
  if (type == "binary") return value.is_bool();
  if (type == "number") return value.is_number();
  if (type != "select") return false;
  const json::Array& options = definition["options"].arr();
  return std::ranges::find(options, value) != options.end();
}

}  // namespace zefa::assembly
