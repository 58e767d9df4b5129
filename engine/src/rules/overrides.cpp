#include "rules/overrides.hpp"

#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <unordered_set>

#include "data/data.hpp"
#include "protocol.hpp"

namespace zefa::rules::overrides {

namespace {

using json::Member;

// Programs nest at most this many levels below the top-level program.
constexpr int kMaxProgramDepth = 63;

bool is_one_of(const Value& v, std::initializer_list<std::string_view> names) {
  if (!v.is_string()) return false;
  for (std::string_view n : names)
    if (v.str() == n) return true;
  return false;
}

bool nonempty_string(const Value* v) { return v && v->is_string() && !v->str().empty(); }

// True for an array holding strings only (the empty array included).
bool strings(const Value& v) {
  if (!v.is_array()) return false;
  for (const Value& item : v.arr())
    if (!item.is_string()) return false;
  return true;
}

// True when some string of `items` repeats an earlier one.
bool repeats(const json::Array& items) {
  std::unordered_set<std::string_view> seen;
  seen.reserve(items.size());
  for (const Value& item : items)
    if (!seen.insert(item.str()).second) return true;
  return false;
}

// The first segment of an assignment path, and whether there is one: a
// string splits at ".", anything else is read as a list of codes.
bool first_segment(const Value& path, std::string& out) {
  if (path.is_string()) {
    std::string_view s = path.str();
    out = s.substr(0, s.find('.'));
    return true;
  }
  auto segments = data::codes(path);
  if (segments.empty()) return false;
  out = std::move(segments.front());
  return true;
}

constexpr std::array<std::string_view, 11> kBlockKeys = {
    "dp", "remove", "category", "props", "device", "converters", "remap", "expose_unused", "auto", "cover", "delta"};
constexpr std::array<std::string_view, 8> kPatchKeys = {"label", "class", "category", "unit",
                                                                 "series", "rw",    "role",     "hide"};
constexpr std::array<std::string_view, 14> kNewPropertyKeys = {
    "src", "type", "label", "class", "category", "unit", "series", "rw", "role", "min", "max", "step", "options", "send"};
constexpr std::array<std::string_view, 15> kConverterPropertyKeys = {
    "type", "label", "class", "category", "unit", "series", "rw", "role",
    "min",  "max",   "step",  "options",  "requires", "group", "src"};

}  // namespace

Check unknown(const Value& value, std::initializer_list<std::string_view> allowed) {
  return unknown(value, std::span<const std::string_view>(allowed.begin(), allowed.size()));
}

Check unknown(const Value& value, std::span<const std::string_view> allowed) {
  if (value.is_null()) return ok_unit;
  if (!value.is_object()) return fail("must be object");
  for (const Member& m : value.obj()) {
    bool known = false;
    for (std::string_view a : allowed) known = known || m.name() == a;
    if (!known) return fail("unknown key " + std::string(m.name()));
  }
  return ok_unit;
}

Check validate_mapping(const Value& mapping, const Value& rules) {
  if (!mapping.is_object()) return fail("overrides must be object");
  for (const Member& m : mapping.obj()) {
    if (!m.value.is_object()) return fail(std::string(m.name()) + ": override block must be object");
    auto r = validate(m.value, rules, false);
    if (!r.ok()) return fail(std::string(m.name()) + ": " + r.error());
  }
  return ok_unit;
}

Check validate(const Value& block, const Value& rules, bool strict) {
  ZEFA_CHECK(unknown(block, kBlockKeys));

  for (std::string_view key : {"dp", "props", "remap", "converters"}) {
    const Value* v = block.find(key);
    if (v && !v->is_object()) return fail(std::string(key) + ": must be object");
  }

  if (const Value* c = block.find("category"); c && !nonempty_string(c))
    return fail("category: needs a nonempty string");

  if (const Value* device = block.find("device"); device && device->is_object()) {
    for (const Member& m : device->obj())
      if (!m.value.is_string() && !m.value.is_null())
        return fail("device." + std::string(m.name()) + ": needs a string or null");
  }

  for (const Member& m : block["dp"].obj()) {
    const Value& def = m.value;
    ZEFA_CHECK(unknown(def, {"code", "type", "values", "mode", "report_type"}));
    if (!data::truth(def["code"])) return fail("invalid dp definition");
    if (const Value* type = def.find("type")) {
      if (!protocol::DpKind::parse(type->str())) return fail("invalid dp definition");
    } else if (def.size() != 1) {
      return fail("a rename takes only a `code`");
    }
    if (const Value* mode = def.find("mode"); mode && !is_one_of(*mode, {"R", "W", "RW"})) return fail("invalid mode");
  }

  for (std::string_view key : {"auto", "expose_unused"}) {
    const Value* v = block.find(key);
    if (v && !v->is_bool()) return fail(std::string(key) + ": true or false");
  }

  if (const Value* remove = block.find("remove"); remove && !strings(*remove)) return fail("remove needs list of codes");

  ZEFA_CHECK(unknown(block["device"], {"kind", "class", "label", "vendor", "model"}));

  for (const Member& m : block["props"].obj()) {
    const Value& p = m.value;
    const bool is_new = p.find("src") != nullptr;
    ZEFA_CHECK(unknown(p, is_new ? std::span<const std::string_view>(kNewPropertyKeys)
                                  : std::span<const std::string_view>(kPatchKeys)));
    if (p.is_null()) return fail("property patch must be object");
    ZEFA_CHECK(validate_property(p, is_new, false));
    if (const Value* hide = p.find("hide"); hide && !hide->is_bool()) return fail("hide needs bool");
    if (!is_new) {
      const Value* rw = p.find("rw");
      if (rw && rw->is_bool() && rw->as_bool()) return fail("rw can only be false");
      continue;
    }
    if (!nonempty_string(p.find("src"))) return fail("src needs code");
    const Value* type = p.find("type");
    if (type && !is_one_of(*type, {"text", "binary", "number", "select", "trigger"}))
      return fail("invalid property type");
    const bool trigger = type && type->is_string() && type->str() == "trigger";
    if (trigger != (p.find("send") != nullptr)) return fail("trigger needs send");
  }

  for (const Member& m : block["remap"].obj()) {
    const Value& r = m.value;
    ZEFA_CHECK(unknown(r, {"alias", "invert"}));
    if (r.is_null()) return fail("remap needs object");
    if (const Value* invert = r.find("invert"); invert && !invert->is_bool()) return fail("invert needs bool");
    const Value* alias = r.find("alias");
    if (!alias || alias->is_null()) continue;
    if (!alias->is_object()) return fail("alias needs object");
    std::unordered_set<std::string_view> seen;
    seen.reserve(alias->size());
    for (const Member& a : alias->obj()) {
      if (!a.value.is_string()) return fail("alias values need strings");
      if (!seen.insert(a.value.str()).second) return fail("duplicate alias");
    }
  }

  if (const Value* cover = block.find("cover")) ZEFA_CHECK(validate_cover(*cover, rules, true));

  if (const Value* converters = block.find("converters")) {
    for (const Member& m : converters->obj())
      if (m.name() != "declarative") return fail("unknown converter " + std::string(m.name()));
    if (const Value* declarative = converters->find("declarative")) ZEFA_CHECK(validate_converter(*declarative, strict));
  }

  if (const Value* delta = block.find("delta")) {
    ZEFA_CHECK(unknown(*delta, {"accept_passive"}));
    if (const Value* a = delta->find("accept_passive"); a && !a->is_bool()) return fail("delta needs bool");
  }
  return ok_unit;
}

Check validate_cover(const Value& cover, const Value& rules, bool top) {
  if (!cover.is_object()) return fail("cover needs object");
  const Value& defaults = rules["cover_defaults"];
  // A settings switch hands its boolean back in the settings block, which the
  // host keeps as the device's override block: the driver must build from it.
  const Value& switches = rules["cover_switches"];
  for (const Member& m : cover.obj()) {
    const Value& v = m.value;
    if (m.name() == "settle") {
      const bool fine = v.is_u64() || (v.is_number() && v.to_f64() >= 0);
      if (!fine) return fail("invalid settle");
    } else if (m.name() == "state_source") {
      if (!is_one_of(v, {"none", "inferred", "control"})) return fail("invalid state_source");
    } else if (defaults.find(m.name()) || (v.is_bool() && switches.find(m.name()))) {
      if (!v.is_bool()) return fail("cover needs bool");
    } else if (top && v.is_object()) {
      ZEFA_CHECK(validate_cover(v, rules, false));
    } else {
      return fail("unknown cover key " + std::string(m.name()));
    }
  }
  return ok_unit;
}

Check validate_property(const Value& d, bool is_new, bool strict) {
  for (std::string_view key : {"label", "class", "category", "unit", "series", "role"}) {
    const Value* v = d.find(key);
    if (v && !v->is_null() && !v->is_string()) return fail("property " + std::string(key) + ": needs string or null");
  }
  if (const Value* c = d.find("category"); c && c->is_string() && !is_one_of(*c, {"config", "diagnostic"}))
    return fail("invalid category");
  if (const Value* s = d.find("series"); s && s->is_string() && !is_one_of(*s, {"gauge", "counter"}))
    return fail("invalid series");
  if (const Value* rw = d.find("rw"); rw && !rw->is_bool()) return fail("rw needs bool");
  if (!is_new) return ok_unit;

  const Value* type = d.find("type");
  if ((type || strict) && !is_one_of(d["type"], {"text", "event", "binary", "number", "select", "trigger"}))
    return fail("invalid property type");
  for (std::string_view key : {"min", "max", "step"}) {
    const Value* v = d.find(key);
    if (v && !v->is_number()) return fail(std::string(key) + " needs number");
  }
  const Value* step = d.find("step");
  if (step && !(data::n(*step) > 0)) return fail("step must be positive");
  const Value* min = d.find("min");
  const Value* max = d.find("max");
  if (min && max && data::n(*min) > data::n(*max)) return fail("min exceeds max");
  const Value* options = d.find("options");
  if (options) {
    if (!strings(*options)) return fail("options need array of strings");
    if (repeats(options->arr())) return fail("duplicate options");
  }
  if (strict && !options && is_one_of(d["type"], {"select", "event"})) return fail("select/event needs options");
  return ok_unit;
}

Check validate_converter(const Value& c, bool strict) {
  constexpr std::string_view kShape = "declarative converter and props must be objects";
  if (!c.is_object()) return fail(std::string(kShape));
  const Value* props = c.find("props");
  if ((props && !props->is_object()) || (strict && !props)) return fail(std::string(kShape));
  const Value* write = c.find("write");
  if (write && !write->is_object()) return fail("write must be object");

  const Value& declared = props ? *props : Value();
  for (const Member& m : declared.obj()) {
    const Value& d = m.value;
    if (m.name().empty() || m.name() == "available" || !d.is_object()) return fail("invalid converter property");
    ZEFA_CHECK(unknown(d, kConverterPropertyKeys));
    ZEFA_CHECK(validate_property(d, true, strict));
    if (strict) {
      const Value& type = d["type"];
      const bool writable = data::truth(d["rw"]) || (type.is_string() && type.str() == "trigger");
      if (writable && !(write && write->find(m.name())))
        return fail("writable declarative property needs write program");
    }
  }

  if (const Value* p = c.find("update")) ZEFA_CHECK(validate_program(*p, declared, 0, strict, true));
  if (const Value* p = c.find("timer")) ZEFA_CHECK(validate_program(*p, declared, 0, strict, true));
  if (const Value* p = c.find("reset")) ZEFA_CHECK(validate_program(*p, declared, 0, strict, false));

  if (write) {
    for (const Member& m : write->obj()) {
      if (strict && !declared.find(m.name())) return fail("write: unknown property " + std::string(m.name()));
      ZEFA_CHECK(validate_program(m.value, declared, 0, strict, true));
    }
  }
  return ok_unit;
}

Check validate_program(const Value& program, const Value& props, int depth, bool strict, bool actions) {
  if (depth > kMaxProgramDepth) return fail("rule nesting limit exceeded");
  if (!program.is_array()) return fail("rule program must be an array");
  for (const Value& s : program.arr()) {
    if (!s.is_object()) return fail("statement must be object");
    if (!actions && (s.find("emit") || s.find("timer") || s.find("send")))
      return fail("reset programs can only assign state");
    if (s.find("if")) {
      ZEFA_CHECK(unknown(s, {"if", "then", "else"}));
      for (std::string_view branch : {"then", "else"})
        if (const Value* b = s.find(branch)) ZEFA_CHECK(validate_program(*b, props, depth + 1, strict, actions));
    } else if (const Value* path = s.find("set")) {
      ZEFA_CHECK(unknown(s, {"set", "value"}));
      std::string first;
      if (!first_segment(*path, first) || first != "state") return fail("rules can assign only state slots");
    } else if (const Value* emit = s.find("emit")) {
      ZEFA_CHECK(unknown(s, {"emit", "value"}));
      if (!nonempty_string(emit) || (strict && !props.find(emit->str()))) return fail("emit: unknown property");
    } else if (const Value* timer = s.find("timer")) {
      ZEFA_CHECK(unknown(s, {"timer", "after"}));
      if (!nonempty_string(timer)) return fail("timer needs name");
      if (const Value* after = s.find("after")) {
        const bool fine = after->is_null() || after->is_object() || (after->is_number() && !(data::n(*after) < 0));
        if (!fine) return fail("invalid timer delay");
      }
    } else if (const Value* send = s.find("send")) {
      ZEFA_CHECK(unknown(s, {"send"}));
      ZEFA_CHECK(unknown(*send, {"code", "value"}));
      if (!send->is_object() || !send->find("code") || !send->find("value")) return fail("send needs code and value");
    } else if (const Value* let = s.find("let")) {
      ZEFA_CHECK(unknown(s, {"let", "value"}));
      if (!nonempty_string(let)) return fail("let needs name");
    } else {
      return fail("unknown rule statement");
    }
  }
  return ok_unit;
}

}  // namespace zefa::rules::overrides
