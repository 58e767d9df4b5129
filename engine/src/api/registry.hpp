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

// A live driver: its own lock over the driver's state.
using LiveDriver = runtime::Driver;
using LiveRef = std::shared_ptr<Locked<LiveDriver>>;

struct Drivers {
  std::unordered_map<uint64_t, LiveRef> handles;
  uint64_t last = 0;  // handles are never reused
};

// Exclusive access to the driver registry, or "driver registry poisoned".
Result<Locked<Drivers>::Access> drivers();

// The rule-pack registry. Installing and removing change it one at a time;
// looking a pack up by id runs beside them and beside other lookups. A
// fault while a change or lookup is under way breaks the registry for good:
// every later lookup, install and remove fails with "rule registry
// poisoned".

// The installed pack for an id (null when none), borrowed: each thread keeps
// a reference to the packs of its last few lookups, and a lookup that finds
// the registry unchanged since it last met the id takes no lock, changes no
// shared count and allocates nothing. The pointer stays valid on the calling
// thread until its next lookup; copy the PackRef to keep the pack longer.
// A removed pack therefore lives on until each thread that used it looks up
// again, as it does in a request that is still running with it.
Result<const PackRef*> lookup(std::string_view id);
// The installed pack for an id as a new shared reference, or null.
Result<PackRef> installed(std::string_view id);

// Installs a pack value under an id. The value is validated, and its text
// written and hashed when a fingerprint comparison needs it, with no lock
// held; the registry is locked only to insert.
Result<json::Value> install(const json::Value& rules, std::string_view id);
// Removes an id; true when it was installed. The pack is released after
// the lock.
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
