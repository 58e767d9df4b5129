// The process-wide registries: installed rule packs by id, and live drivers
// by handle. Both are created on first use and live until the process ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

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
//
// The registry alone owns its packs. A pack that "remove_rules" takes out is
// released as soon as no open driver and no running lookup holds it,
// whichever threads looked it up before.

// An installed pack (null when none) borrowed by one lookup: it stays valid,
// even if its id is removed meanwhile, until the Borrowed is destroyed, which
// must happen on the thread that looked it up. Copy the PackRef to keep the
// pack longer. Move-only.
class Borrowed {
 public:
  Borrowed() noexcept = default;
  Borrowed(Borrowed&& o) noexcept
      : ref_(std::exchange(o.ref_, nullptr)), pin_(std::exchange(o.pin_, nullptr)), own_(std::move(o.own_)) {}
  Borrowed& operator=(Borrowed&& o) noexcept {
    if (this != &o) {
      if (pin_) unpin();
      ref_ = std::exchange(o.ref_, nullptr);
      pin_ = std::exchange(o.pin_, nullptr);
      own_ = std::move(o.own_);
    }
    return *this;
  }
  Borrowed(const Borrowed&) = delete;
  Borrowed& operator=(const Borrowed&) = delete;
  ~Borrowed() {
    if (pin_) unpin();
  }

  const PackRef& operator*() const noexcept { return ref_ ? *ref_ : own_; }

 private:
  friend Result<Borrowed> lookup(std::string_view id);
  Borrowed(const PackRef* ref, std::atomic<const PackRef*>* pin) noexcept : ref_(ref), pin_(pin) {}
  explicit Borrowed(PackRef own) noexcept : own_(std::move(own)) {}
  void unpin() noexcept;

  // Either a registry entry held by one of the thread's pins, or a reference
  // of its own when all the thread's pins are in use.
  const PackRef* ref_ = nullptr;
  std::atomic<const PackRef*>* pin_ = nullptr;
  PackRef own_;
};

// The installed pack for an id. A thread keeps its last few lookups with the
// registry state they were made in, owning nothing; a lookup that finds the
// registry unchanged since it last met the id takes no lock, allocates
// nothing and writes only to memory of its own thread.
Result<Borrowed> lookup(std::string_view id);
// The installed pack for an id as a new shared reference, or null.
Result<PackRef> installed(std::string_view id);

// Installs a pack value under an id. The value is validated, and its text
// written and hashed when a fingerprint comparison needs it, with no lock
// held; the registry is locked only to insert.
Result<json::Value> install(const json::Value& rules, std::string_view id);
// Removes an id; true when it was installed. The pack is released after
// the lock, here or, while lookups still borrow it, when the last of them
// ends.
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
