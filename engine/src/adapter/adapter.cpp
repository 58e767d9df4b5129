#include "adapter/adapter.hpp"

#include <optional>
#include <utility>

#include "data/codecs.hpp"
#include "adapter/strategies.hpp"
#include "data/data.hpp"
#include "data/value_index.hpp"
#include "protocol.hpp"

namespace zefa::adapter {

using namespace data;  // the value codecs are this module's vocabulary

namespace {

// The kind of a description entry by its "type" word; a missing or
// non-string type reads as the empty word, which names no kind.
std::optional<protocol::DpKind> kind_of(const Value& entry) { return protocol::DpKind::parse(entry["type"].str()); }

// remaps[code] for writing, with both levels made objects when null or
// missing; nullptr when a carried document holds another type there.
json::Object* remap_slot(Value& remaps, std::string_view code) {
  if (remaps.is_null()) remaps = Value::object();
  if (!remaps.is_object()) return nullptr;
  if (const Value* cur = remaps.find(code); cur && !cur->is_null() && !cur->is_object()) return nullptr;
  json::Object& all = remaps.obj_mut();
  Value* slot = all.find(code);
  if (!slot) slot = &all.insert_or_assign(code, Value::object());
  if (slot->is_null()) *slot = Value::object();
  return &slot->obj_mut();
}

// `value` turned over by one code's remaps entry (see Adapter::flip).
Value flip_with(const Value& remap, const Value& value) {
  if (!data::truth(remap["invert"])) return value;
  if (value.is_bool()) return Value(!value.as_bool());
  if (!value.is_number()) return value;
  const Value& bounds = remap["bounds"];
  if (!bounds.is_array()) return value;
  // Mirrored within [lo, hi]; the sum first, all in doubles.
  double lo = data::n(bounds[0]);
  double hi = data::n(bounds[1]);
  return data::number((lo + hi) - value.to_f64());
}

// Whether the pack's "strategies" list a name. Read once per adapter for
// every item of a description: long lists are indexed, short ones scanned.
class Listed {
 public:
  explicit Listed(const Value& strategies) : list_(strategies.arr()) {
    if (list_.size() <= kScan) return;
    for (const Value& s : list_)
      if (s.is_string() && !names_.contains(s.str())) names_.push_unique(s.str(), true);
  }
  bool operator()(std::string_view name) const {
    if (list_.size() > kScan) return names_.contains(name);
    for (const Value& s : list_)
      if (s.is_string() && s.str() == name) return true;
    return false;
  }

 private:
  static constexpr size_t kScan = 16;
  const json::Array& list_;
  record::OrderedMap<std::string_view, bool> names_;
};

// Lookups by value in the lists that one read or write meets (Enum ranges,
// alias tables): a list met again and again, as by every datapoint of one
// code, is indexed once, on first use; short lists are scanned.
class ByValue {
 public:
  static constexpr size_t npos = data::ValueIndex::npos;

  // Position of the first item (array) or member value (object) equal to v.
  template <class List>
  size_t first(const List& list, const Value& v) {
    if (list.size() <= kScan) return scan(list, v);
    const data::ValueIndex* index = indexed_.find(static_cast<const void*>(&list));
    if (!index) index = &indexed_.push_unique(&list, data::ValueIndex(list));
    return index->first(v);
  }

 private:
  static constexpr size_t kScan = 16;
  static size_t scan(const json::Array& items, const Value& v) {
    for (size_t i = 0; i < items.size(); ++i)
      if (items[i] == v) return i;
    return npos;
  }
  static size_t scan(const json::Object& members, const Value& v) {
    for (size_t i = 0; i < members.size(); ++i)
      if (members.at(i).value == v) return i;
    return npos;
  }

  record::OrderedMap<const void*, data::ValueIndex> indexed_;
};

}  // namespace

Adapter Adapter::make(const Value& device, const Value& dpmap, const Value& rules) {
  Adapter a;
  json::Object unsupported;
  const Listed listed(rules["strategies"]);
  // Ids come from one object's members, so they are distinct: appended
  // without lookups.
  const json::Object& items = device["local_strategy"].obj();
  a.entries.reserve(items.size() + dpmap.size());
  for (const json::Member& m : items) {
    std::string code = strategy_code(m.value);
    if (code.empty()) continue;
    const Value& convert = m.value["value_convert"];
    std::string_view name = !data::truth(convert) ? "default" : convert.is_string() ? convert.str() : "";
    const Value& config = m.value["config_item"];
    if (listed(name)) {
      a.entries.push_unique(std::string(m.name()), DpEntry(code, name, config));
    } else {
      unsupported.push_unique(m.key, Value(name));
      a.entries.push_unique(std::string(m.name()), DpEntry(code, "default", config));
    }
  }
  for (const json::Member& m : dpmap.obj())
    if (!a.entries.find(m.name()))
      a.entries.push_unique(std::string(m.name()), DpEntry(m.value.str(), "default", Value::object()));

  json::Object ranges;
  for (const json::Member& m : device["status_range"].obj())
    if (kind_of(m.value) == protocol::DpKind::Enum)
      ranges.push_unique(m.key, data::parse(m.value["values"])["range"]);
  a.enum_ranges = Value(std::move(ranges));
  a.unsupported = Value(std::move(unsupported));
  return a;
}

Value Adapter::flip(std::string_view code, const Value& value) const { return flip_with(remaps[code], value); }

Value Adapter::read(const Value& dps, const Value& rules) const {
  json::Object out;
  out.reserve(dps.size());
  ByValue ranges;
  for (const json::Member& m : dps.obj()) {
    const DpEntry* entry = entries.find(m.name());
    if (!entry) continue;
    Result<Value, std::string> decoded = strategy_read(entry->strategy, m.value, entry->config, rules);
    if (!decoded.ok()) continue;
    Value r = std::move(decoded).value();
    const Value& remap = remaps[entry->code];
    if (r.is_string()) {
      if (const Value* shown = remap["alias"].find(r.str())) r = *shown;
    }
    r = flip_with(remap, r);
    if (const Value* range = enum_ranges.find(entry->code); range && ranges.first(range->arr(), r) == ByValue::npos)
      continue;
    out.insert_or_assign(entry->code, std::move(r));
  }
  return Value(std::move(out));
}

CodeIndex::CodeIndex(const Entries& entries) : entries_(entries) {
  if (entries.size() <= Entries::kIndexFrom) return;
  first_.reset(entries.size());
  const uint64_t seed = json::hash_seed();
  for (size_t i = 0; i < entries.size(); ++i) {
    std::string_view code = entries.at(i).second.code;
    const uint64_t h = json::hash_bytes(code, seed);
    // Only the first entry of a code is indexed, so a hit is the first one.
    if (first_.find(h, [&](size_t j) { return entries.at(j).second.code == code; }) == first_.npos) first_.put(h, i);
  }
}

const Entries::Entry* CodeIndex::find(std::string_view code) const {
  if (first_.empty()) {
    for (const Entries::Entry& e : entries_)
      if (e.second.code == code) return &e;
    return nullptr;
  }
  size_t at = first_.find(json::hash_bytes(code, json::hash_seed()),
                          [&](size_t j) { return entries_.at(j).second.code == code; });
  return at == first_.npos ? nullptr : &entries_.at(at);
}

Result<Value> Adapter::write(std::span<const Value> commands) const {
  if (commands.empty()) return fail(ErrorKind::Unsupported, "no dp for command");
  return write(commands, CodeIndex(entries));
}

Result<Value> Adapter::write(std::span<const Value> commands, const CodeIndex& by_code) const {
  if (commands.empty()) return fail(ErrorKind::Unsupported, "no dp for command");
  ByValue aliases;
  json::Object out;
  for (const Value& command : commands) {
    std::string_view code = command["code"].str();
    const Entries::Entry* hit = by_code.find(code);
    if (!hit) return fail(ErrorKind::Unsupported, "no dp for " + std::string(code));
    Value v = flip(code, command["value"]);
    // The first word of the alias table showing this value is written.
    const json::Object& words = remaps[code]["alias"].obj();
    if (size_t at = aliases.first(words, v); at != ByValue::npos) v = words.at(at).key;
    ZEFA_TRY(Value raw, strategy_write(hit->second.strategy, v, hit->second.config));
    out.insert_or_assign(hit->first, std::move(raw));
  }
  return Value(std::move(out));
}

void Adapter::set_bounds(std::string_view code, const Value& device) {
  std::string_view section = device["status_range"].find(code) ? "status_range" : "function";
  const Value& entry = device[section][code];
  if (kind_of(entry) != protocol::DpKind::Integer) return;
  Value values = data::parse(entry["values"]);
  if (json::Object* slot = remap_slot(remaps, code))
    slot->insert_or_assign("bounds", Value(json::Array{values["min"], values["max"]}));
}

void Adapter::invert(std::string_view code, const Value& device) {
  json::Object* slot = remap_slot(remaps, code);
  if (!slot) return;
  const Value* mark = slot->find("invert");
  slot->insert_or_assign("invert", Value(!(mark && data::truth(*mark))));
  set_bounds(code, device);
}

}  // namespace zefa::adapter
