#include "runtime/driver.hpp"

#include <cmath>

namespace zefa::runtime {

driver::BuildOptions build_options(const DriverOptions& o) {
  driver::BuildOptions b;
  if (o.env) b.env = o.env->serialize();
  b.use_quirks = o.use_quirks;
  b.dpmap = o.dpmap;
  b.allow_hazardous = o.allow_hazardous;
  b.expose_unused = o.expose_unused;
  b.overrides = o.overrides;
  b.device_settings = o.device_settings;
  return b;
}

Result<Driver> Driver::make(const json::Value& device, std::shared_ptr<const RulePack> pack,
                            const DriverOptions& options) {
  ZEFA_TRY(driver::Driver d, driver::Driver::make(device, build_options(options), pack->rules));
  d.rules_fingerprint = pack->fingerprint();
  return Driver{std::move(d), std::move(pack)};
}

}  // namespace zefa::runtime

namespace zefa::runtime {

Result<driver::Outputs> Driver::handle(const protocol::Input& input, double now) {
  if (!std::isfinite(now)) return fail(ErrorKind::Request, "now must be a finite number supplied by the host");
  driver::Driver work = driver;
  ZEFA_TRY(driver::Outputs out, work.handle_inner(input, pack->rules, 0, now));
  driver = std::move(work);
  return out;
}

}  // namespace zefa::runtime
