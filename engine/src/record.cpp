#include "record.hpp"

#include <charconv>
#include <cmath>

namespace zefa::record {

void quote(std::string_view s, std::string& out) {
  static const char kHex[] = "0123456789abcdef";
  auto code = [&](unsigned c) {
    out += "\\u{";
    if (c >= 16) out += kHex[c >> 4];
    out += kHex[c & 15];
    out += '}';
  };
  out += '"';
  for (size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      case '\0': out += "\\0"; continue;
      default: break;
    }
    if (c < 0x20 || c == 0x7f) {
      code(c);
    } else if (c == 0xc2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(s[i + 1]) <= 0x9f) {
      code(static_cast<unsigned char>(s[++i]));  // C1 control
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

namespace {

// `a`; `a` or `b`; one of `a`, `b`, `c`.
void list_names(const std::string_view* names, size_t count, std::string& out) {
  if (count == 2) {
    out.append("`").append(names[0]).append("` or `").append(names[1]).append("`");
    return;
  }
  if (count > 2) out += "one of ";
  for (size_t i = 0; i < count; ++i) {
    if (i) out += ", ";
    out.append("`").append(names[i]).append("`");
  }
}

std::string unknown(std::string_view what, std::string_view name, const std::string_view* names, size_t count) {
  std::string m = "unknown ";
  m.append(what).append(" `").append(name).append("`, ");
  if (count == 0) return m.append("there are no ").append(what).append("s");
  m += "expected ";
  list_names(names, count, m);
  return m;
}

std::string elements(size_t n, std::string_view tail) {
  std::string m = std::to_string(n);
  m.append(n == 1 ? " element" : " elements").append(tail);
  return m;
}

}  // namespace

std::string describe(const json::Value& v) {
  switch (v.type()) {
    case json::Type::Null: return "null";
    case json::Type::Bool: return v.as_bool() ? "boolean `true`" : "boolean `false`";
    case json::Type::Number: {
      std::string m;
      if (v.is_f64()) {
        m = "floating point `";
        std::string text;
        json::write_double(v.as_f64(), text);
        // Messages show exponents without a plus sign ("1e300").
        for (char c : text)
          if (c != '+') m += c;
      } else {
        m = "integer `";
        char buf[24];
        auto res = v.is_u64() ? std::to_chars(buf, buf + sizeof buf, v.as_u64())
                              : std::to_chars(buf, buf + sizeof buf, v.as_i64());
        m.append(buf, res.ptr);
      }
      return m += '`';
    }
    case json::Type::String: {
      std::string m = "string ";
      quote(v.str(), m);
      return m;
    }
    case json::Type::Array: return "sequence";
    case json::Type::Object: return "map";
  }
  return "map";
}

std::string missing_field(std::string_view field) { return std::string("missing field `").append(field) += '`'; }

std::string duplicate_field(std::string_view field) { return std::string("duplicate field `").append(field) += '`'; }

std::string unknown_field(std::string_view field, const std::string_view* names, size_t count) {
  return unknown("field", field, names, count);
}

std::string unknown_variant(std::string_view variant, const std::string_view* names, size_t count) {
  return unknown("variant", variant, names, count);
}

std::string invalid_type(const json::Value& found, std::string_view expected) {
  return std::string("invalid type: ").append(describe(found)).append(", expected ").append(expected);
}

std::string invalid_value(const json::Value& found, std::string_view expected) {
  return std::string("invalid value: ").append(describe(found)).append(", expected ").append(expected);
}

std::string invalid_length(size_t length, std::string_view expected) {
  return std::string("invalid length ").append(std::to_string(length)).append(", expected ").append(expected);
}

void PositionIndex::reset(size_t count) {
  size_t size = 32;
  while (size < 2 * count) size *= 2;
  slots_.assign(size, 0);
  mask_ = size - 1;
}

json::Value Codec<double>::write(double x) { return std::isfinite(x) ? json::Value(x) : json::Value(); }

namespace detail {

namespace {

size_t find_field(const RecordOps& ops, std::string_view key) {
  for (size_t i = 0; i < ops.count; ++i)
    if (!ops.fields[i].flat && ops.fields[i].name == key) return i;
  return ops.count;
}

std::string field_names_message(const RecordOps& ops, std::string_view key) {
  std::vector<std::string_view> names;
  for (size_t i = 0; i < ops.count; ++i)
    if (!ops.fields[i].flat) names.push_back(ops.fields[i].name);
  return unknown_field(key, names.data(), names.size());
}

bool match_name(const std::string_view* names, size_t count, std::string_view name, size_t& index, Reader& r) {
  for (size_t i = 0; i < count; ++i)
    if (names[i] == name) {
      index = i;
      return true;
    }
  return r.fail(unknown_variant(name, names, count));
}

// The name and payload of an externally tagged value: "name" (no payload) or
// {"name": payload}.
bool split_external(const std::string_view* names, size_t count, const json::Value& v, size_t& index,
                    const json::Value*& payload, Reader& r) {
  std::string_view name;
  payload = nullptr;
  if (v.is_string()) {
    name = v.str();
  } else if (v.is_object()) {
    if (v.size() != 1) return r.fail(invalid_value(v, "map with a single key"));
    const json::Member& m = v.obj().at(0);
    name = m.name();
    payload = &m.value;
  } else {
    return r.fail(invalid_type(v, "string or map"));
  }
  return match_name(names, count, name, index, r);
}

bool check_unit(const json::Value* payload, Reader& r) {
  if (!payload || payload->is_null()) return true;
  if ((r.content || r.unit_object) && payload->is_object() && payload->size() == 0) return true;
  return r.fail(invalid_type(*payload, "unit"));
}

// The variant named by an internal tag: its name, or inside held-back content
// also its number.
bool identify(const VariantOps& ops, const json::Value& v, size_t& index, Reader& r) {
  if (v.is_string()) return match_name(ops.names, ops.count, v.str(), index, r);
  if (r.content && v.is_u64()) {
    if (v.as_u64() < ops.count) {
      index = static_cast<size_t>(v.as_u64());
      return true;
    }
    return r.fail(invalid_value(v, "variant index 0 <= i < " + std::to_string(ops.count)));
  }
  return r.fail(invalid_type(v, "variant identifier"));
}

bool read_internal(const VariantOps& ops, const json::Value& v, void* out, Reader& r) {
  size_t index = 0;
  if (v.is_object()) {
    bool tagged = false;
    for (const json::Member& m : v.obj()) {
      if (m.name() != ops.tag) continue;
      if (tagged) return r.fail(duplicate_field(ops.tag));
      tagged = true;
      if (!identify(ops, m.value, index, r)) return false;
    }
    if (!tagged) return r.fail(missing_field(ops.tag));
    void* alt = ops.emplace(out, index);
    ContentScope held(r, true);
    return read_members(*ops.alts[index], v, alt, r, ops.tag, false);
  }
  if (v.is_array()) {
    const json::Array& a = v.arr();
    if (a.empty()) return r.fail(missing_field(ops.tag));
    if (!identify(ops, a[0], index, r)) return false;
    void* alt = ops.emplace(out, index);
    ContentScope held(r, true);
    return read_elements(*ops.alts[index], "struct variant", a.data() + 1, a.size() - 1, alt, r);
  }
  return r.fail(invalid_type(v, std::string("internally tagged enum ").append(ops.name)));
}

bool read_external(const VariantOps& ops, const json::Value& v, void* out, Reader& r) {
  size_t index = 0;
  const json::Value* payload = nullptr;
  if (!split_external(ops.names, ops.count, v, index, payload, r)) return false;
  const RecordOps& alt = *ops.alts[index];
  if (alt.unit) {
    if (!check_unit(payload, r)) return false;
    ops.emplace(out, index);
    return true;
  }
  if (!payload) return r.fail("invalid type: unit variant, expected struct variant");
  if (!payload->is_object() && !payload->is_array()) return r.fail(invalid_type(*payload, "struct variant"));
  void* data = ops.emplace(out, index);
  // A struct variant's array form reports surplus elements like a top-level
  // array, wherever the variant stands.
  ContentScope direct(r, false);
  return read_record(alt, "struct variant", *payload, data, r);
}

}  // namespace

bool read_record(const RecordOps& ops, std::string_view kind, const json::Value& v, void* out, Reader& r) {
  if (ops.object_form && v.is_object()) return read_members(ops, v, out, r, {}, false);
  if (ops.array_form && v.is_array()) return read_elements(ops, kind, v.arr().data(), v.size(), out, r);
  return r.fail(invalid_type(v, std::string(kind).append(" ").append(ops.name)));
}

bool read_members(const RecordOps& ops, const json::Value& object, void* out, Reader& r, std::string_view skip,
                  bool flat) {
  uint64_t seen = 0;
  for (const json::Member& m : object.obj()) {
    std::string_view key = m.name();
    size_t i = find_field(ops, key);
    if (i == ops.count) {
      if (ops.deny_unknown && !flat && key != skip) return r.fail(field_names_message(ops, key));
      continue;
    }
    uint64_t bit = uint64_t{1} << i;
    if (seen & bit) return r.fail(duplicate_field(key));
    seen |= bit;
    if (!ops.fields[i].read(m.value, out, r)) return false;
  }
  for (size_t i = 0; i < ops.count; ++i) {
    const FieldOps& f = ops.fields[i];
    if (f.flat || (seen >> i & 1)) continue;
    if (!f.fill) return r.fail(missing_field(f.name));
    f.fill(out);
  }
  // Flattened records take their members once this record's own are settled.
  for (size_t i = 0; i < ops.count; ++i)
    if (ops.fields[i].flat && !ops.fields[i].read(object, out, r)) return false;
  return true;
}

bool read_elements(const RecordOps& ops, std::string_view kind, const json::Value* elems, size_t n, void* out,
                   Reader& r) {
  for (size_t i = 0; i < ops.count; ++i) {
    const FieldOps& f = ops.fields[i];
    if (i < n) {
      if (!f.read(elems[i], out, r)) return false;
    } else if (f.fill && f.array_default) {
      f.fill(out);
    } else {
      std::string what(kind);
      what.append(" ").append(ops.name).append(" with ").append(elements(ops.count, ""));
      return r.fail(invalid_length(i, what));
    }
  }
  if (n > ops.count)
    return r.fail(invalid_length(n, r.content ? elements(ops.count, " in sequence") : "fewer elements in array"));
  return true;
}

void write_members(const RecordOps& ops, const void* in, json::Object& out) {
  for (size_t i = 0; i < ops.count; ++i) ops.fields[i].write(in, out);
}

json::Value write_record(const RecordOps& ops, const void* in) {
  if (!ops.object_form) {
    json::Array a;
    a.reserve(ops.count);
    for (size_t i = 0; i < ops.count; ++i) a.push_back(ops.fields[i].value(in));
    return json::Value(std::move(a));
  }
  json::Object o;
  o.reserve(ops.count);
  write_members(ops, in, o);
  return json::Value(std::move(o));
}

void fill_defaults(const RecordOps& ops, void* out) {
  for (size_t i = 0; i < ops.count; ++i)
    if (ops.fields[i].fill) ops.fields[i].fill(out);
}

bool read_variant(const VariantOps& ops, const json::Value& v, void* out, Reader& r) {
  return ops.tag.empty() ? read_external(ops, v, out, r) : read_internal(ops, v, out, r);
}

json::Value write_variant(const VariantOps& ops, const void* in) {
  size_t i = ops.index(in);
  const RecordOps& alt = *ops.alts[i];
  const void* data = ops.get(in, i);
  if (!ops.tag.empty()) {
    json::Object o;
    o.reserve(alt.count + 1);
    o.push_unique(json::Value(ops.tag), json::Value(ops.names[i]));
    write_members(alt, data, o);
    return json::Value(std::move(o));
  }
  if (alt.unit) return json::Value(ops.names[i]);
  json::Object o;
  o.push_unique(json::Value(ops.names[i]), write_record(alt, data));
  return json::Value(std::move(o));
}

bool read_enum(const std::string_view* names, size_t count, const json::Value& v, size_t& index, Reader& r) {
  const json::Value* payload = nullptr;
  return split_external(names, count, v, index, payload, r) && check_unit(payload, r);
}

}  // namespace detail

}  // namespace zefa::record
