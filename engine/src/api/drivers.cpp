// Driver operations: building drivers ("create", "open"), the stateless
// document operations ("carry", "settings") and the live ones that read or
// carry a driver under its handle ("view", "snapshot", "carry_handle").
#include "api/ops.hpp"
#include "api/registry.hpp"
#include "driver/driver.hpp"
#include "record.hpp"
#include "runtime/driver.hpp"
#include "runtime/options.hpp"

namespace zefa::api::ops {

namespace {

Result<runtime::DriverOptions> options_of(const json::Value& req) {
  if (req["options"].is_null()) return runtime::DriverOptions::make_default();
  return record::decode<runtime::DriverOptions>(req, "options");
}

Result<driver::Driver> checked_driver(const json::Value& req) {
  ZEFA_TRY(driver::Driver d, record::decode<driver::Driver>(req, "driver"));
  ZEFA_CHECK(d.validate_state());
  return d;
}

}  // namespace

Result<json::Value> create(const Call& c) {
  ZEFA_TRY(runtime::DriverOptions options, options_of(c.req));
  ZEFA_TRY(driver::Driver d, driver::Driver::make(c.req["device"], runtime::build_options(options), *c.rules->pack));
  d.rules_fingerprint = fingerprint(*c.rules);
  return json::Value(json::Object{{"driver", d.serialize()}});
}

Result<json::Value> open(const Call& c) {
  ZEFA_TRY(runtime::DriverOptions options, options_of(c.req));
  PackRef pack = *c.rules->installed;
  if (!pack) {
    // An inline pack, validated when it was resolved, gets a pack record of
    // its own, which no registry holds.
    pack = std::make_shared<const runtime::RulePack>(runtime::RulePack::of_validated(*c.rules->pack));
  }
  // Built before any registry lock is taken; a failure uses up no handle.
  ZEFA_TRY(runtime::Driver live, runtime::Driver::make(c.req["device"], std::move(pack), options));
  ZEFA_TRY(uint64_t handle, register_driver(std::move(live)));
  return json::Value(json::Object{{"handle", json::Value(handle)}});
}

Result<json::Value> carry(const Call& c) {
  ZEFA_TRY(driver::Driver d, checked_driver(c.req));
  ZEFA_TRY(driver::Driver old, record::decode<driver::Driver>(c.req, "old"));
  d.carry(old);
  return json::Value(json::Object{{"driver", d.serialize()}});
}

Result<json::Value> settings(const Call& c) {
  ZEFA_TRY(driver::Driver d, checked_driver(c.req));
  return d.settings_block();
}

Result<json::Value> view(const Call& c) {
  ZEFA_TRY(auto live, lock(c.driver->driver));
  json::Value out = status(live->driver);
  json::Object& o = out.obj_mut();
  o.push_unique(json::Value("descriptor"), live->driver.assembly.descriptor);
  o.push_unique(json::Value("dps"), live->driver.dps.value);
  return out;
}

Result<json::Value> snapshot(const Call& c) {
  ZEFA_TRY(auto live, lock(c.driver->driver));
  return live->snapshot();
}

Result<json::Value> carry_handle(const Call& c) {
  ZEFA_TRY(Opened old, opened(c.req, "old"));
  if (old.handle == c.driver->handle) return json::Value(true);
  // Never two driver locks at once: the old driver is copied and let go
  // before the target is locked.
  driver::Driver copy;
  {
    ZEFA_TRY(auto from, lock(old.driver));
    copy = from->driver;
  }
  ZEFA_TRY(auto to, lock(c.driver->driver));
  to->driver.carry(copy);
  return json::Value(true);
}

}  // namespace zefa::api::ops
