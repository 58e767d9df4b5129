#include "data/prepare.hpp"

#include <string>
#include <string_view>

#include "data/data.hpp"

namespace zefa::data {

namespace {

const Value kNull;

// The object held by `v` for writing: null becomes an empty object, any other
// non-object refuses the write (descriptions are untrusted).
json::Object* writable(Value& v) {
  if (v.is_null()) v = Value::object();
  return v.is_object() ? &v.obj_mut() : nullptr;
}

// The table `v`[name] for writing, created when missing or null.
json::Object* table(Value& v, std::string_view name) {
  json::Object* o = writable(v);
  if (!o) return nullptr;
  Value* t = o->find(name);
  if (!t) t = &o->insert_or_assign(name, Value::object());
  return writable(*t);
}

// Removes `key` from the table `v`[name]; the table's last member takes its
// place. Nothing is copied when there is nothing to remove.
void remove_from(Value& v, std::string_view name, std::string_view key) {
  const Value* t = v.find(name);
  if (!t || !t->find(key)) return;
  v.obj_mut().find(name)->obj_mut().erase(key);
}

const Value& member(const Value& v, std::string_view key) {
  const Value* m = v.find(key);
  return m ? *m : kNull;
}

void define_dp(Value& device, Value& dpmap, const Value& op, const std::string& code) {
  std::string_view mode = op["mode"].str();
  struct Part {
    std::string_view section;
    char letter;
  };
  for (const Part& p : {Part{"function", 'W'}, Part{"status_range", 'R'}}) {
    if (mode.find(p.letter) == std::string_view::npos) {
      remove_from(device, p.section, code);
      continue;
    }
    json::Object entry{{"type", op["type"]}, {"values", op["values"]}};
    if (p.letter == 'R') entry.push_unique(Value("report_type"), op["report_type"]);
    if (json::Object* t = table(device, p.section)) t->insert_or_assign(code, Value(std::move(entry)));
  }
  const Value& dpid = op["dpid"];
  std::string key = dpid.is_string() ? std::string(dpid.str()) : dpid.dump();
  if (json::Object* m = writable(dpmap)) m->insert_or_assign(key, Value(code));
}

void remove_dp(Value& device, Value& dpmap, const Value& op, const std::string& code) {
  for (std::string_view section : {"function", "status_range", "status"}) remove_from(device, section, code);
  // Numeric and textual ids name the same key: 12 and "12" both give 12.
  std::string key = op["dpid"].dump();
  size_t b = key.find_first_not_of('"');
  size_t e = key.find_last_not_of('"');
  key = b == std::string::npos ? std::string() : key.substr(b, e - b + 1);
  if (dpmap.is_object() && dpmap.find(key)) dpmap.obj_mut().erase(key);
}

Value cond_at(const Value& c, const Value& status, int depth) {
  if (!c.is_object()) return c;
  if (c.size() == 0 || depth >= json::kMaxDepth) return Value();
  const json::Member& m = c.obj().at(0);
  std::string_view op = m.name();
  const Value& arg = m.value;
  if (op == "and") {
    for (const Value& e : arg.arr())
      if (!truth(cond_at(e, status, depth + 1))) return Value(false);
    return Value(true);
  }
  if (op == "or") {
    for (const Value& e : arg.arr())
      if (truth(cond_at(e, status, depth + 1))) return Value(true);
    return Value(false);
  }
  if (op == "not") return Value(!truth(cond_at(arg, status, depth + 1)));
  if (op == "ge") {
    Value a = cond_at(arg[0], status, depth + 1);
    Value b = cond_at(arg[1], status, depth + 1);
    bool numeric = (a.is_number() || a.is_bool()) && (b.is_number() || b.is_bool());
    return Value(numeric && n(a) >= n(b));
  }
  if (op == "status") return member(status, arg.str());
  if (op == "is_int") {
    Value r = cond_at(arg, status, depth + 1);
    return Value(r.is_integer() || r.is_bool());
  }
  return Value();
}

}  // namespace

void ensure_tables(Value& device) {
  if (device.is_null()) device = Value::object();
  if (!device.is_object()) return;
  for (std::string_view name : {"function", "status_range", "status"}) {
    const Value* t = device.find(name);
    if (!t || !t->is_object()) device.obj_mut().insert_or_assign(name, Value::object());
  }
}

Value cond(const Value& condition, const Value& status) { return cond_at(condition, status, 0); }

void apply_quirk(Value& device, Value& dpmap, const Value& quirk) {
  // Held by value: the quirk may be a part of the device being changed.
  const Value ops = quirk["ops"];
  for (const Value& op : ops.arr()) {
    if (const Value* when = op.find("when")) {
      if (!truth(cond(*when, device["status"]))) continue;
    }
    patch_op(device, dpmap, op);
  }
}

void patch_op(Value& device, Value& dpmap, const Value& op_in) {
  const Value op = op_in;
  const Value& name = op["op"];
  if (!name.is_string()) return;
  std::string code(op["code"].str());
  std::string_view what = name.str();
  if (what == "DefineDp") {
    define_dp(device, dpmap, op, code);
  } else if (what == "RemoveDp") {
    remove_dp(device, dpmap, op, code);
  } else if (what == "SetCategory") {
    if (json::Object* d = writable(device)) d->insert_or_assign("category", op["category"]);
  } else if (what == "TypeOverride") {
    if (json::Object* t = table(device, "type_overrides")) t->insert_or_assign(code, op["as"]);
  }
}

void map_initial_status(Value& status, const Value& quirk) {
  const Value ops = quirk["ops"];
  for (const Value& op : ops.arr()) {
    const Value& name = op["op"];
    const Value& mapping = op["mapping"];
    if (!name.is_string() || name.str() != "MapInitialStatus" || !mapping.is_array() || mapping.size() == 0)
      continue;
    std::string_view code = op["code"].str();
    const Value current = member(status, code);
    for (const Value& pair : mapping.arr()) {
      if (!eq(current, pair[0])) continue;
      if (json::Object* s = writable(status)) s->insert_or_assign(code, pair[1]);
      break;
    }
  }
}

Value device_info(const Value& device, const Value& quirk, const Value& rules) {
  const Value& meta = quirk["meta"];
  if (truth(meta["manufacturer"]))
    return Value(json::Object{
        {"manufacturer", meta["manufacturer"]}, {"model", meta["model"]}, {"model_id", meta["model_id"]}});
  return Value(json::Object{{"manufacturer", rules["constants"]["manufacturer"]},
                            {"model", device["product_name"]},
                            {"model_id", device["product_id"]}});
}

Value identity(const Value& ident, const Value& defaults) {
  json::Object out;
  for (const json::Member& m : ident.obj())
    if (!m.name().starts_with('$')) out.push_unique(m.key, m.value);
  for (const json::Member& m : defaults.obj())
    if (!out.contains(m.name())) out.push_unique(m.key, m.value);
  return Value(std::move(out));
}

}  // namespace zefa::data
