#include "api/registry.hpp"

#include "testing.hpp"

namespace zefa::api {

namespace {

Locked<Packs>& packs() {
  static Locked<Packs> p;
  return p;
}

Locked<Drivers>& driver_map() {
  static Locked<Drivers> d;
  return d;
}

Failure<EngineError> different_content() {
  return fail(ErrorKind::Rules, "rule id already registered with different content");
}

}  // namespace

Result<Locked<Packs>::Access> registry() { return packs().lock(ErrorKind::Rules, "rule registry poisoned"); }

Result<Locked<Drivers>::Access> drivers() {
  return driver_map().lock(ErrorKind::Request, "driver registry poisoned");
}

Result<PackRef> installed(std::string_view id) {
  ZEFA_TRY(auto reg, registry());
  testing::fault_point("registry:lookup");
  auto it = reg->find(std::string(id));
  return it == reg->end() ? PackRef() : it->second;
}

Result<json::Value> install(const json::Value& rules, std::string_view id) {
  std::string key(id);
  {
    ZEFA_TRY(auto reg, registry());
    testing::fault_point("registry:install");
    auto it = reg->find(key);
    if (it != reg->end()) {
      if (runtime::fingerprint(rules) == it->second->fingerprint) return json::Value(true);
      return different_content();
    }
  }
  // Validation is the expensive part: it runs with no lock held.
  ZEFA_TRY(auto pack, runtime::RulePack::make(rules));
  auto ref = std::make_shared<const runtime::RulePack>(std::move(pack));
  ZEFA_TRY(auto reg, registry());
  auto [it, inserted] = reg->try_emplace(std::move(key), ref);
  if (!inserted && it->second->fingerprint != ref->fingerprint) return different_content();
  return json::Value(true);
}

Result<json::Value> remove(std::string_view id) {
  ZEFA_TRY(auto reg, registry());
  return json::Value(reg->erase(std::string(id)) == 1);
}

Result<uint64_t> register_driver(runtime::Driver d) {
  auto live = std::make_shared<Locked<LiveDriver>>(std::move(d));
  ZEFA_TRY(auto reg, drivers());
  const uint64_t handle = reg->last + 1;
  reg->handles.emplace(handle, std::move(live));
  reg->last = handle;
  return handle;
}

Result<Locked<LiveDriver>::Access> lock(const LiveRef& live) { return live->lock(ErrorKind::Request, "driver poisoned"); }

json::Value status(const driver::Driver& d) {
  return json::Value(json::Object{{"linked", json::Value(d.linked)},
                                  {"synced", json::Value(d.synced)},
                                  {"timers", record::write(d.timers)}});
}

Result<Opened> opened(const json::Value& req, std::string_view name) {
  const json::Value& h = req[name];
  if (!h.is_u64()) return fail(ErrorKind::Request, std::string(name) + " must be a driver handle");
  uint64_t handle = h.as_u64();
  ZEFA_TRY(auto reg, drivers());
  auto it = reg->handles.find(handle);
  if (it == reg->handles.end())
    return fail(ErrorKind::Request, std::string(name) + ": no open driver " + std::to_string(handle));
  return Opened{handle, it->second};
}

}  // namespace zefa::api
