#include "driver/driver.hpp"

#include <array>

#include "assembly/entity.hpp"

namespace zefa::record {

bool Codec<driver::Setting>::read(const json::Value& v, driver::Setting& out, Reader& r) {
  // The unit alternative takes {} in place of null, as held-back content does.
  UnitObjectScope unit_form(r, true);
  return detail::read_variant(detail::variant_ops_v<driver::Setting>, v, &out, r);
}

json::Value Codec<driver::Setting>::write(const driver::Setting& x) {
  return detail::write_variant(detail::variant_ops_v<driver::Setting>, &x);
}

}  // namespace zefa::record

namespace zefa::driver {

namespace {

// Document members in order: six configuration members, then the state.
constexpr std::array<std::string_view, 6> kConfigKeys = {"device", "block", "plans",
                                                         "adapter", "switches", "own_blocks"};
constexpr std::array<std::string_view, 14> kStateKeys = {
    "assembly", "covers", "motions", "delta", "timers", "codes", "dps",
    "values", "described", "linked", "synced", "seq", "machines", "rules_fingerprint"};
constexpr size_t kDelta = 3;  // may be missing: none

template <class T>
bool read_into(const Value& v, T& out, record::Reader& r) {
  return record::Codec<T>::read(v, out, r);
}

// The kinds of the plans and of the binding sources (inside the assembly)
// take {} in place of null, one rule for both; the covers' and motions' own
// enumerations do not.
template <class T>
bool read_with_kinds(const Value& v, T& out, record::Reader& r) {
  record::UnitObjectScope kinds(r, true);
  return read_into(v, out, r);
}

bool read_state(size_t key, const Value& v, Driver& d, record::Reader& r) {
  switch (key) {
    case 0: return read_with_kinds(v, d.assembly, r);
    case 1: return read_into(v, d.covers, r);
    case 2: return read_into(v, d.motions, r);
    case 3: return read_into(v, d.delta, r);
    case 4: return read_into(v, d.timers, r);
    case 5: return read_into(v, d.codes, r);
    case 6: return read_into(v, d.dps, r);
    case 7: return read_into(v, d.values, r);
    case 8: return read_into(v, d.described, r);
    case 9: return read_into(v, d.linked, r);
    case 10: return read_into(v, d.synced, r);
    case 11: return read_into(v, d.seq, r);
    case 12: return read_into(v, d.machines, r);
    default: return read_into(v, d.rules_fingerprint, r);
  }
}

bool read_config(size_t key, const Value& v, DriverConfig& c, record::Reader& r) {
  switch (key) {
    case 0: c.device = v; return true;
    case 1: c.block = v; return true;
    case 2: return read_with_kinds(v, c.plans, r);
    case 3: return read_into(v, c.adapter, r);
    case 4: return read_into(v, c.switches, r);
    default: return read_into(v, c.own_blocks, r);
  }
}

template <size_t N>
size_t key_index(const std::array<std::string_view, N>& keys, std::string_view name) {
  for (size_t i = 0; i < N; ++i)
    if (keys[i] == name) return i;
  return N;
}

// The plan a binding reads through, in its own driver's plans; none for the
// driver's own sources and for an index out of range.
const assembly::Plan* plan_of(const assembly::Binding& b, const Driver& d) { return b.plan(d.cfg().plans); }

bool counts_delta(const assembly::Plan* p) { return p && p->slot_kind == protocol::SlotKind::Delta; }

}  // namespace

void DriverConfig::derive() {
  views.clear();
  views.reserve(plans.size());
  for (const assembly::Plan& plan : plans) views.push_back(assembly::entity::views(plan.roles));
}

Value Driver::serialize() const {
  const DriverConfig& c = cfg();
  json::Object o;
  o.reserve(kConfigKeys.size() + kStateKeys.size());
  auto put = [&o](std::string_view k, Value v) { o.push_unique(Value(k), std::move(v)); };
  put("device", c.device);
  put("block", c.block);
  put("plans", record::write(c.plans));
  put("adapter", record::write(c.adapter));
  put("switches", record::write(c.switches));
  put("own_blocks", record::write(c.own_blocks));
  put("assembly", record::write(assembly));
  put("covers", record::write(covers));
  put("motions", record::write(motions));
  put("delta", record::write(delta));
  put("timers", record::write(timers));
  put("codes", codes.value);
  put("dps", dps.value);
  put("values", values.value);
  put("described", Value(described));
  put("linked", Value(linked));
  put("synced", Value(synced));
  put("seq", Value(static_cast<long long>(seq)));
  put("machines", record::write(machines));
  put("rules_fingerprint", Value(rules_fingerprint));
  return Value(std::move(o));
}

Result<Driver, std::string> Driver::deserialize(const Value& v) {
  if (!v.is_object()) return fail(record::invalid_type(v, "struct Driver"));
  Driver d;
  auto config = std::make_shared<DriverConfig>();
  record::Reader r;
  std::array<bool, kStateKeys.size()> have_state{};
  std::array<const Value*, kConfigKeys.size()> held{};
  // Configuration members are read only after every state member is known
  // to be present, so a missing state member is the failure reported.
  for (const json::Member& m : v.obj()) {
    if (size_t k = key_index(kStateKeys, m.name()); k < kStateKeys.size()) {
      if (!read_state(k, m.value, d, r)) return fail(std::move(r.message()));
      have_state[k] = true;
    } else if (size_t c = key_index(kConfigKeys, m.name()); c < kConfigKeys.size()) {
      held[c] = &m.value;
    }
  }
  for (size_t k = 0; k < kStateKeys.size(); ++k)
    if (!have_state[k] && k != kDelta) return fail(record::missing_field(kStateKeys[k]));
  // In document order, as the members stood.
  for (const json::Member& m : v.obj()) {
    size_t c = key_index(kConfigKeys, m.name());
    if (c < kConfigKeys.size() && !read_config(c, m.value, *config, r)) return fail(std::move(r.message()));
  }
  for (size_t c = 0; c < kConfigKeys.size(); ++c)
    if (!held[c]) return fail(record::missing_field(kConfigKeys[c]));
  config->derive();
  d.config = std::move(config);
  return d;
}

Status<> Driver::validate_state() const {
  const Failure<EngineError> invalid = fail(ErrorKind::Request, "invalid driver state");
  const DriverConfig& c = cfg();
  if (!assembly.descriptor.is_object() || !assembly.descriptor["props"].is_object()) return invalid;
  if (c.own_blocks.size() != 2) return invalid;
  for (const auto& [name, b] : assembly.bindings) {
    const bool fits = std::visit(
        [&](const auto& s) {
          using S = std::decay_t<decltype(s)>;
          if constexpr (std::is_same_v<S, assembly::Source::Machine>) return s.index < machines.size();
          else if constexpr (std::is_same_v<S, assembly::Source::Motion>) return true;
          else return s.plan < c.plans.size();
        },
        b.source.v);
    if (!fits) return invalid;
  }
  for (const auto& [name, s] : c.switches) {
    if (const auto* cv = std::get_if<Setting::Cover>(&s.v)) {
      if (cv->cover >= covers.size()) return invalid;
    } else if (!delta) {
      return invalid;
    }
  }
  for (const cover::Cover& cv : covers)
    if (cv.plan >= c.plans.size()) return invalid;
  return ok_unit;
}

void Driver::carry(const Driver& old) {
  if (old.seq > seq) seq = old.seq;
  for (size_t i = 0; i < assembly.bindings.size(); ++i) {
    assembly::Binding& b = assembly.bindings.value_at(i);
    const assembly::Binding* from = old.assembly.bindings.find(assembly.bindings.at(i).first);
    if (!from) continue;
    const assembly::Plan* mine = plan_of(b, *this);
    const assembly::Plan* theirs = plan_of(*from, old);
    if (!counts_delta(mine) || !counts_delta(theirs) || mine->depends_on != theirs->depends_on) continue;
    b.total = from->total;
    b.last_ts = from->last_ts;
  }
}

}  // namespace zefa::driver
