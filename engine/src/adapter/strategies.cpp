#include "adapter/strategies.hpp"

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "data/codecs.hpp"
#include "adapter/families.hpp"
#include "data/data.hpp"
#include "text.hpp"

namespace zefa::adapter {

using namespace data;  // the value codecs are this module's vocabulary

namespace family {
namespace {

ReadResult read_enum(const Value& raw, const Value& config, const Value&) {
  std::string buf;
  std::string_view key;
  if (raw.is_bool()) key = raw.as_bool() ? "True" : "False";
  else if (raw.is_string()) key = raw.str();
  else key = buf = raw.dump();
  const Value& map = config["enumMappingMap"];
  const Value* e = map.find(key);
  if (!e && map.is_object()) e = map.find(text::lower(key));
  if (e)
    if (const Value* v = e->find("value")) return *v;
  return default_value(config);
}

bool all_digits(std::string_view s) noexcept {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

Result<Value> write_enum(const Value& value, const Value& config) {
  const Value& map = config["enumMappingMap"];
  const json::Member* first = nullptr;
  static const Value kNull;
  for (const json::Member& m : map.obj()) {
    const Value* v = m.value.find("value");
    const Value& candidate = v ? *v : kNull;
    if (!(candidate == value)) continue;
    if (all_digits(m.name())) return m.key;
    if (!first) first = &m;
  }
  return first ? first->key : value;
}

ReadResult read_default(const Value& raw, const Value& config, const Value&) {
  if (raw.is_null() || (raw.is_string() && raw.str().empty())) return default_value(config);
  return raw;
}

Result<Value> write_default(const Value& value, const Value&) { return value; }

constexpr Strategy kGeneric[] = {
    {"enum", read_enum, write_enum, false, OnNull::Serve},
    {"default", read_default, write_default, false, OnNull::Serve},
};

}  // namespace

std::span<const Strategy> generic() { return kGeneric; }

}  // namespace family

namespace {

// Every family's strategies sorted by name, gathered once: a name is found
// by binary search rather than a scan of all tables per datapoint. Names are
// distinct across families; were one given twice, the first table's wins.
const family::Strategy* find(std::string_view name) noexcept {
  static const std::vector<const family::Strategy*> by_name = [] {
    std::vector<const family::Strategy*> all;
    for (auto table : {family::generic(), family::lighting(), family::metering(), family::records()})
      for (const family::Strategy& s : table) all.push_back(&s);
    std::stable_sort(all.begin(), all.end(), [](auto* a, auto* b) { return a->name < b->name; });
    return all;
  }();
  auto it = std::lower_bound(by_name.begin(), by_name.end(), name,
                             [](const family::Strategy* s, std::string_view n) { return s->name < n; });
  return it != by_name.end() && (*it)->name == name ? *it : nullptr;
}

}  // namespace

Result<Value, std::string> strategy_read(std::string_view name, const Value& raw, const Value& config,
                                         const Value& rules) {
  const family::Strategy* s = find(name);
  if (raw.is_null() && !(s && s->on_null == family::OnNull::Serve))
    return s && s->on_null == family::OnNull::Empty ? Value("") : Value();
  if (!s) return raw;
  return s->read(raw, config, rules);
}

Result<Value> strategy_write(std::string_view name, const Value& value, const Value& config) {
  const family::Strategy* s = find(name);
  if (!s || !s->write) return fail(ErrorKind::Unsupported, "this dp's value conversion has no inverse");
  if (s->write_parsed) return s->write(data::parse(value), config);
  return s->write(value, config);
}

}  // namespace zefa::adapter
