#include "api/registry.hpp"

#include <array>
#include <atomic>
#include <exception>
#include <shared_mutex>

#include "testing.hpp"

namespace zefa::api {

namespace {

struct IdHash {
  using is_transparent = void;
  size_t operator()(std::string_view id) const noexcept { return json::hash_bytes(id, json::hash_seed()); }
};

// The installed packs. A change (install, remove) holds the mutex
// exclusively and adds 2 to `state` before letting it go; a lookup that
// misses its thread's cache holds it shared. The lowest bit of `state` is the
// broken mark, so a lookup that hits its cache reads only this one word,
// which is written only when the registry changes.
struct Packs {
  std::shared_mutex mutex;
  std::unordered_map<std::string, PackRef, IdHash, std::equal_to<>> by_id;
  std::atomic<uint64_t> state{0};
};

constexpr uint64_t kBroken = 1;

Packs& packs() {
  static Packs p;
  return p;
}

Failure<EngineError> poisoned() { return fail(ErrorKind::Rules, "rule registry poisoned"); }

Failure<EngineError> different_content() {
  return fail(ErrorKind::Rules, "rule id already registered with different content");
}

// Sets the broken mark when a fault passes out of the scope it guards.
class BreakOnFault {
 public:
  explicit BreakOnFault(Packs& p) : p_(p), entry_(std::uncaught_exceptions()) {}
  ~BreakOnFault() {
    if (std::uncaught_exceptions() > entry_) p_.state.fetch_or(kBroken, std::memory_order_release);
  }
  BreakOnFault(const BreakOnFault&) = delete;
  BreakOnFault& operator=(const BreakOnFault&) = delete;

 private:
  Packs& p_;
  int entry_;
};

// The packs of a thread's last few lookups, each with the registry state it
// was found in (negative answers too).
struct Cached {
  uint64_t state = kBroken;  // never a valid state: an empty slot
  std::string id;
  PackRef pack;
};
struct LookupCache {
  std::array<Cached, 4> slots;
  size_t next = 0;
};
thread_local LookupCache t_cache;

}  // namespace

Result<const PackRef*> lookup(std::string_view id) {
  Packs& p = packs();
  uint64_t state = p.state.load(std::memory_order_acquire);
  if (state & kBroken) return poisoned();
  {
    BreakOnFault guard(p);
    testing::fault_point("registry:lookup");
  }
  LookupCache& cache = t_cache;
  for (const Cached& c : cache.slots)
    if (c.state == state && c.id == id) return &c.pack;

  PackRef found;
  {
    std::shared_lock<std::shared_mutex> lock(p.mutex);
    state = p.state.load(std::memory_order_relaxed);
    if (state & kBroken) return poisoned();
    BreakOnFault guard(p);
    auto it = p.by_id.find(id);
    if (it != p.by_id.end()) found = it->second;
  }
  // The id's own slot when it is cached from an older state, else the
  // oldest; whatever the slot held is released here, after the lock.
  Cached* slot = nullptr;
  for (Cached& c : cache.slots)
    if (c.id == id) slot = &c;
  if (!slot) {
    slot = &cache.slots[cache.next];
    cache.next = (cache.next + 1) % cache.slots.size();
  }
  slot->state = state;
  slot->id.assign(id);
  slot->pack = std::move(found);
  return &slot->pack;
}

Result<PackRef> installed(std::string_view id) {
  ZEFA_TRY(const PackRef* ref, lookup(id));
  return *ref;
}

Result<json::Value> install(const json::Value& rules, std::string_view id) {
  // Under an installed id only the fingerprints are compared.
  ZEFA_TRY(PackRef existing, installed(id));
  if (existing) {
    if (runtime::fingerprint(rules) == existing->fingerprint()) return json::Value(true);
    return different_content();
  }
  // A new id: validation is the expensive part and runs with no lock held.
  ZEFA_TRY(auto pack, runtime::RulePack::make(rules));
  auto ref = std::make_shared<const runtime::RulePack>(std::move(pack));
  Packs& p = packs();
  {
    std::unique_lock<std::shared_mutex> lock(p.mutex);
    if (p.state.load(std::memory_order_relaxed) & kBroken) return poisoned();
    BreakOnFault guard(p);
    testing::fault_point("registry:install");
    auto [it, inserted] = p.by_id.try_emplace(std::string(id), ref);
    if (inserted) {
      p.state.fetch_add(2, std::memory_order_release);
      return json::Value(true);
    }
    existing = it->second;
  }
  // Installed meanwhile by another request: compare as above, unlocked.
  if (ref->fingerprint() == existing->fingerprint()) return json::Value(true);
  return different_content();
}

Result<json::Value> remove(std::string_view id) {
  Packs& p = packs();
  PackRef dropped;
  {
    std::unique_lock<std::shared_mutex> lock(p.mutex);
    if (p.state.load(std::memory_order_relaxed) & kBroken) return poisoned();
    BreakOnFault guard(p);
    auto it = p.by_id.find(id);
    if (it == p.by_id.end()) return json::Value(false);
    dropped = std::move(it->second);
    p.by_id.erase(it);
    p.state.fetch_add(2, std::memory_order_release);
  }
  return json::Value(true);
}

Result<Locked<Drivers>::Access> drivers() {
  static Locked<Drivers> d;
  return d.lock(ErrorKind::Request, "driver registry poisoned");
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
