// A live driver: a driver kept in memory under a handle, with the rule pack
// it was built from. The engine interface keeps each one behind its own lock
// (api/registry.hpp); nothing here locks.
#pragma once

#include <memory>

#include "driver/driver.hpp"
#include "error.hpp"
#include "json.hpp"
#include "runtime/options.hpp"
#include "runtime/rulepack.hpp"

namespace zefa::runtime {

// The options construction reads, from the host's driver options.
driver::BuildOptions build_options(const DriverOptions& options);

struct Driver {
  driver::Driver driver;                   // its fingerprint is the pack's
  std::shared_ptr<const RulePack> pack;    // handed to every input

  // Builds the driver from the pack's rules and records the pack's
  // fingerprint in it; construction errors are returned unchanged.
  static Result<Driver> make(const json::Value& device, std::shared_ptr<const RulePack> pack,
                             const DriverOptions& options);

  // The driver's state document.
  json::Value snapshot() const { return driver.serialize(); }

  // Handles one input on a copy of the driver, which replaces the driver
  // only when handling succeeds: a failed input leaves it exactly as it
  // was. Fails Request "now must be a finite number supplied by the host"
  // for a `now` that is not finite. The caller holds the driver's lock.
  Result<driver::Outputs> handle(const protocol::Input& input, double now);
};

}  // namespace zefa::runtime
