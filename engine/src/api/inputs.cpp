// Inputs to drivers: "handle" on a stateless driver's document and "drive"
// on a live driver.
#include <cmath>
#include <limits>

#include "api/ops.hpp"
#include "driver/driver.hpp"
#include "driver/effects.hpp"
#include "protocol.hpp"
#include "record.hpp"
#include "runtime/driver.hpp"

namespace zefa::api::ops {

namespace {

// "now" as the driver sees it: a number as a float, anything else as not a
// number, which the driver refuses.
double now_of(const json::Value& req) {
  const json::Value& now = req["now"];
  return now.is_number() ? now.to_f64() : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace

Result<json::Value> handle(const Call& c) {
  ZEFA_TRY(driver::Driver d, record::decode<driver::Driver>(c.req, "driver"));
  ZEFA_CHECK(d.validate_state());
  if (d.rules_fingerprint != fingerprint(*c.rules))
    return fail(ErrorKind::Rules, "driver rules do not match the supplied rule pack");
  const double now = now_of(c.req);
  if (!std::isfinite(now)) return fail(ErrorKind::Request, "now must be a finite number supplied by the host");
  ZEFA_TRY(protocol::Input input, record::decode<protocol::Input>(c.req, "input"));
  ZEFA_TRY(driver::Outputs out, d.handle_inner(input, *c.rules->pack, 0, now));
  json::Object reply;
  reply.push_unique(json::Value("driver"), d.serialize());
  reply.push_unique(json::Value("outputs"), driver::outputs_json(out));
  return json::Value(std::move(reply));
}

Result<json::Value> drive(const Call& c) {
  ZEFA_TRY(auto live, lock(c.driver->driver));
  const double now = now_of(c.req);
  ZEFA_TRY(protocol::Input input, record::decode<protocol::Input>(c.req, "input"));
  ZEFA_TRY(driver::Outputs out, live->handle(input, now));
  json::Value reply = status(live->driver);
  reply.obj_mut().push_unique(json::Value("outputs"), driver::outputs_json(out));
  return reply;
}

}  // namespace zefa::api::ops
