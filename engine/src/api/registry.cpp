#include "api/registry.hpp"

#include <array>
#include <atomic>
#include <exception>
#include <mutex>
#include <shared_mutex>
#include <utility>
#include <vector>

#include "testing.hpp"

namespace zefa::api {

namespace {

struct IdHash {
  using is_transparent = void;
  size_t operator()(std::string_view id) const noexcept { return json::hash_bytes(id, json::hash_seed()); }
};

// The pins of one thread: the registry entries its running lookups borrow.
// Only the owning thread sets a pin; a change reads them all before it
// releases a pack. Records are never freed: a thread that ends leaves its
// record to the next new thread, so their number is the most threads that
// ever looked packs up at once. One cache line each, apart from other threads.
struct alignas(64) Pins {
  std::array<std::atomic<const PackRef*>, 4> slots{};
  std::atomic<bool> taken{true};
  Pins* next = nullptr;  // fixed once the record is published
};

using PackMap = std::unordered_map<std::string, PackRef, IdHash, std::equal_to<>>;

// The installed packs. A change (install, remove) holds the mutex
// exclusively and adds 2 to `state` before letting it go; a lookup that
// misses its thread's cache holds it shared. The lowest bit of `state` is the
// broken mark, so a lookup that hits its cache reads only `state` and
// `retired_count`, which are written only when the registry changes.
//
// A removed entry keeps its node, and so the address a pin names, in
// `retired` until no pin names it.
struct Packs {
  std::shared_mutex mutex;
  PackMap by_id;
  std::atomic<Pins*> pins{nullptr};
  std::mutex retired_mutex;
  std::vector<PackMap::node_type> retired;
  alignas(64) std::atomic<uint64_t> state{0};
  std::atomic<size_t> retired_count{0};
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

Pins* take_pins(Packs& p) {
  for (Pins* r = p.pins.load(std::memory_order_acquire); r; r = r->next) {
    bool free = false;
    if (!r->taken.load(std::memory_order_relaxed) &&
        r->taken.compare_exchange_strong(free, true, std::memory_order_acquire))
      return r;
  }
  auto* r = new Pins;
  r->next = p.pins.load(std::memory_order_relaxed);
  while (!p.pins.compare_exchange_weak(r->next, r, std::memory_order_release, std::memory_order_relaxed)) {
  }
  return r;
}

bool pinned(const Packs& p, const PackRef* entry) {
  for (const Pins* r = p.pins.load(std::memory_order_acquire); r; r = r->next)
    for (const auto& pin : r->slots)
      if (pin.load(std::memory_order_seq_cst) == entry) return true;
  return false;
}

// Releases the retired entries that no pin names. The count is published
// before the pins are read, and a lookup clears its pin before it reads the
// count (all sequentially consistent), so of a lookup letting go and a sweep,
// at least one sees the other: the last holder always releases.
void sweep(Packs& p) {
  std::lock_guard<std::mutex> lock(p.retired_mutex);
  std::erase_if(p.retired, [&](const PackMap::node_type& n) { return !pinned(p, &n.mapped()); });
  p.retired_count.store(p.retired.size(), std::memory_order_seq_cst);
}

void retire(Packs& p, PackMap::node_type node) {
  {
    std::lock_guard<std::mutex> lock(p.retired_mutex);
    p.retired.push_back(std::move(node));
    p.retired_count.store(p.retired.size(), std::memory_order_seq_cst);
  }
  sweep(p);
}

// Clears a pin and releases what it alone kept.
void let_go(std::atomic<const PackRef*>& pin) noexcept {
  pin.store(nullptr, std::memory_order_seq_cst);
  Packs& p = packs();
  if (p.retired_count.load(std::memory_order_seq_cst) != 0) sweep(p);
}

// A thread's last few lookups, each with the registry state it was made in
// (negative answers too). An entry names the registry's own PackRef and
// owns nothing; it is used only while the state is unchanged, that is
// while the registry still holds the entry.
struct Cached {
  uint64_t state = kBroken;  // never a valid state: an empty slot
  std::string id;
  const PackRef* pack = nullptr;
};
struct LookupCache {
  std::array<Cached, 4> slots;
  size_t next = 0;
  Pins* pins = nullptr;

  LookupCache() = default;
  LookupCache(const LookupCache&) = delete;
  LookupCache& operator=(const LookupCache&) = delete;
  ~LookupCache() {
    if (pins) pins->taken.store(false, std::memory_order_release);
  }

  // A pin of this thread that holds nothing, or null when all are in use.
  std::atomic<const PackRef*>* free_pin() {
    if (!pins) pins = take_pins(packs());
    for (auto& pin : pins->slots)
      if (!pin.load(std::memory_order_relaxed)) return &pin;
    return nullptr;
  }
};
thread_local LookupCache t_cache;

}  // namespace

void Borrowed::unpin() noexcept {
  ref_ = nullptr;
  let_go(*std::exchange(pin_, nullptr));
}

Result<Borrowed> lookup(std::string_view id) {
  Packs& p = packs();
  uint64_t state = p.state.load(std::memory_order_seq_cst);
  if (state & kBroken) return poisoned();
  {
    BreakOnFault guard(p);
    testing::fault_point("registry:lookup");
  }
  LookupCache& cache = t_cache;
  for (const Cached& c : cache.slots) {
    if (c.state != state || c.id != id) continue;
    if (!c.pack) return Borrowed();
    // The pin holds the entry if the registry is still unchanged once the
    // pin is visible to changes; otherwise look again under the lock.
    if (auto* pin = cache.free_pin()) {
      pin->store(c.pack, std::memory_order_seq_cst);
      if (p.state.load(std::memory_order_seq_cst) == state) return Borrowed(c.pack, pin);
      let_go(*pin);
    }
    break;
  }

  Borrowed out;
  const PackRef* found = nullptr;
  {
    std::shared_lock<std::shared_mutex> lock(p.mutex);
    state = p.state.load(std::memory_order_relaxed);
    if (state & kBroken) return poisoned();
    BreakOnFault guard(p);
    auto it = p.by_id.find(id);
    if (it != p.by_id.end()) {
      found = &it->second;
      // Pinned under the lock, so no change can release the entry first.
      if (auto* pin = cache.free_pin()) {
        pin->store(found, std::memory_order_seq_cst);
        out = Borrowed(found, pin);
      } else {
        out = Borrowed(it->second);
      }
    }
  }
  // The id's own slot when it is cached from an older state, else the
  // oldest.
  Cached* slot = nullptr;
  for (Cached& c : cache.slots)
    if (c.id == id) slot = &c;
  if (!slot) {
    slot = &cache.slots[cache.next];
    cache.next = (cache.next + 1) % cache.slots.size();
  }
  slot->state = state;
  slot->id.assign(id);
  slot->pack = found;
  return out;
}

Result<PackRef> installed(std::string_view id) {
  ZEFA_TRY(Borrowed b, lookup(id));
  return *b;
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
      p.state.fetch_add(2, std::memory_order_seq_cst);
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
  PackMap::node_type dropped;
  {
    std::unique_lock<std::shared_mutex> lock(p.mutex);
    if (p.state.load(std::memory_order_relaxed) & kBroken) return poisoned();
    BreakOnFault guard(p);
    auto it = p.by_id.find(id);
    if (it == p.by_id.end()) return json::Value(false);
    dropped = p.by_id.extract(it);
    // Lookups that pin the entry after this see the state changed.
    p.state.fetch_add(2, std::memory_order_seq_cst);
  }
  retire(p, std::move(dropped));
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
