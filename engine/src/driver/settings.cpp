#include "driver/settings.hpp"

#include <unordered_set>

#include "rules/cover_settings.hpp"

namespace zefa::driver {

namespace {

Value cover_switch(const cover::Cover& c, std::string_view key, const Value& label) {
  json::Object d;
  // Settle is a delay, not a flag: a number the host can set from 0 up.
  const char* type = key == "state_source" ? "select" : key == "settle" ? "number" : "binary";
  d.push_unique(Value("type"), Value(type));
  d.push_unique(Value("category"), Value("config"));
  d.push_unique(Value("label"), label);
  if (key == "settle") d.push_unique(Value("min"), Value(0));
  if (!c.hazardous) d.push_unique(Value("rw"), Value(true));
  if (key == "state_source") {
    json::Array options;
    if (c.ins) options.emplace_back("control");
    options.emplace_back("inferred");
    options.emplace_back("none");
    d.push_unique(Value("options"), Value(std::move(options)));
  }
  if (c.group) d.push_unique(Value("group"), Value(*c.group));
  return Value(std::move(d));
}

}  // namespace

Switches config_switches(std::vector<cover::Cover>& covers, assembly::Assembly& assembly, bool has_delta,
                         std::span<const std::string> declarative, const Value& rules) {
  Switches out;
  const Value& wanted = rules["cover_switches"];
  json::Object& props = assembly.descriptor.obj_mut()["props"].obj_mut();
  const std::unordered_set<std::string_view> converter(declarative.begin(), declarative.end());
  for (size_t i = 0; i < covers.size(); ++i) {
    cover::Cover& c = covers[i];
    const bool motion_replaced = converter.count(c.prefix + "cover_state") > 0;
    for (const json::Member& m : wanted.obj()) {
      const std::string_view key = m.name();
      if (!c.applies(key)) continue;
      if (motion_replaced && (key == "invert_reported_motion" || key == "state_source")) continue;
      std::string name = c.prefix + "cover_" + std::string(key);
      if (props.contains(name)) continue;
      props.insert_or_assign(name, cover_switch(c, key, m.value));
      c.switches.emplace_back(key);
      out.push_unique(std::move(name), Setting{Setting::Cover{i, std::string(key)}});
    }
  }
  if (has_delta && !props.contains("delta_accept_passive")) {
    props.insert_or_assign("delta_accept_passive", Value(json::Object{{"type", Value("binary")},
                                                                      {"rw", Value(true)},
                                                                      {"category", Value("config")},
                                                                      {"label", Value("Count passive reports")}}));
    out.push_unique("delta_accept_passive", Setting{Setting::AcceptPassive{}});
  }
  return out;
}

Value Driver::settings_block() const {
  json::Object block;
  const DriverConfig& c = cfg();
  const Value& product = c.own_blocks.size() > 0 ? c.own_blocks[0] : Value();
  const Value& device = c.own_blocks.size() > 1 ? c.own_blocks[1] : Value();
  for (const cover::Cover& cv : covers) {
    rules::CoverSettings baseline = cv.defaults;
    const Value from_product = cover::own(product, cv.group);
    for (const json::Member& m : from_product.obj())
      rules::CoverSettings::set(baseline, m.name(), m.value);
    const Value base = baseline.serialize();
    const Value mine = cover::own(device, cv.group);
    json::Object diff;
    const Value current = cv.settings.serialize();
    for (const json::Member& m : current.obj())
      if (!(m.value == base[m.name()]) || mine.find(m.name())) diff.push_unique(m.key, m.value);
    if (diff.empty()) continue;
    Value& part = block["cover"];
    if (!part.is_object()) part = Value::object();
    if (cv.group) part.obj_mut().insert_or_assign(*cv.group, Value(std::move(diff)));
    else data::merge(part, Value(std::move(diff)));
  }
  if (delta) {
    const Value& own = product["delta"]["accept_passive"];
    const bool baseline = own.is_bool() && own.as_bool();
    if (delta->accept_passive != baseline || device["delta"].find("accept_passive"))
      block.insert_or_assign("delta", Value(json::Object{{"accept_passive", Value(delta->accept_passive)}}));
  }
  return Value(std::move(block));
}

}  // namespace zefa::driver
