#include "rules/rules.hpp"

#include <charconv>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

#include "data/value_index.hpp"
#include "rules/cover_settings.hpp"
#include "rules/overrides.hpp"
#include "rules/schema.hpp"

namespace zefa::rules {

namespace schema {

const Value& SCHEMA() {
  // A function-local static: initialised exactly once even when several
  // threads arrive together, then only read. The text is the library's own
  // and a test parses it, so a failure here is an internal fault.
  static const Value parsed = [] {
    auto v = json::parse(kText);
    if (!v) throw std::logic_error("embedded rule-pack schema: " + v.error().to_string());
    return std::move(v).value();
  }();
  return parsed;
}

}  // namespace schema

namespace {

using json::Member;
using json::Object;

// A "$ref" chain longer than this cannot come from a sound schema; treating
// it as unresolvable keeps a self-referring schema from looping.
constexpr int kMaxRefHops = 32;

size_t utf8_length(std::string_view s) noexcept {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

// The keywords of one schema node, found in a single scan of its members
// rather than a lookup per keyword: nodes are visited once per instance value.
struct Keywords {
  const Value* ref = nullptr;  // only a string "$ref" counts
  const Value* type = nullptr;
  const Value* constant = nullptr;
  const Value* options = nullptr;  // "enum"
  const Value* min_length = nullptr;
  const Value* required = nullptr;
  const Value* properties = nullptr;
  const Value* additional = nullptr;
  const Value* items = nullptr;
  const Value* unique = nullptr;

  explicit Keywords(const Value& node) {
    for (const Member& m : node.obj()) {
      std::string_view name = m.name();
      const Value* v = &m.value;
      if (name == "type") type = v;
      else if (name == "properties") properties = v;
      else if (name == "additionalProperties") additional = v;
      else if (name == "required") required = v;
      else if (name == "items") items = v;
      else if (name == "$ref") ref = v->is_string() ? v : nullptr;
      else if (name == "const") constant = v;
      else if (name == "enum") options = v;
      else if (name == "minLength") min_length = v;
      else if (name == "uniqueItems") unique = v;
    }
  }
};

// One walk over an instance. The path grows and shrinks in place as the walk
// descends, so a member costs no allocation of its own.
class Checker {
 public:
  Checker(const Value& root, std::string_view path) : root_(root), path_(path) {}

  bool run(const Value& inst, const Value* node, int depth) {
    // Values nest at most kMaxDepth deep; this guard only makes that bound
    // explicit for instances built by hand.
    if (depth > json::kMaxDepth) return fail_with("recursion limit exceeded");
    Keywords k(*node);
    for (int hops = 0; k.ref; ++hops) {
      std::string_view target = k.ref->str();
      while (!target.empty() && target.front() == '#') target.remove_prefix(1);
      node = hops < kMaxRefHops ? root_.pointer(target) : nullptr;
      if (!node) return fail_with("invalid schema reference");
      k = Keywords(*node);
    }

    if (k.type && k.type->is_string() && !type_matches(inst, k.type->str())) return fail_at("expected ", k.type->dump());
    if (k.constant && !(inst == *k.constant)) return fail_at("expected ", k.constant->dump());
    if (k.options && k.options->is_array() && !among(inst, k.options->arr()))
      return fail_at("unsupported value ", inst.dump());

    switch (inst.type()) {
      case json::Type::String:
        if (k.min_length && k.min_length->is_u64() && utf8_length(inst.str()) < k.min_length->as_u64())
          return fail_at("string too short", "");
        return true;
      case json::Type::Object: return run_object(inst.obj(), k, depth);
      case json::Type::Array: return run_array(inst.arr(), k, depth);
      default: return true;
    }
  }

  std::string take_error() { return std::move(error_); }

 private:
  bool run_object(const Object& inst, const Keywords& k, int depth) {
    if (k.required && k.required->is_array()) {
      for (const Value& name : k.required->arr()) {
        if (!name.is_string()) return fail_with("invalid schema required field");
        if (!inst.contains(name.str())) return fail_at("missing ", name.dump());
      }
    }
    const Value* props = k.properties && k.properties->is_object() ? k.properties : nullptr;
    const Value* extra = k.additional;
    for (const Member& m : inst) {
      const Value* sub = props ? props->find(m.name()) : nullptr;
      if (!sub && extra && extra->is_object()) sub = extra;
      if (!sub) {
        if (extra && extra->is_bool() && !extra->as_bool()) return fail_at("unknown field ", m.name());
        continue;
      }
      const size_t mark = path_.size();
      path_ += '/';
      path_ += m.name();
      if (!run(m.value, sub, depth + 1)) return false;
      path_.resize(mark);
    }
    return true;
  }

  bool run_array(const json::Array& inst, const Keywords& k, int depth) {
    const Value* items = k.items;
    const bool check_unique = k.unique && k.unique->is_bool() && k.unique->as_bool();
    if (!items && !check_unique) return true;
    std::optional<data::ValueIndex> seen;
    if (check_unique) seen.emplace(inst);
    char digits[24];
    for (size_t i = 0; i < inst.size(); ++i) {
      if (items) {
        const size_t mark = path_.size();
        auto end = std::to_chars(digits, digits + sizeof digits, i).ptr;
        path_ += '/';
        path_.append(digits, end);
        if (!run(inst[i], items, depth + 1)) return false;
        path_.resize(mark);
      }
      if (seen && seen->first(inst[i]) < i) return fail_at("duplicate item", "");
    }
    return true;
  }

  static bool type_matches(const Value& v, std::string_view type) noexcept {
    if (type == "object") return v.is_object();
    if (type == "array") return v.is_array();
    if (type == "string") return v.is_string();
    if (type == "number") return v.is_number();
    if (type == "boolean") return v.is_bool();
    return false;
  }

  static bool among(const Value& v, const json::Array& options) noexcept {
    for (const Value& o : options)
      if (v == o) return true;
    return false;
  }

  // "rules {path}: {what}{detail}"
  bool fail_at(std::string_view what, std::string_view detail) {
    error_ = "rules ";
    error_ += path_;
    error_ += ": ";
    error_ += what;
    error_ += detail;
    return false;
  }
  bool fail_with(std::string_view message) {
    error_ = message;
    return false;
  }

  const Value& root_;
  std::string path_;
  std::string error_;
};

// A failed override mapping inside a pack, shown as its own kind shows it.
std::string override_failure(std::string message) {
  return EngineError{ErrorKind::Override, std::move(message)}.to_string();
}

}  // namespace

Status<std::string> check(const Value& instance, const Value& node, const Value& root, std::string_view path) {
  Checker c(root, path);
  if (!c.run(instance, &node, 0)) return fail(c.take_error());
  return ok_unit;
}

Status<std::string> validate(const Value& pack) {
  const Value& schema = schema::SCHEMA();
  ZEFA_CHECK(check(pack, schema, schema, ""));

  const Value* defaults = pack.find("cover_defaults");
  ZEFA_CHECK(rules::CoverSettings::from_rules(defaults ? *defaults : Value()));

  if (const Value* switches = pack.find("cover_switches"); switches && switches->is_object()) {
    for (const Member& m : switches->obj())
      if (!rules::CoverSettings::known(m.name()))
        return fail("cover_switches: unknown cover setting " + std::string(m.name()));
  }

  if (const Value* mapping = pack.find("overrides")) {
    auto r = rules::overrides::validate_mapping(*mapping, pack);
    if (!r.ok()) return fail(override_failure(std::move(r).error()));
  }
  return ok_unit;
}

void patch(Value& target, const Value& patch_in) {
  // Holding a reference of our own keeps the patch intact even if the
  // target shares (or is) its nodes: writes to the target then copy first.
  const Value p = patch_in;
  if (!p.is_object()) {
    target = p;
    return;
  }
  if (!target.is_object()) target = Value::object();
  if (p.obj().empty()) return;
  Object& t = target.obj_mut();
  for (const Member& m : p.obj()) {
    const Value& v = m.value;
    if (v.is_object() && v.size() == 1) {
      const Member& only = v.obj().at(0);
      if (only.name() == "$delete" && only.value.is_bool() && only.value.as_bool()) {
        t.erase(m.name());
        continue;
      }
      if (only.name() == "$append" && only.value.is_array()) {
        Value* cur = t.find(m.name());
        if (cur && cur->is_array()) {
          json::Array& dst = cur->arr_mut();
          const json::Array& src = only.value.arr();
          dst.insert(dst.end(), src.begin(), src.end());
        } else {
          t.insert_or_assign(m.name(), only.value);
        }
        continue;
      }
    }
    Value* slot = t.find(m.name());
    if (!slot) slot = &t.push_unique(m.key, Value());
    patch(*slot, v);
  }
}

namespace {

// True when `pack` has a member for every name in the node's "required".
bool complete(const Value& pack, const Value& top) {
  for (const Value& name : top["required"].arr())
    if (!name.is_string() || !pack.find(name.str())) return false;
  return true;
}

}  // namespace

Result<Value, std::string> compose(const Value& request) {
  Value acc = Value::object();
  if (const Value* base = request.find("base")) {
    if (!base->is_object()) return fail("rule base must be a JSON object");
    acc = *base;
  }
  const Value& tolerant_v = request["tolerant"];
  const bool tolerant = tolerant_v.is_bool() && tolerant_v.as_bool();

  const Value& top = schema::SCHEMA();
  Value relaxed = top;
  relaxed.obj_mut().erase_ordered("required");

  json::Array sources;
  json::Array warnings;
  const json::Array& layers = request["layers"].arr();
  for (size_t i = 0; i < layers.size(); ++i) {
    const Value& layer = layers[i];
    std::string label;
    const Value* body = &layer;
    const Value* source = layer.find("source");
    const Value* rules = layer.find("rules");
    if (layer.size() == 2 && source && rules && source->is_string()) {
      label = source->str();
      body = rules;
    } else {
      label = "layer " + std::to_string(i);
    }

    std::optional<std::string> problem;
    Value candidate;
    if (!body->is_object()) {
      problem = "rule layer must be a JSON object";
    } else if (!tolerant) {
      // Nothing can reject the layer now, so it goes straight into the pack
      // built so far: no copy per layer, and a node copied from the base
      // once stays the pack's own.
      patch(acc, *body);
      sources.emplace_back(label);
      continue;
    } else {
      // A rejected layer must leave no trace, and each candidate is checked
      // whole: the one cost per layer that grows with the pack.
      candidate = acc;
      patch(candidate, *body);
      const Value& node = complete(acc, top) ? top : relaxed;
      auto r = check(candidate, node, top, "");
      if (!r.ok()) {
        problem = std::move(r).error();
      } else if (const Value* mapping = candidate.find("overrides")) {
        auto o = rules::overrides::validate_mapping(*mapping, candidate);
        if (!o.ok()) problem = override_failure(std::move(o).error());
      }
    }

    if (problem) {
      std::string message = label + ": " + *problem;
      if (!tolerant) return fail(std::move(message));
      warnings.emplace_back(message);
      continue;
    }
    acc = std::move(candidate);
    sources.emplace_back(label);
  }

  ZEFA_CHECK(validate(acc));
  return Value(Object{{"rules", std::move(acc)}, {"sources", Value(std::move(sources))}, {"warnings", Value(std::move(warnings))}});
}

}  // namespace zefa::rules
