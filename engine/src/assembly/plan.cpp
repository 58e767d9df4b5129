#include "assembly/plan.hpp"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "assembly/entity.hpp"
#include "data/data.hpp"

namespace zefa::assembly {

Result<Value> Plan::cmd(std::string_view role, const Value& value) const {
  const data::Role* r = roles.find(role);
  if (!r) return fail(ErrorKind::Unsupported, std::string(role) + " not available");
  Result<Value, std::string> written = r->write(value);
  if (!written.ok()) return fail(ErrorKind::Value, std::move(written).error());
  json::Object out;
  out.push_unique(Value("code"), Value(r->code));
  out.push_unique(Value("value"), std::move(written).value());
  return Value(std::move(out));
}

bool Plan::affected(std::span<const std::string> changed) const {
  if (update_all) return true;
  if (depends_on.size() * changed.size() <= 64) {
    for (const std::string& code : depends_on)
      if (std::ranges::find(changed, code) != changed.end()) return true;
    return false;
  }
  // Both lists come from outside: long ones meet through a set.
  return affected(std::unordered_set<std::string_view>(changed.begin(), changed.end()));
}

bool Plan::affected(const std::unordered_set<std::string_view>& changed) const {
  if (update_all) return true;
  return std::ranges::any_of(depends_on, [&](const std::string& code) { return changed.contains(code); });
}

Result<std::optional<Value>> Plan::event(const Value& status, std::span<const std::string> changed,
                                         const Value& rules) const {
  if (depends_on.empty() || std::ranges::find(changed, depends_on.front()) == changed.end())
    return std::optional<Value>();
  Result<Value, std::string> st = entity::state(*this, status, rules, 0.0);
  if (!st.ok()) return fail(ErrorKind::Engine, std::move(st).error());
  const Value& ev = st.value()["event"];
  if (!data::truth(ev)) return std::optional<Value>();
  return std::optional<Value>(ev);
}

namespace plan {

bool accumulate(double& total, Value& last_ts, const Value& value, const Value& ts, bool enabled) {
  if (!enabled || ts.is_null() || value.is_null()) return false;
  if (ts == last_ts) return false;
  const double x = data::n(value);
  const double sum = total + x;
  if (!std::isfinite(x) || !std::isfinite(sum)) return false;
  total = sum;
  last_ts = ts;
  return true;
}

}  // namespace plan

}  // namespace zefa::assembly
