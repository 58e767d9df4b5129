// The process-wide registries: installed rule packs by id, and live drivers
// by handle. Both are created on first use and live until the process ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "api/locked.hpp"
#include "runtime/driver.hpp"
#include "runtime/rulepack.hpp"

namespace zefa::api {

using PackRef = std::shared_ptr<const runtime::RulePack>;
using Packs = std::unordered_map<std::string, PackRef>;

// A live driver: its own lock over the driver's state.
using LiveDriver = runtime::Driver;
using LiveRef = std::shared_ptr<Locked<LiveDriver>>;

struct Drivers {
  std::unordered_map<uint64_t, LiveRef> handles;
  uint64_t last = 0;  // handles are never reused
};

// Exclusive access to the rule-pack registry, or "rule registry poisoned".
Result<Locked<Packs>::Access> registry();
// Exclusive access to the driver registry, or "driver registry poisoned".
Result<Locked<Drivers>::Access> drivers();

// The installed pack for an id (a new shared reference), or null.
Result<PackRef> installed(std::string_view id);

// Installs a pack value under an id: validation runs outside the lock and
// the fingerprints are compared again under it.
Result<json::Value> install(const json::Value& rules, std::string_view id);
// Removes an id; true when it was installed.
Result<json::Value> remove(std::string_view id);

// Registers a built driver under the next handle and returns the handle.
Result<uint64_t> register_driver(runtime::Driver d);

// Exclusive access to a live driver, or "driver poisoned".
Result<Locked<LiveDriver>::Access> lock(const LiveRef& live);

// {"linked", "synced", "timers"} of a driver, for live replies.
json::Value status(const driver::Driver& d);

struct Opened {
  uint64_t handle;
  LiveRef driver;
};
// Looks a live driver up by the handle in request member `name`.
Result<Opened> opened(const json::Value& req, std::string_view name);

}  // namespace zefa::api
